#include "fleet/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fleet {

std::optional<fs::path> home_dir() {
    if (const char* home = std::getenv("HOME")) return fs::path(home);
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return fs::path(found->pw_dir);
    return std::nullopt;
}

fs::path fleet_home() {
    if (const char* home = std::getenv("WENDLE_HOME"); home && *home) return fs::path(home);
    return home_dir().value_or(fs::path()) / ".wendle";
}

std::string expand_tilde(std::string_view text) {
    if (text == "~") {
        auto home = home_dir();
        return home ? home->string() : std::string(text);
    }
    if (text.starts_with("~/")) {
        auto home = home_dir();
        if (!home) return std::string(text);
        return (*home / fs::path(text.substr(2))).string();
    }
    return std::string(text);
}

Result<std::vector<std::string>> path_strings(const json& value, std::string_view key) {
    if (!value.is_array()) return std::unexpected(std::string(key) + " must be an array of paths");
    std::vector<std::string> paths;
    for (const auto& element : value) {
        if (!element.is_string()) return std::unexpected(std::string(key) + " must contain only path strings");
        std::string path = toolport::trim(element.get_ref<const std::string&>());
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

fs::path resolve_canonical(const fs::path& path) {
    fs::path result;
    for (const auto& part : path) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (result.has_relative_path()) result = result.parent_path();
            continue;
        }
        result /= part;
        if (part == "/") continue;
        std::error_code ec;
        auto canonical = fs::canonical(result, ec);
        if (!ec) result = std::move(canonical);
    }
    return result;
}

namespace {

struct CivilDate {
    std::int64_t year;
    unsigned month, day;
};

// Days since 1970-01-01 to a proleptic Gregorian date, on 400-year eras
// whose years begin in March, so that the leap day ends each year.
CivilDate civil_from_days(std::int64_t days) {
    days += 719468;  // from 1970-01-01 to 0000-03-01
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;                                          // [0, 146096]
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;  // [0, 399]
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);  // [0, 365]
    const std::int64_t march_month = (5 * day_of_year + 2) / 153;                                 // [0, 11]
    const auto day = static_cast<unsigned>(day_of_year - (153 * march_month + 2) / 5 + 1);
    const auto month = static_cast<unsigned>(march_month < 10 ? march_month + 3 : march_month - 9);
    return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

std::string format_rfc3339(std::int64_t seconds, std::uint32_t millis) {
    const std::int64_t days = floor_div(seconds, 86400);
    std::int64_t in_day = seconds % 86400;  // no multiplication: days * 86400 overflows near INT64_MIN
    if (in_day < 0) in_day += 86400;
    const CivilDate date = civil_from_days(days);
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02d:%02d:%02d.%03uZ", static_cast<long long>(date.year),
                  date.month, date.day, static_cast<int>(in_day / 3600), static_cast<int>(in_day / 60 % 60),
                  static_cast<int>(in_day % 60), millis);
    return buffer;
}

Now now() {
    using namespace std::chrono;
    // A clock before 1970 reads as the epoch, in the text as in the seconds.
    const auto nanos = std::max<std::int64_t>(duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count(), 0);
    const std::int64_t seconds = floor_div(nanos, 1'000'000'000);
    const auto millis = static_cast<std::uint32_t>((nanos - seconds * 1'000'000'000) / 1'000'000);
    const double real = static_cast<double>(nanos) / 1e9;
    return {format_rfc3339(seconds, millis), real};
}

std::string utf8_lossy(std::string_view bytes) {
    static constexpr std::string_view replacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = byte(i);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        // Length and the allowed range of the second byte (Unicode table 3-7).
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        // A bad sequence is replaced by one U+FFFD per maximal valid prefix.
        std::size_t good = length == 0 ? 0 : 1;
        while (good > 0 && good < length && i + good < bytes.size()) {
            const unsigned char next = byte(i + good);
            const bool ok = good == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
            if (!ok) break;
            ++good;
        }
        if (length != 0 && good == length) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            out.append(replacement);
            i += good == 0 ? 1 : good;
        }
    }
    return out;
}

}  // namespace fleet

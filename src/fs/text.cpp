#include "fs/text.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fsaccess {

namespace {

bool is_continuation(unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; }

enum class Scan { valid, malformed, cut_off };

// Checks the character starting at bytes[at] and reports its length. A
// sequence that is well-formed so far but runs past the end is cut_off.
Scan scan_char(std::string_view bytes, std::size_t at, std::size_t& length) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    unsigned char second_low = 0x80, second_high = 0xBF;
    if (lead < 0x80) {
        length = 1;
        return Scan::valid;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) second_low = 0xA0;   // no overlong forms
        if (lead == 0xED) second_high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) second_low = 0x90;   // no overlong forms
        if (lead == 0xF4) second_high = 0x8F;  // nothing above U+10FFFF
    } else {
        return Scan::malformed;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= bytes.size()) return Scan::cut_off;
        const auto byte = static_cast<unsigned char>(bytes[at + i]);
        const bool fits = i == 1 ? byte >= second_low && byte <= second_high : is_continuation(byte);
        if (!fits) return Scan::malformed;
    }
    return Scan::valid;
}

}  // namespace

std::optional<std::string_view> decode_text_window(std::string_view bytes, bool starts_after_beginning) {
    if (starts_after_beginning) {
        std::size_t skip = 0;
        while (skip < 3 && skip < bytes.size() && is_continuation(static_cast<unsigned char>(bytes[skip]))) ++skip;
        bytes.remove_prefix(skip);
    }
    constexpr std::uint64_t high_bits = 0x8080808080808080ULL;
    constexpr std::uint64_t low_bits = 0x0101010101010101ULL;
    std::size_t at = 0;
    while (at < bytes.size()) {
        // Runs of ASCII, eight bytes at a time: no high bit set, no zero byte.
        while (at + 8 <= bytes.size()) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + at, sizeof word);
            if ((word & high_bits) != 0) break;
            if (((word - low_bits) & ~word & high_bits) != 0) return std::nullopt;
            at += 8;
        }
        if (at == bytes.size()) break;
        if (bytes[at] == '\0') return std::nullopt;
        std::size_t length = 0;
        const Scan scan = scan_char(bytes, at, length);
        if (scan == Scan::malformed) return std::nullopt;
        if (scan == Scan::cut_off) break;
        at += length;
    }
    return bytes.substr(0, at);
}

}  // namespace fsaccess

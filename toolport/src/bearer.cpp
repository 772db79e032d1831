#include <toolport/toolport.hpp>

namespace toolport {

bool header_safe(std::string_view value) {
    for (unsigned char c : value) {
        if (c != '\t' && (c < 0x20 || c > 0x7E)) return false;
    }
    return true;
}

bool constant_time_eq(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char acc = 0;
    for (std::size_t i = 0; i < a.size(); ++i) acc |= static_cast<unsigned char>(a[i] ^ b[i]);
    return acc == 0;
}

bool check(std::optional<std::string_view> authorization, std::string_view token) {
    static constexpr std::string_view prefix = "Bearer ";
    if (!authorization || !header_safe(*authorization)) return false;
    if (!authorization->starts_with(prefix)) return false;
    return constant_time_eq(authorization->substr(prefix.size()), token);
}

}  // namespace toolport

#include "fs/secret.hpp"

#include <string>

namespace fsaccess {

bool is_secret_file(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    const std::string_view n = lower;
    if (n.starts_with(".env")) return true;
    for (std::string_view suffix : {".pem", ".key", ".p12", ".keystore"}) {
        if (n.ends_with(suffix)) return true;
    }
    return n.find("id_rsa") != std::string_view::npos ||
           n.find("id_ed25519") != std::string_view::npos;
}

}  // namespace fsaccess

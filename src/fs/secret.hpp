// The rule that marks a file name as holding secrets: such files are never
// served, whatever folder they sit in.
#pragma once

#include <string_view>

namespace fsaccess {

// True for secret-class names (the final path component): names beginning
// with ".env", ending in ".pem", ".key", ".p12" or ".keystore", or containing
// "id_rsa" or "id_ed25519". ASCII letters are compared without case.
bool is_secret_file(std::string_view name);

}  // namespace fsaccess

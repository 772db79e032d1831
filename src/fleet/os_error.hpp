// The operating system's text for an errno value, as every tool reports it.
#pragma once

#include <cstring>
#include <string>

namespace fleet {

inline std::string os_error_text(int error) { return std::strerror(error); }

}  // namespace fleet

// Turning a window of file bytes into text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fsaccess {

// The text of a window of file bytes, or nothing when they are not text.
// A window that starts after the file's first byte may begin inside a
// character: up to three leading continuation bytes are dropped. A character
// cut off by the window's end is left out. Malformed UTF-8 or a NUL byte
// means the bytes are not text. The text is a view into `bytes`.
std::optional<std::string_view> decode_text_window(std::string_view bytes, bool starts_after_beginning);

}  // namespace fsaccess

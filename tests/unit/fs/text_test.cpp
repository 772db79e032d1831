#include "fs/text.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using namespace std::string_literals;

struct DecodeCase {
    const char* label;
    std::string bytes;
    bool after_start;
    std::optional<std::string> text;
};

TEST(FsDecodeTextWindow, KeepsTextAndRefusesTheRest) {
    const DecodeCase cases[] = {
        {"empty window", "", false, ""},
        {"empty window past the start", "", true, ""},
        {"ascii", "hello\nworld", false, "hello\nworld"},
        {"multi-byte text", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", false, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        // windows that start inside a character
        {"start inside a two-byte character", "\xA9t\xC3\xA9", true, "t\xC3\xA9"},
        {"start inside a three-byte character", "\x82\xAC" "abc", true, "abc"},
        {"start at the last byte of a four-byte character", "\x80z", true, "z"},
        {"start inside a four-byte character", "\x9F\x98\x80z", true, "z"},
        {"four continuation bytes are too many", "\x80\x80\x80\x80z", true, std::nullopt},
        {"a continuation byte at the file's start", "\xA9t", false, std::nullopt},
        // windows that end inside a character
        {"end inside a two-byte character", "ab\xC3", false, "ab"},
        {"end inside a three-byte character", "ab\xE2\x82", false, "ab"},
        {"end after one byte of four", "ab\xF0", false, "ab"},
        {"end after three bytes of four", "ab\xF0\x9F\x98", false, "ab"},
        {"both ends cut", "\xA9mid\xE2\x82", true, "mid"},
        {"only a cut character", "\xE2\x82", false, ""},
        // a cut-off tail that could never have been valid
        {"overlong prefix at the end", "ab\xE0\x80", false, std::nullopt},
        {"surrogate prefix at the end", "ab\xED\xA0", false, std::nullopt},
        {"above U+10FFFF at the end", "ab\xF4\x90", false, std::nullopt},
        {"invalid lead byte at the end", "ab\xFF", false, std::nullopt},
        {"C1 lead byte at the end", "ab\xC1", false, std::nullopt},
        // malformed inside the window
        {"FF inside", "a\xFF" "b", false, std::nullopt},
        {"overlong slash", "a\xC0\xAF" "b", false, std::nullopt},
        {"missing continuation", "a\xC3(b", false, std::nullopt},
        {"encoded surrogate", "a\xED\xA0\x80" "b", false, std::nullopt},
        {"F5 lead", "\xF5\x80\x80\x80", false, std::nullopt},
        {"stray continuation in the middle", "ab\x80" "cd", true, std::nullopt},
        // NUL is never text
        {"NUL in the middle", "a\0b"s, false, std::nullopt},
        {"NUL alone", "\0"s, false, std::nullopt},
        {"NUL after dropped continuation bytes", "\x80\0"s, true, std::nullopt},
        {"NUL before a cut character", "a\0\xC3"s, false, std::nullopt},
        // long ASCII runs are checked a word at a time
        {"NUL deep in an ASCII run", "abcdefghijk\0mnopqrstuvwxyz"s, false, std::nullopt},
        {"NUL as the last byte of a run", "abcdefghijklmno\0"s, false, std::nullopt},
        {"DEL and controls are text", "abcdefgh\x7F\x01\t\r\nabcdefgh", false, "abcdefgh\x7F\x01\t\r\nabcdefgh"},
        {"a character after a run", "abcdefghijklmnop\xC3\xA9qrstuvwx", false, "abcdefghijklmnop\xC3\xA9qrstuvwx"},
        {"a cut character after a run", "abcdefghijklmnop\xE2\x82", false, "abcdefghijklmnop"},
        {"malformed after a run", "abcdefghijklmnop\xC3q", false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(fsaccess::decode_text_window(c.bytes, c.after_start), c.text);
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <toolport/toolport.hpp>

using toolport::json;
using toolport::ToolOutput;

TEST(Args, RequiredStrTable) {
    struct Case {
        json args;
        std::optional<std::string> want;  // none: the failure "key is required"
    };
    const Case cases[] = {
        {{{"key", "  word \t"}}, "word"},
        {{{"key", "\u00a0\u3000word\u2029"}}, "word"},
        {{{"key", "a b"}}, "a b"},
        {{{"key", "   "}}, std::nullopt},
        {{{"key", ""}}, std::nullopt},
        {{{"key", 7}}, std::nullopt},
        {{{"key", nullptr}}, std::nullopt},
        {{{"other", "x"}}, std::nullopt},
        {nullptr, std::nullopt},
        {json::array({"key"}), std::nullopt},
        {"key", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.dump());
        auto got = toolport::required_str(c.args, "key");
        if (c.want) {
            ASSERT_TRUE(got.has_value());
            EXPECT_EQ(*got, *c.want);
        } else {
            ASSERT_FALSE(got.has_value());
            EXPECT_EQ(got.error(), ToolOutput::failure("key is required"));
        }
    }
}

TEST(Args, LenientReaders) {
    const json args = {{"s", "text"},  {"i", -5},     {"big", 18446744073709551615ull}, {"f", 2.5},
                       {"t", true},    {"f0", false}, {"ts", "true"},                     {"one", 1},
                       {"max", 9223372036854775807ll}};
    EXPECT_EQ(toolport::str(args, "s"), "text");
    EXPECT_EQ(toolport::str(args, "i"), std::nullopt);
    EXPECT_EQ(toolport::int64(args, "i"), -5);
    EXPECT_EQ(toolport::int64(args, "max"), 9223372036854775807ll);
    EXPECT_EQ(toolport::int64(args, "big"), std::nullopt);
    EXPECT_EQ(toolport::uint64(args, "big"), 18446744073709551615ull);
    EXPECT_EQ(toolport::uint64(args, "one"), 1u);
    EXPECT_EQ(toolport::uint64(args, "i"), std::nullopt);
    EXPECT_EQ(toolport::uint64(args, "f"), std::nullopt);
    EXPECT_EQ(toolport::int64(args, "f"), std::nullopt);
    EXPECT_EQ(toolport::int64(args, "s"), std::nullopt);
    EXPECT_EQ(toolport::number(args, "f"), 2.5);
    EXPECT_EQ(toolport::number(args, "i"), -5.0);
    EXPECT_EQ(toolport::number(args, "s"), std::nullopt);
    EXPECT_TRUE(toolport::flag(args, "t"));
    for (const char* key : {"f0", "ts", "one", "missing"}) EXPECT_FALSE(toolport::flag(args, key)) << key;
    for (const json& not_object : {json(nullptr), json::array(), json(3)}) {
        EXPECT_EQ(toolport::str(not_object, "s"), std::nullopt);
        EXPECT_EQ(toolport::int64(not_object, "i"), std::nullopt);
        EXPECT_FALSE(toolport::flag(not_object, "t"));
    }
}

TEST(Args, PutIfSet) {
    json object = {{"kept", "old"}};
    toolport::put_if_set(object, "kept", "");
    toolport::put_if_set(object, "empty", "");
    EXPECT_EQ(object, json({{"kept", "old"}}));
    toolport::put_if_set(object, "new", "v");
    EXPECT_EQ(object, json({{"kept", "old"}, {"new", "v"}}));
}

TEST(Args, TrimKeepsInnerTextAndBrokenBytes) {
    EXPECT_EQ(toolport::trim(" \n a  b \r\n"), "a  b");
    EXPECT_EQ(toolport::trim(""), "");
    EXPECT_EQ(toolport::trim(" \xff "), "\xff");
    EXPECT_EQ(toolport::trim("\u00e9 "), "\u00e9");
}

TEST(Json, DumpSortsKeysAndReplacesInvalidUtf8) {
    json value = {{"b", 1}, {"a", std::string("x\xffy")}};
    EXPECT_EQ(toolport::dump(value), "{\"a\":\"x\xef\xbf\xbdy\",\"b\":1}");
}

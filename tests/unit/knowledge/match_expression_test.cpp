#include <gtest/gtest.h>

#include <string>

#include "knowledge/unicode_alnum.hpp"
#include "knowledge/vault.hpp"

namespace {

struct Case {
    const char* name;
    std::string query;
    std::string expression;
};

TEST(KnowledgeMatchExpression, EveryWordBecomesAQuotedPrefixPhrase) {
    const Case cases[] = {
        {"empty", "", ""},
        {"punctuation only", "  ,.;:!? -- ** \"\" () {} ^ + ", ""},
        {"one word", "vault", R"("vault"*)"},
        {"spaces collapse", "  fleet   ledger ", R"("fleet"* "ledger"*)"},
        {"plus and hyphen split", "x+y foo-bar", R"("x"* "y"* "foo"* "bar"*)"},
        {"underscore splits", "snake_case", R"("snake"* "case"*)"},
        {"quotes separate", R"("exact phrase" o"clock)", R"("exact"* "phrase"* "o"* "clock"*)"},
        {"unbalanced quote", R"("open)", R"("open"*)"},
        {"asterisk separates", "pre*fix*", R"("pre"* "fix"*)"},
        {"NEAR is a word", "NEAR(alpha beta, 3)", R"("NEAR"* "alpha"* "beta"* "3"*)"},
        {"OR and NOT are words", "alpha OR beta NOT gamma", R"("alpha"* "OR"* "beta"* "NOT"* "gamma"*)"},
        {"column filter is two words", "title:search", R"("title"* "search"*)"},
        {"column set is words", "{title body}: x", R"("title"* "body"* "x"*)"},
        {"initial token and minus", "^start -body", R"("start"* "body"*)"},
        {"sql text is only words", "'; DROP TABLE vault_fts; --", R"("DROP"* "TABLE"* "vault"* "fts"*)"},
        {"digits stay", "fts5 2026-01-01", R"("fts5"* "2026"* "01"* "01"*)"},
        {"accented letters", "Zürich café naïve", R"("Zürich"* "café"* "naïve"*)"},
        {"cyrillic", "Привет, мир", R"("Привет"* "мир"*)"},
        {"greek", "λόγος", R"("λόγος"*)"},
        {"han and kana run together", "日本語のテキスト", R"("日本語のテキスト"*)"},
        {"hangul", "한국어 검색", R"("한국어"* "검색"*)"},
        {"combining vowel sign is a letter", "हिंदी", R"("हिंदी"*)"},
        {"other digits", "٣٤ x²", R"("٣٤"* "x²"*)"},
        {"em dash separates", "left—right", R"("left"* "right"*)"},
        {"no-break space separates", "a\u00A0b", R"("a"* "b"*)"},
        {"ideographic space and comma", "検索\u3000語、句", R"("検索"* "語"* "句"*)"},
        {"emoji separates", "ship🚀it", R"("ship"* "it"*)"},
        {"symbols separate", "a©b€c", R"("a"* "b"* "c"*)"},
        {"invalid utf-8 separates", "ab\xFF" "cd\xC3", R"("ab"* "cd"*)"},
        {"overlong encoding separates", "a\xC0\xAF" "b", R"("a"* "b"*)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(knowledge::match_expression(c.query), c.expression);
    }
}

TEST(KnowledgeMatchExpression, UnicodeClassification) {
    struct Point {
        char32_t c;
        bool alnum;
    };
    const Point points[] = {
        {U'a', true},     {U'Z', true},     {U'0', true},      {U'_', false},    {U' ', false},
        {U'-', false},    {0x00AA, true},   {0x00B2, true},    {0x00B7, false},  {0x00D7, false},
        {0x0345, true},   {0x0660, true},   {0x0903, true},    {0x094D, false},  {0x2167, true},
        {0x2026, false},  {0x3000, false},  {0x3007, true},    {0x4E00, true},   {0x1F680, false},
        {0x1D7CE, true},  {0x10FFFF, false}, {0xFFFD, false},
    };
    for (const Point& p : points) {
        SCOPED_TRACE(static_cast<unsigned>(p.c));
        EXPECT_EQ(knowledge::is_alphanumeric(p.c), p.alnum);
    }
}

}  // namespace

// scanner_test.cpp - how the bytes of a configuration file become tokens.

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/scanner_support.h"
#include "config/test_support.h"
#include "grammar.h"
#include "runtime/runtime.h"

namespace
{

// One token as the parser sees it: code, value and the line counter after it was read.
struct Token {
    int code;
    std::string text;
    int number;
    int line;
};

bool operator==(const Token &a, const Token &b)
{
    return a.code == b.code && a.text == b.text && a.number == b.number;
}

std::ostream &operator<<(std::ostream &out, const Token &t)
{
    return out << '{' << t.code << " \"" << t.text << "\" " << t.number << '}';
}

Token code(int c) { return {c, "", 0, 0}; }
Token text(int c, const std::string &t) { return {c, t, 0, 0}; }
Token number(int n) { return {tok::NUMBER, "", n, 0}; }

// Scans up to and including the first 0 (the parser stops there too).
std::vector<Token> scan(const std::string &bytes)
{
    GL_param.config_line = 1;
    yy_buffer_state *buffer = global__scan_bytes(bytes.data(), static_cast<int>(bytes.size()));
    std::vector<Token> tokens;
    int c;
    do {
        c = global_lex();
        Token t{c, "", 0, 0};
        if (c == tok::STRING || c == tok::IDENTIFIER) {
            t.text = global_lval.text;
            free(global_lval.text);
        } else if (c == tok::NUMBER) {
            t.number = global_lval.number;
        }
        t.line = GL_param.config_line;
        tokens.push_back(t);
    } while (c != 0);
    global__delete_buffer(buffer);
    return tokens;
}

struct Row {
    std::string input;
    std::vector<Token> tokens; // without the final 0
};

void expect_rows(const std::vector<Row> &rows)
{
    for (const Row &row : rows) {
        SCOPED_TRACE("input: " + row.input);
        std::vector<Token> expected = row.tokens;
        expected.push_back(code(0));
        EXPECT_EQ(scan(row.input), expected);
    }
}

TEST(Scanner, EveryKeywordHasItsFixedCode)
{
    int expected = 261;
    for (const KEYWORD &keyword : KEYWORDS) {
        SCOPED_TRACE(keyword.text);
        EXPECT_EQ(scan(keyword.text), (std::vector<Token>{code(expected), code(0)}));
        ++expected;
    }
    EXPECT_EQ(expected, tok::LOCAL + 1);
}

TEST(Scanner, LongestMatchSeparatesKeywordsFromIdentifiers)
{
    expect_rows({
        {"MEASUREMENTNAME", {code(tok::MEASUREMENTNAME)}},
        {"MEASUREMENT NAME", {code(tok::MEASUREMENT), text(tok::IDENTIFIER, "NAME")}},
        {"GLOBALS{", {code(tok::GLOBALS), code('{')}},
        {"GLOBALS2 VOIDX _VOID",
         {text(tok::IDENTIFIER, "GLOBALS2"), text(tok::IDENTIFIER, "VOIDX"),
          text(tok::IDENTIFIER, "_VOID")}},
        {"measurement", {text(tok::IDENTIFIER, "measurement")}},
        {"24HOURS", {code(tok::H24), text(tok::IDENTIFIER, "OURS")}},
        {"15MI", {number(15), text(tok::IDENTIFIER, "MI")}},
        {"15M", {number(15), text(tok::IDENTIFIER, "M")}},
        {"24", {number(24)}},
        {"ATTRIBUTE_BOOL", {text(tok::IDENTIFIER, "ATTRIBUTE_BOOL")}},
    });
}

TEST(Scanner, NumbersAndSigns)
{
    expect_rows({
        {"-0042", {number(-42)}},
        {"+7", {number(7)}},
        {"1.5", {number(1), code('.'), number(5)}},
        {"- >", {code('-'), code('>')}},
        {"->5", {code(tok::POINTER), number(5)}},
        {"-x", {code('-'), text(tok::IDENTIFIER, "x")}},
        {"2147483647 -2147483648", {number(2147483647), number(-2147483647 - 1)}},
        // Out of range: never wrapped into a plausible value, refused by the parser.
        {"2147483648", {code(tok::NUMBER_OUT_OF_RANGE)}},
        {"-2147483649", {code(tok::NUMBER_OUT_OF_RANGE)}},
        {"99999999999999999999999", {code(tok::NUMBER_OUT_OF_RANGE)}},
    });
}

TEST(Scanner, StringLiteralsKeepTheirQuotesAndHaveNoEscapes)
{
    expect_rows({
        {"\"a # b\"", {text(tok::STRING, "\"a # b\"")}},
        {"\"\"", {text(tok::STRING, "\"\"")}},
        {"\"C:\\\"x\"", {text(tok::STRING, "\"C:\\\""), text(tok::IDENTIFIER, "x"), code('"')}},
        {"\"VOID\"VOID", {text(tok::STRING, "\"VOID\""), code(tok::VOID)}},
        // Without its closing quote the opening one is a token of its own.
        {"\"open VOID", {code('"'), text(tok::IDENTIFIER, "open"), code(tok::VOID)}},
        // The copy handed over ends at a NUL inside the literal.
        {std::string("\"a\0b\"", 5), {text(tok::STRING, "\"a")}},
    });
}

TEST(Scanner, CommentsRunToTheLineFeed)
{
    expect_rows({
        {"# only a comment\n", {}},
        {"  \t\r\n# c\n\n", {}},
        {"VOID# c VOID\nVOID", {code(tok::VOID), code(tok::VOID)}},
        {std::string("# \0 hidden\nVOID", 16), {code(tok::VOID)}},
        // A comment on a last line without line feed is no comment.
        {"VOID\n# GLOBALS", {code(tok::VOID), code('#'), code(tok::GLOBALS)}},
    });
}

TEST(Scanner, LineCounterFollowsLineFeedsOutsideLiterals)
{
    std::vector<Token> tokens = scan("VOID\n# c\n\"a\nb\nc\" VOID\nVOID");
    ASSERT_EQ(tokens.size(), 5u);
    EXPECT_EQ(tokens[0].line, 1);
    EXPECT_EQ(tokens[1].line, 3) << "the literal starts on line 3";
    EXPECT_EQ(tokens[2].line, 3) << "its two inner line feeds are not counted";
    EXPECT_EQ(tokens[3].line, 4);

    std::vector<Token> lf = scan("GLOBALS {\n}\nVOID\n");
    std::vector<Token> crlf = scan("GLOBALS {\r\n}\r\nVOID\r\n");
    EXPECT_EQ(lf, crlf);
    ASSERT_EQ(lf.size(), crlf.size());
    for (size_t i = 0; i < lf.size(); ++i)
        EXPECT_EQ(lf[i].line, crlf[i].line) << "token " << i;
    EXPECT_EQ(crlf.back().line, 4);
}

TEST(Scanner, OddBytesAreOneCharacterTokens)
{
    expect_rows({
        {"\f\v", {code(12), code(11)}},
        {"\xc3\xa4", {code(0xc3), code(0xa4)}},
        {"\"\xc3\xa4\"", {text(tok::STRING, "\"\xc3\xa4\"")}},
        {";=", {code(';'), code('=')}},
    });
    // A NUL outside a literal ends the input for the parser.
    EXPECT_EQ(scan(std::string("VOID\0VOID", 9)), (std::vector<Token>{code(tok::VOID), code(0)}));
}

} // namespace

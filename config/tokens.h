// tokens.h - token codes of the configuration language.
//
// The scanner returns these codes and the record description tree uses the same
// numbers as node types and subtypes, so they are fixed. The grammar declares its
// tokens in exactly this order (bison numbers them from 258); the loader checks at
// compile time that both agree.

#ifndef CORVANE_TOKENS_H
#define CORVANE_TOKENS_H

namespace tok
{

enum code : int {
    STRING = 258,
    IDENTIFIER,
    NUMBER,
    GLOBALS,
    VERSION,
    FILE_MASK,
    TIME_FORMAT,
    COLUMN_SEPARATOR,
    HEADER_SIZE_MAX,
    INPUTFILE, // 267
    GENERATES,
    MEASUREMENT,
    MEASUREMENTNAME,
    GRANULARITY,
    H24,
    MIN15,
    EVENT,
    MATCH,
    AND,
    NEEDS,
    VOID,
    POINTER,
    COLUMNS, // 280
    ATTRIBUTE,
    ATTRIBUTE_BOOL,
    ATTRIBUTE_CONVERT,
    ATTRIBUTE_REGEXP,
    UTC_FILESTAMP,
    MS_TO_UTC,
    MS_TO_LOCAL,
    STRING_TO_LOCAL,
    STRING_TO_UTC,
    ATTRIBUTE_ARG, // 290
    MISSING_VALUES,
    EMPTY,
    REPEAT,
    WORDLIST,
    ELEMENTLIST,
    LISTKEY, // 296
    ELEMENTNAME,
    DURATION_TO_SECONDS,
    TIME_ZONE, // 299
    FILE_TIME,
    UTC,
    LOCAL,
};

// Returned by the scanner for a number that does not fit into an int. No rule of the
// grammar accepts it, so such a number is a syntax error on its own line.
constexpr int NUMBER_OUT_OF_RANGE = 257;

} // namespace tok

#endif

// scanner_support.cpp - token values and line counting for the generated scanner.

#include "config/scanner_support.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "grammar.h"
#include "runtime/runtime.h"

void scanner_fatal_error(const char *message)
{
    elog.log(QStringLiteral("ERROR: reading configuration file \"") + GL_param.configuration_file +
             QStringLiteral("\" failed: ") + QString::fromLatin1(message) + QLatin1Char('\n'));
    exit(2);
}

void count_config_line() { ++GL_param.config_line; }

int scan_number(const char *text)
{
    errno = 0;
    long long value = strtoll(text, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return tok::NUMBER_OUT_OF_RANGE;
    global_lval.number = static_cast<int>(value);
    return tok::NUMBER;
}

int scan_text(int token, const char *text)
{
    global_lval.text = strdup(text);
    if (global_lval.text == nullptr)
        scanner_fatal_error("out of memory");
    return token;
}

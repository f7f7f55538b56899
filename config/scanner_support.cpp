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
    // flex leaves the reason of a failed read in errno; the allocation failures may
    // leave nothing there.
    const int error = errno;
    QString reason = QString::fromLatin1(message);
    if (error != 0)
        reason += QStringLiteral(" (") + QString::fromLocal8Bit(strerror(error)) + QLatin1Char(')');
    elog.log(QStringLiteral("ERROR: reading configuration file \"") + GL_param.configuration_file +
             QStringLiteral("\" failed: ") + reason + QLatin1Char('\n'));
    exit(2);
}

void count_config_line()
{
    // A file of more than INT_MAX lines keeps reporting the last countable line rather
    // than overflowing into negative line numbers.
    if (GL_param.config_line < INT_MAX)
        ++GL_param.config_line;
}

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

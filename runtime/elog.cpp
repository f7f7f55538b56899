// elog.cpp - the event log: prefixes every message with the process id and the local
// time and writes it to standard error at once.
//
// Workers are forks of the parent: whatever a worker touches for the first time, data
// or code, costs it a page fault. A line is therefore put together in a byte buffer of
// the process and handed to write(2) directly, without a text stream, a file object or
// a converter in between; only text beyond ASCII takes Qt's conversion to the locale's
// encoding.

#include "runtime/runtime.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace
{

// Qt's own diagnostics would otherwise reach standard error as bare lines between
// the log lines; they become WARNING lines of the log instead.
void qt_message_to_log(QtMsgType, const QMessageLogContext &, const QString &message)
{
    elog.log(QStringLiteral("WARNING: ") + message + QLatin1Char('\n'));
}

// The line being put together; its room is kept from line to line.
std::string &line_buffer()
{
    static std::string line = [] {
        std::string text;
        text.reserve(1024);
        return text;
    }();
    return line;
}

// "[pid] yyyy.MM.dd hh:mm:ss ": the pid part made anew only in a new process, the time
// only when the second has changed (a worker writes its lines within milliseconds).
void append_prefix(std::string &line)
{
    static qint64 prefixed_pid = -1;
    static char pid_text[32];
    static int pid_length = 0;
    static time_t formatted_second = -1;
    static char time_text[32];
    if (GL_param.mypid != prefixed_pid) {
        // Counted out by hand: printf's machinery is code a worker would fault in for this.
        char digits[24];
        int count = 0;
        for (qint64 pid = GL_param.mypid; count == 0 || pid > 0; pid /= 10)
            digits[count++] = static_cast<char>('0' + pid % 10);
        pid_length = 0;
        pid_text[pid_length++] = '[';
        while (count > 0)
            pid_text[pid_length++] = digits[--count];
        pid_text[pid_length++] = ']';
        pid_text[pid_length++] = ' ';
        prefixed_pid = GL_param.mypid;
    }
    const time_t now = time(nullptr);
    if (now != formatted_second) {
        struct tm local;
        localtime_r(&now, &local);
        strftime(time_text, sizeof time_text, "%Y.%m.%d %H:%M:%S ", &local);
        formatted_second = now;
    }
    line.append(pid_text, size_t(pid_length));
    line += time_text;
}

void append_text(std::string &line, const QString &message)
{
    const QChar *text = message.constData();
    const qsizetype size = message.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x80) {
            // Beyond ASCII: the locale's encoding, as the rest of the message.
            line += message.mid(i).toLocal8Bit().toStdString();
            return;
        }
        line += static_cast<char>(c);
    }
}

void write_all(const std::string &line)
{
    const char *data = line.data();
    size_t left = line.size();
    while (left > 0) {
        const ssize_t done = ::write(STDERR_FILENO, data, left);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return; // nowhere left to report it
        data += done;
        left -= size_t(done);
    }
}

} // namespace

ELOG::ELOG()
{
    qInstallMessageHandler(qt_message_to_log);
    line_buffer();
}

ELOG::~ELOG() { qInstallMessageHandler(nullptr); }

void ELOG::log(const QString &message)
{
    // Lines of several processes meet on one stream: each message goes out whole, in one
    // write, before log returns, so nothing stays buffered when a worker is forked.
    std::string &line = line_buffer();
    line.clear();
    append_prefix(line);
    append_text(line, message);
    write_all(line);
}

void ELOG::log(const char *message)
{
    std::string &line = line_buffer();
    line.clear();
    append_prefix(line);
    // The texts given as C strings are ASCII.
    line += message;
    write_all(line);
}

void ELOG::debug(int level, const char *message)
{
    if (GL_param.debug_level >= level)
        log(message);
}

void ELOG::debug(int level, const QString &message)
{
    if (GL_param.debug_level >= level)
        log(message);
}

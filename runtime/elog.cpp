// elog.cpp - the event log: prefixes every message with the process id and the local
// time and writes it to standard error at once.

#include "runtime/runtime.h"

#include <cstdio>
#include <ctime>

namespace
{

// Qt's own diagnostics would otherwise reach standard error as bare lines between
// the log lines; they become WARNING lines of the log instead.
void qt_message_to_log(QtMsgType, const QMessageLogContext &, const QString &message)
{
    elog.log(QStringLiteral("WARNING: ") + message + QLatin1Char('\n'));
}

// The local time of a line, formatted anew only when the second has changed: a worker
// writes its lines within a few milliseconds.
const QString &time_stamp()
{
    static time_t formatted_second = -1;
    static QString stamp;
    const time_t now = time(nullptr);
    if (now != formatted_second) {
        stamp = QDateTime::fromSecsSinceEpoch(now).toString(QStringLiteral("yyyy.MM.dd hh:mm:ss "));
        formatted_second = now;
    }
    return stamp;
}

// "[pid] ", made anew only in a new process. Streaming the number itself would go
// through the stream's locale on every line, and in a forked worker each such use
// writes to memory it shares with the parent until then.
const QString &pid_prefix()
{
    static qint64 prefixed_pid = -1;
    static QString prefix;
    if (GL_param.mypid != prefixed_pid) {
        prefix = QLatin1Char('[') + QString::number(GL_param.mypid) + QLatin1String("] ");
        prefixed_pid = GL_param.mypid;
    }
    return prefix;
}

} // namespace

ELOG::ELOG()
{
    if (!qfid_error_log.open(stderr, QIODevice::WriteOnly))
        fputs("ERROR: qfid_error_log.open( stderr, QIODevice::Append )\n", stderr);
    writer.setDevice(&qfid_error_log);
    writer.setEncoding(QStringConverter::System);
    qInstallMessageHandler(qt_message_to_log);
}

ELOG::~ELOG()
{
    writer.flush();
    qInstallMessageHandler(nullptr);
    qfid_error_log.close();
}

void ELOG::log(const QString &message)
{
    // Lines of several processes meet on one stream: each message goes out in full
    // before log returns, so nothing stays buffered when a worker is forked.
    // Put together in one reused buffer and handed to the stream whole: piece by piece,
    // the stream's own buffer would be grown anew for every line.
    static QString line;
    line.resize(0);
    line += pid_prefix();
    line += time_stamp();
    line += message;
    writer << line;
    writer.flush();
}

void ELOG::log(const char *message) { log(QString::fromLatin1(message)); }

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

// progress.cpp - the progress line of corvane -p.

#include "control/progress.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace
{

double now()
{
    struct timespec clock;
    clock_gettime(CLOCK_MONOTONIC, &clock);
    return double(clock.tv_sec) + double(clock.tv_nsec) / 1e9;
}

QString duration(double seconds)
{
    const long long whole = (long long)(seconds + 0.5);
    const QString minutes_seconds = QStringLiteral("%1:%2")
                                        .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
                                        .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return whole >= 3600 ? QString::number(whole / 3600) + QLatin1Char(':') + minutes_seconds
                         : minutes_seconds;
}

void put(const QString &text)
{
    fputs(text.toLocal8Bit().constData(), stdout);
    // Workers are forks of this process: nothing may wait in the buffer to be copied.
    fflush(stdout);
}

} // namespace

void PROGRESS::start(int file_count, qint64 byte_count)
{
    terminal = isatty(STDOUT_FILENO) != 0;
    files = file_count;
    bytes = byte_count;
    started = last_written = now();
}

void PROGRESS::file_done(qint64 file_bytes, bool file_failed)
{
    ++done;
    if (file_failed)
        ++failed;
    bytes_done += file_bytes;
}

double PROGRESS::elapsed() const { return now() - started; }

QString PROGRESS::line(const char *what, bool with_estimate) const
{
    const double seconds = elapsed();
    const double rate = seconds > 0 ? done / seconds : 0;
    const double byte_rate = seconds > 0 ? double(bytes_done) / seconds : 0;
    QString text = QStringLiteral("%1: %2 of %3 files done, %4 failed, %5 files/s, %6 MB/s, "
                                  "elapsed %7")
                       .arg(QString::fromLatin1(what))
                       .arg(done)
                       .arg(files)
                       .arg(failed)
                       .arg(rate, 0, 'f', 1)
                       .arg(byte_rate / 1e6, 0, 'f', 1)
                       .arg(duration(seconds));
    if (with_estimate) {
        // By bytes where sizes are known: files differ in size far more than in count.
        double left = -1;
        if (bytes > 0 && byte_rate > 0)
            left = double(bytes - bytes_done) / byte_rate;
        else if (rate > 0)
            left = (files - done) / rate;
        text += left >= 0 ? QStringLiteral(", about %1 left").arg(duration(left))
                          : QStringLiteral(", time left not known yet");
    }
    return text;
}

void PROGRESS::tick()
{
    const double at = now();
    if (terminal) {
        if (at - last_written < 0.2)
            return;
        put(QLatin1Char('\r') + line("progress", true) + QStringLiteral("\033[K"));
    } else {
        if (at - last_written < 10)
            return;
        put(line("progress", true) + QLatin1Char('\n'));
    }
    last_written = at;
}

void PROGRESS::finish()
{
    put((terminal ? QStringLiteral("\r") : QString()) + line("total", false) +
        (terminal ? QStringLiteral("\033[K\n") : QStringLiteral("\n")));
}

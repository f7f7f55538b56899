// progress.h - corvane -p: how far a run has got, on standard output.

#ifndef CORVANE_PROGRESS_H
#define CORVANE_PROGRESS_H

#include <QString>

// Files done of all, failed, files/s and MB/s of input, elapsed and estimated time left:
// on a terminal one line rewritten in place a few times a second, otherwise a plain line
// every ten seconds; at the end one line of totals. Never in the log.
class PROGRESS
{
public:
    void start(int files, qint64 bytes);
    void file_done(qint64 bytes, bool failed);
    // Writes the line if it is due.
    void tick();
    void finish();

    // How often tick() should be called, in milliseconds.
    int interval_ms() const { return terminal ? 250 : 1000; }

private:
    QString line(const char *what, bool with_estimate) const;
    double elapsed() const;

    bool terminal = false;
    int files = 0;
    qint64 bytes = 0;
    int done = 0;
    int failed = 0;
    qint64 bytes_done = 0;
    double started = 0;
    double last_written = 0;
};

#endif

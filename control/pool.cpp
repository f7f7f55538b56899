// pool.cpp - lists the input directory, hands the files to worker processes, reaps them
// and writes the summary.
//
// SIGCHLD stays blocked in the parent except while it waits in sigsuspend(). The signal
// handler only ends that wait; reaping, logging and forking all happen in the main flow,
// so none of them ever runs inside a signal handler and the pool counters have one
// writer.

#include "control/pool.h"

#include <malloc.h>
#include <signal.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QFile>

#include "config/attribute.h"
#include "control/listing.h"
#include "control/metrics.h"
#include "control/progress.h"
#include "convert/input/input_file.h"
#include "convert/output/output_registry.h"
#include "convert/output/output_stream.h"
#include "convert/output/run_tally.h"
#include "convert/process_file.h"
#include "convert/xml/xml_reader.h"
#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

void wake_up(int) {}

// The worker running in each slot of the output file records (0 for a free slot), and the
// index of its input file.
std::vector<pid_t> slot_worker;
std::vector<int> slot_file;

// The lock on the input directory that keeps a second run away; -1 without one.
int input_lock = -1;

// The size of each input file, and the progress line they feed (-p).
UNFORKED_ARRAY<qint64> input_sizes;
PROGRESS progress;

// A log line of texts and numbers put together on the stack. The lines the pool writes for
// every file go this way: after each fork every page the parent writes to is copied
// first, and text built on the heap would touch several of them each time.
class POOL_LINE
{
public:
    POOL_LINE &operator<<(const char *piece)
    {
        while (*piece != '\0' && used + 1 < int(sizeof text))
            text[used++] = *piece++;
        text[used] = '\0';
        return *this;
    }
    POOL_LINE &operator<<(long long number)
    {
        char digits[24];
        int count = 0;
        const bool negative = number < 0;
        unsigned long long rest = negative ? 0ULL - (unsigned long long)number : number;
        do
            digits[count++] = char('0' + rest % 10);
        while ((rest /= 10) != 0);
        if (negative)
            digits[count++] = '-';
        while (count > 0 && used + 1 < int(sizeof text))
            text[used++] = digits[--count];
        text[used] = '\0';
        return *this;
    }
    const char *c_str() const { return text; }

private:
    char text[128] = {};
    int used = 0;
};

// The most output files one input file can need: the measurements of the largest
// INPUTFILE block.
int most_output_files()
{
    int most = 0;
    for (ATTRIBUTE *inputfile = GL_param.record_descriptions; inputfile != nullptr;
         inputfile = inputfile->next) {
        int count = 0;
        for (ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
            if (m->type == tok::MEASUREMENT)
                ++count;
        }
        most = std::max(most, count);
    }
    return most;
}

sigset_t sigchld_only()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    return set;
}

// The worker has none of the parent's lists of files (unforked_array.h): its file's name
// and what prepare_file() worked out for it are all it knows of them.
[[noreturn]] void run_worker(PROCESS_FILE &process_file, const QString &file_name, int slot)
{
    GL_param.mypid = getpid();
    if (input_lock >= 0)
        ::close(input_lock);
    output_registry_use(slot);
    run_tally_use(slot);
    OUTPUT_STREAM::write_in_background(true);
    elog.log(QStringLiteral("INFO: processing file = ") + printable_name(file_name) +
             QLatin1Char('\n'));
    int status = process_file.start(GL_param.input_path, file_name);
    if (GL_param.debug_level >= 1)
        elog.log((POOL_LINE() << "Info: Process " << GL_param.mypid
                              << " will finish work and was happy to work for you :-)\n")
                     .c_str());
    // Everything of the conversion is written and closed by now, and the log is flushed
    // per line. Tearing down the process-wide objects would cost each worker time for
    // nothing: the worker ends without running the destructors.
    fflush(nullptr);
    _exit(status);
}

void count_ended_worker(pid_t pid, int status)
{
    int exit_byte = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
    if (WIFSIGNALED(status) && WCOREDUMP(status)) {
        elog.log(QStringLiteral("ERROR: Prozess %1 abgebrochen mit status %2 - CORE dump\n")
                     .arg(pid)
                     .arg(exit_byte));
        ++GL_param.processes_failed;
    } else if (WIFSIGNALED(status)) {
        // Without a core image the exit byte of a killed worker reads 0; counting it as
        // a success would report a conversion that never finished.
        int sig = WTERMSIG(status);
        elog.log(QStringLiteral("ERROR: process %1 killed by signal %2 (%3)\n")
                     .arg(pid)
                     .arg(sig)
                     .arg(QString::fromLocal8Bit(strsignal(sig))));
        ++GL_param.processes_failed;
    } else if (exit_byte != 0) {
        ++GL_param.processes_failed;
    } else {
        ++GL_param.processes_succeeded;
    }
    const bool failed = WIFSIGNALED(status) || exit_byte != 0;
    const auto slot = std::find(slot_worker.begin(), slot_worker.end(), pid);
    if (slot != slot_worker.end()) {
        const size_t index = size_t(slot - slot_worker.begin());
        if (WIFSIGNALED(status))
            output_registry_mend(int(index), pid, GL_param.error_path.isEmpty());
        // Out of the way of the next run, which would only fail on it again.
        if (failed && !GL_param.error_path.isEmpty())
            move_input_file(GL_param.input_path, GL_param.input_files.at(slot_file[index]),
                            GL_param.error_path);
        if (!failed)
            metrics_file_converted(int(index), input_sizes.at(size_t(slot_file[index])));
        if (GL_param.progress)
            progress.file_done(input_sizes.at(size_t(slot_file[index])), failed);
        *slot = 0;
    }
    if (GL_param.debug_level >= 1)
        elog.log((POOL_LINE() << "INFO: Process " << pid << " gestorben mit return Wert "
                              << exit_byte << " und beerdigt\n")
                     .c_str());
    --GL_param.processes_running;
}

} // namespace

void run_pool()
{
    sigset_t chld = sigchld_only();
    // With -p a timer wakes the parent too; like SIGCHLD, it only ends the wait.
    if (GL_param.progress)
        sigaddset(&chld, SIGALRM);
    sigset_t wait_mask;
    sigprocmask(SIG_BLOCK, &chld, &wait_mask);
    sigdelset(&wait_mask, SIGCHLD);
    sigdelset(&wait_mask, SIGALRM);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = wake_up;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
    if (GL_param.progress)
        sigaction(SIGALRM, &action, nullptr);

    input_lock = lock_input_directory();
    check_error_directory();
    GL_param.processes_running = 0;
    INPUT_LISTING listing = list_input_directory();
    for (const QByteArray &record : listing.stale_records)
        ::unlink(record.constData());
    GL_param.input_files = std::move(listing.names);
    input_sizes = std::move(listing.sizes);
    metrics_files_listed(int(listing.left.size()));
    elog.log(QStringLiteral("INFO: corvane will execute %1 processes parallel\n")
                 .arg(GL_param.parallel_processes));

    slot_worker.assign(size_t(GL_param.parallel_processes), 0);
    slot_file.assign(size_t(GL_param.parallel_processes), -1);
    if (!output_registry_create(GL_param.parallel_processes, most_output_files()))
        elog.log(QStringLiteral("WARNING: no shared memory to record output files (%1): the "
                                "files of a killed worker cannot be mended\n")
                     .arg(system_reason(errno)));

    if (GL_param.progress) {
        qint64 bytes = 0;
        for (const qint64 size : input_sizes)
            bytes += size;
        progress.start(GL_param.input_files.size(), bytes);
        // Timers are not passed on to forked workers.
        const long step = progress.interval_ms() * 1000L;
        const struct itimerval every = {{step / 1000000, step % 1000000},
                                        {step / 1000000, step % 1000000}};
        setitimer(ITIMER_REAL, &every, nullptr);
    }

    // Work every worker would otherwise repeat is done once, before the first fork.
    prepare_conversions();
    // A worker lives for one file: its larger buffers come from the heap and are never
    // handed back, instead of being mapped and unmapped one by one. Set here once, for
    // the parent too, rather than in every worker, where it would be one more page to
    // copy. The parent hands its free memory back once, right before the first fork.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    malloc_trim(0);
    fork_new_process();
    for (;;) {
        sigsuspend(&wait_mask);
        sigchld_handler(SIGCHLD);
        if (GL_param.progress)
            progress.tick();
    }
}

void fork_new_process()
{
    elog.debug(3, "CALLED: fork_new_process()\n");
    for (;;) {
        int running = GL_param.processes_running;
        if (running >= GL_param.parallel_processes)
            return;
        if (GL_param.file_index + 1 >= GL_param.input_files.size()) {
            elog.debug(1,
                       QStringLiteral("INFO: no more files to process running: %1\n").arg(running));
            if (GL_param.processes_running != 0)
                return;
            exit_program();
        }
        ++GL_param.file_index;
        const QString &file_name = prepare_file(GL_param.file_index);
        PROCESS_FILE process_file;
        const int slot =
            int(std::find(slot_worker.begin(), slot_worker.end(), 0) - slot_worker.begin());
        output_registry_clear(slot);
        run_tally_clear(slot);

        pid_t pid = fork();
        if (pid < 0) {
            elog.log("ERROR: fork() failed - aborting\n");
            exit(8);
        }
        if (pid == 0)
            run_worker(process_file, file_name, slot);
        // Written by the parent among its own lines, in the pool's order; the worker does
        // not wait for it, so its first lines may come before or after this one.
        if (GL_param.debug_level >= 1)
            elog.log((POOL_LINE() << "Info: Process " << GL_param.mypid << " forked child " << pid
                                  << "\n")
                         .c_str());
        if (slot < int(slot_worker.size())) {
            slot_worker[size_t(slot)] = pid;
            slot_file[size_t(slot)] = GL_param.file_index;
        }
        ++GL_param.processes_running;
        ++GL_param.processes_started;
    }
}

// Reaps every worker that has ended and starts the next file in each freed place.
// Runs in the main flow after sigsuspend() reported a SIGCHLD.
void sigchld_handler(int)
{
    elog.debug(3, "CALLED: sigchld_handler()\n");
    int saved_errno = errno;
    for (;;) {
        int status = 0;
        pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid == 0)
            break;
        if (pid < 0) {
            if (errno == EINTR)
                continue;
            elog.log("ERROR: in waitpid()\n");
            break;
        }
        count_ended_worker(pid, status);
        fork_new_process();
    }
    errno = saved_errno;
}

void exit_program()
{
    if (GL_param.progress)
        progress.finish();
    elog.log("Info: Main Program terminated\n");
    elog.log(QStringLiteral("Info (%1/%2) Prozesse erfolgreich konvertiert\n")
                 .arg(GL_param.processes_succeeded)
                 .arg(GL_param.processes_started));
    exit(GL_param.processes_started == GL_param.processes_succeeded ? 0 : 1);
}

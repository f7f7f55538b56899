// pool.cpp - lists the input directory, hands the files to worker processes, reaps them
// and writes the summary.
//
// SIGCHLD stays blocked in the parent except while it waits in sigsuspend(). The signal
// handler only ends that wait; reaping, logging and forking all happen in the main flow,
// so none of them ever runs inside a signal handler and the pool counters have one
// writer.

#include "control/pool.h"

#include <dirent.h>
#include <malloc.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QFile>

#include "config/attribute.h"
#include "convert/input/input_file.h"
#include "convert/output/output_registry.h"
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

// When this run started: the minimum age of input files counts back from it.
struct timespec run_started;

QString system_reason(int error) { return QString::fromLocal8Bit(strerror(error)); }

[[noreturn]] void input_directory_failed(const QString &reason)
{
    elog.log(QStringLiteral("ERROR: could not read input path %1: %2\n")
                 .arg(printable_name(GL_param.input_path), reason));
    exit(1);
}

struct Entry {
    QString name;
    QString key;
    QByteArray raw;
    bool has_time = false; // the modification time below is known
    struct timespec modified = {};
};

// Leaves out the entries modified less than the minimum age before the run started:
// a collector may still be writing them under their final names.
void leave_young_files(std::vector<Entry> *entries)
{
    if (GL_param.min_age < 0)
        return;
    const qint64 started = qint64(run_started.tv_sec) * 1000000000 + run_started.tv_nsec;
    const qint64 wanted = GL_param.min_age * 1000000000;
    int left = 0;
    std::vector<Entry> kept;
    for (Entry &entry : *entries) {
        if (entry.has_time) {
            qint64 age =
                started - (qint64(entry.modified.tv_sec) * 1000000000 + entry.modified.tv_nsec);
            if (age < 0) {
                elog.log(QStringLiteral("WARNING: input file %1 was modified in the future - "
                                        "taken as just written\n")
                             .arg(printable_name(entry.name)));
                age = 0;
            }
            if (age < wanted) {
                ++left;
                elog.debug(1, QStringLiteral("INFO: input file %1 is younger than %2 seconds - "
                                             "left for a later run\n")
                                  .arg(printable_name(entry.name))
                                  .arg(GL_param.min_age));
                continue;
            }
        }
        kept.push_back(std::move(entry));
    }
    entries->swap(kept);
    elog.log(QStringLiteral("INFO: %1 input files younger than %2 seconds left for a later run\n")
                 .arg(left)
                 .arg(GL_param.min_age));
}

// The error directory must take files before the first one fails: a run that cannot put
// failed files aside stops before it touches any.
void check_error_directory()
{
    if (GL_param.error_path.isEmpty())
        return;
    const QString shown = printable_name(GL_param.error_path);
    const QByteArray path = QFile::encodeName(GL_param.error_path);
    struct stat info;
    struct stat input;
    QString problem;
    if (::stat(path.constData(), &info) != 0) {
        problem = system_reason(errno);
    } else if (!S_ISDIR(info.st_mode)) {
        problem = QStringLiteral("not a directory");
    } else if (::stat(QFile::encodeName(GL_param.input_path).constData(), &input) == 0 &&
               input.st_dev == info.st_dev && input.st_ino == info.st_ino) {
        problem = QStringLiteral("it is the input directory");
    } else {
        // Tried for real: permissions, a read-only mount or a full inode table all show.
        QByteArray probe = path + "/.corvane-probe-XXXXXX";
        const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
        if (fd < 0) {
            problem = QStringLiteral("cannot write into it: ") + system_reason(errno);
        } else {
            ::close(fd);
            ::unlink(probe.constData());
        }
    }
    if (!problem.isEmpty()) {
        elog.log(
            QStringLiteral("ERROR: error directory %1 cannot be used: %2\n").arg(shown, problem));
        exit(1);
    }
}

// One run per input directory: a second run would convert the same files again. The
// lock is on the directory itself and lasts as long as the parent; workers close their
// copy of it at once.
void lock_input_directory()
{
    const int fd = ::open(QFile::encodeName(GL_param.input_path).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // the listing reports a directory that is missing or cannot be read
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        input_lock = fd;
        return;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
        elog.log(QStringLiteral("WARNING: another corvane run is busy with input directory %1 - "
                                "ending\n")
                     .arg(printable_name(GL_param.input_path)));
        exit(3);
    }
    elog.log(QStringLiteral("WARNING: could not lock input directory %1 (%2) - going on without "
                            "the lock\n")
                 .arg(printable_name(GL_param.input_path), system_reason(error)));
}

// The names of the input directory, as QDir would sort them (by name, ignoring case),
// but read with their bytes: QDir drops a name that is not UTF-8. Hidden entries and
// directories are left out. Everything else is listed, a FIFO or a dangling link too:
// its worker refuses it with a clear line and it counts as a failed file, where being
// left out would pass unnoticed.
QStringList list_input_directory()
{
    const QByteArray path = QFile::encodeName(GL_param.input_path);
    struct stat info;
    const bool found = ::stat(path.constData(), &info) == 0;
    if (!found && errno != ENOENT && errno != ENOTDIR)
        input_directory_failed(system_reason(errno));
    if (!found || !S_ISDIR(info.st_mode)) {
        elog.log(QStringLiteral("ERROR: input path ") + printable_name(GL_param.input_path) +
                 QStringLiteral(" does not exist\n"));
        exit(1);
    }
    DIR *directory = ::opendir(path.constData());
    if (directory == nullptr)
        input_directory_failed(system_reason(errno));

    std::vector<Entry> entries;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(directory);
        if (entry == nullptr) {
            if (errno != 0)
                input_directory_failed(system_reason(errno));
            break;
        }
        if (entry->d_name[0] == '.')
            continue;
        // Followed through links: a link to a directory is a directory.
        const bool known = ::fstatat(dirfd(directory), entry->d_name, &info, 0) == 0;
        if (known && S_ISDIR(info.st_mode))
            continue;
        Entry listed;
        listed.has_time = known;
        if (known)
            listed.modified = info.st_mtim;
        listed.raw = QByteArray(entry->d_name);
        listed.name = decode_file_name(listed.raw);
        listed.key = listed.name.toLower();
        entries.push_back(listed);
    }
    ::closedir(directory);

    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.key != b.key)
            return a.key < b.key;
        if (a.name != b.name)
            return a.name < b.name;
        return a.raw < b.raw;
    });
    leave_young_files(&entries);
    // The names are copied out in their order, one after the other, and the listing
    // is freed as a whole: no free gaps stay scattered between them, which every worker
    // would otherwise fill, and so copy, page by page.
    QStringList names;
    names.reserve(int(entries.size()));
    for (const Entry &entry : entries)
        names.append(QString(entry.name.constData(), entry.name.size()));
    return names;
}

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

[[noreturn]] void run_worker(PROCESS_FILE &process_file, const QString &file_name, int slot)
{
    // The parent's line on this fork is written here, still under the parent's id: so it
    // comes before the worker's own lines without the parent having to hold the worker
    // back until it has written it, which would cost every file a wait.
    elog.debug(
        1, QStringLiteral("Info: Process %1 forked child %2\n").arg(GL_param.mypid).arg(getpid()));
    GL_param.mypid = getpid();
    if (input_lock >= 0)
        ::close(input_lock);
    // A worker lives for one file: its larger buffers come from the heap and are never
    // handed back, instead of being mapped and unmapped one by one.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    output_registry_use(slot);
    elog.log(QStringLiteral("INFO: processing file = ") + printable_name(file_name) +
             QLatin1Char('\n'));
    int status = process_file.start(GL_param.input_path, file_name);
    elog.debug(1, QStringLiteral("Info: Process %1 will finish work and was happy to work for "
                                 "you :-)\n")
                      .arg(GL_param.mypid));
    // Everything of the conversion is written and closed by now, and the log is flushed
    // per line. Tearing down the process-wide objects (the file list of the whole run
    // among them) would cost each worker time in proportion to the number of files, for
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
        *slot = 0;
    }
    elog.debug(1, QStringLiteral("INFO: Process %1 gestorben mit return Wert %2 und beerdigt\n")
                      .arg(pid)
                      .arg(exit_byte));
    --GL_param.processes_running;
}

} // namespace

void run_pool()
{
    sigset_t chld = sigchld_only();
    sigset_t wait_mask;
    sigprocmask(SIG_BLOCK, &chld, &wait_mask);
    sigdelset(&wait_mask, SIGCHLD);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = wake_up;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);

    clock_gettime(CLOCK_REALTIME, &run_started);
    lock_input_directory();
    check_error_directory();
    GL_param.processes_running = 0;
    GL_param.input_files = list_input_directory();
    elog.log(QStringLiteral("INFO: corvane will execute %1 processes parallel\n")
                 .arg(GL_param.parallel_processes));

    slot_worker.assign(size_t(GL_param.parallel_processes), 0);
    slot_file.assign(size_t(GL_param.parallel_processes), -1);
    if (!output_registry_create(GL_param.parallel_processes, most_output_files()))
        elog.log(QStringLiteral("WARNING: no shared memory to record output files (%1): the "
                                "files of a killed worker cannot be mended\n")
                     .arg(system_reason(errno)));

    // Work every worker would otherwise repeat is done once, before the first fork.
    prepare_conversions();
    malloc_trim(0);
    fork_new_process();
    for (;;) {
        sigsuspend(&wait_mask);
        sigchld_handler(SIGCHLD);
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
        const QString file_name = GL_param.input_files.at(GL_param.file_index);
        PROCESS_FILE process_file;
        const int slot =
            int(std::find(slot_worker.begin(), slot_worker.end(), 0) - slot_worker.begin());
        output_registry_clear(slot);

        pid_t pid = fork();
        if (pid < 0) {
            elog.log("ERROR: fork() failed - aborting\n");
            exit(8);
        }
        if (pid == 0)
            run_worker(process_file, file_name, slot);
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
    elog.log("Info: Main Program terminated\n");
    elog.log(QStringLiteral("Info (%1/%2) Prozesse erfolgreich konvertiert\n")
                 .arg(GL_param.processes_succeeded)
                 .arg(GL_param.processes_started));
    exit(GL_param.processes_started == GL_param.processes_succeeded ? 0 : 1);
}

// output_registry.cpp - the shared record of created output files and the repair of the
// files of a killed worker.

#include "convert/output/output_registry.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QString>

#include "convert/output/publication.h"
#include "runtime/file_names.h"
#include "runtime/runtime.h"

namespace
{

enum : int { FREE = 0, CREATED = 1 };

struct Entry {
    int state;
    dev_t device;
    ino_t inode;
    char path[PATH_MAX];
};

// A slot: the number of entries written so far, then the entries.
constexpr size_t HEADER_SIZE = 64;

char *mapping = nullptr;
size_t slot_size = 0;
int slot_count = 0;
int capacity = 0;
int own_slot = -1;

int *used_of(int slot) { return reinterpret_cast<int *>(mapping + slot * slot_size); }

Entry *entry_of(int slot, int index)
{
    return reinterpret_cast<Entry *>(mapping + slot * slot_size + HEADER_SIZE +
                                     index * sizeof(Entry));
}

QString shown(const QByteArray &path) { return printable_name(decode_file_name(path)); }

// The offset just past the last line feed of the file; -1 when it holds none, -2 when
// it cannot be read.
off_t end_of_last_line(int fd, off_t size)
{
    char block[64 * 1024];
    off_t end = size;
    while (end > 0) {
        const off_t start = end > off_t(sizeof block) ? end - off_t(sizeof block) : 0;
        const ssize_t got = ::pread(fd, block, size_t(end - start), start);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != end - start)
            return -2;
        for (ssize_t i = got - 1; i >= 0; --i) {
            if (block[i] == '\n')
                return start + i + 1;
        }
        end = start;
    }
    return -1;
}

// Gives the mended file of a killed worker the final name it was written for.
void publish_mended(const Entry &entry, const QByteArray &final_path, const QString &file,
                    const QString &process)
{
    if (final_path.isEmpty())
        return;
    const int error = publish_part(QByteArray(entry.path), final_path);
    if (error == EEXIST) {
        elog.log(QStringLiteral("ERROR: output file %1 of killed process %2 not published: the "
                                "name is taken; the file is removed\n")
                     .arg(file, process));
        ::unlink(entry.path);
    } else if (error != 0) {
        elog.log(QStringLiteral("ERROR: could not give output file %1 of killed process %2 its "
                                "final name: %3\n")
                     .arg(file, process, system_reason(error)));
    }
}

void mend_file(const Entry &entry, pid_t pid, bool publish)
{
    // One arg() call per message: a "%2" in a file name must stay as it is. Messages name
    // the file by the final name it was written for.
    const QByteArray final_path = final_path_of(QByteArray(entry.path));
    const QString file = shown(final_path.isEmpty() ? QByteArray(entry.path) : final_path);
    const QString process = QString::number(pid);
    const auto failed = [&](int error) {
        elog.log(QStringLiteral("ERROR: could not mend output file %1 of killed process %2: %3\n")
                     .arg(file, process, system_reason(error)));
    };
    const int fd = ::open(entry.path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        // Gone already: nothing is left to mend.
        if (errno != ENOENT)
            failed(errno);
        return;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || info.st_dev != entry.device || info.st_ino != entry.inode) {
        // The name leads to another file now; that one is not the worker's to mend.
        ::close(fd);
        return;
    }
    const off_t end = info.st_size == 0 ? -1 : end_of_last_line(fd, info.st_size);
    if (!publish) {
        // The output of a file that failed is removed instead of being handed on.
        if (::unlink(entry.path) != 0)
            failed(errno);
        ::close(fd);
        return;
    }
    if (end == info.st_size) {
        publish_mended(entry, final_path, file, process);
        ::close(fd);
        return;
    }
    if (end == -1) {
        if (::unlink(entry.path) == 0)
            elog.log(QStringLiteral("WARNING: output file %1 of killed process %2 removed: it "
                                    "held no complete line\n")
                         .arg(file, process));
        else
            failed(errno);
    } else if (end < 0) {
        failed(EIO);
    } else if (::ftruncate(fd, end) != 0) {
        failed(errno);
    } else {
        elog.log(QStringLiteral("WARNING: output file %1 of killed process %2 cut back to its "
                                "last complete line (%3 bytes)\n")
                     .arg(file, process, QString::number(qint64(end))));
        publish_mended(entry, final_path, file, process);
    }
    ::close(fd);
}

} // namespace

bool output_registry_create(int workers, int files)
{
    capacity = files > 0 ? files : 1;
    slot_size = HEADER_SIZE + size_t(capacity) * sizeof(Entry);
    // Shared and anonymous: made before the first fork, it is the same memory in the
    // parent and every worker. Pages that are never written cost nothing.
    void *memory = ::mmap(nullptr, slot_size * size_t(workers), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return false;
    mapping = static_cast<char *>(memory);
    slot_count = workers;
    return true;
}

void output_registry_clear(int slot)
{
    if (mapping != nullptr && slot >= 0 && slot < slot_count)
        *used_of(slot) = 0;
}

void output_registry_use(int slot) { own_slot = mapping != nullptr ? slot : -1; }

void output_registry_add(int fd, const QByteArray &path)
{
    if (own_slot < 0 || own_slot >= slot_count || path.size() >= PATH_MAX)
        return;
    int *used = used_of(own_slot);
    if (*used >= capacity)
        return;
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return;
    Entry *entry = entry_of(own_slot, *used);
    entry->device = info.st_dev;
    entry->inode = info.st_ino;
    memcpy(entry->path, path.constData(), size_t(path.size()) + 1);
    // The entry is complete before it counts: the worker may die at any instruction.
    __atomic_store_n(&entry->state, CREATED, __ATOMIC_RELEASE);
    __atomic_store_n(used, *used + 1, __ATOMIC_RELEASE);
}

void output_registry_remove(const QByteArray &path)
{
    if (own_slot < 0 || own_slot >= slot_count)
        return;
    const int used = *used_of(own_slot);
    for (int i = 0; i < used; ++i) {
        Entry *entry = entry_of(own_slot, i);
        if (entry->state == CREATED && path == entry->path)
            __atomic_store_n(&entry->state, FREE, __ATOMIC_RELEASE);
    }
}

void output_registry_mend(int slot, pid_t pid, bool publish)
{
    if (mapping == nullptr || slot < 0 || slot >= slot_count)
        return;
    const int used = __atomic_load_n(used_of(slot), __ATOMIC_ACQUIRE);
    for (int i = 0; i < used && i < capacity; ++i) {
        const Entry *entry = entry_of(slot, i);
        if (__atomic_load_n(&entry->state, __ATOMIC_ACQUIRE) == CREATED)
            mend_file(*entry, pid, publish);
    }
}

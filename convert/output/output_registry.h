// output_registry.h - the output files each running worker has created, kept where the
// parent can read them after the worker is gone.
//
// A worker killed inside write(2) can leave a line cut in half: the kernel copies a
// block page by page and stops at a fatal signal. Only the parent outlives such a
// worker, so each worker records its files in a slot of memory shared with the parent,
// and the parent cuts them back to their last complete line when it reaps a worker
// that died by a signal.

#ifndef CORVANE_OUTPUT_REGISTRY_H
#define CORVANE_OUTPUT_REGISTRY_H

#include <sys/types.h>

#include <QByteArray>

// Parent, before the first worker is forked: one slot per worker that may run at once,
// each for up to `files` output files. Returns false when the shared memory cannot be
// had; nothing is recorded then.
bool output_registry_create(int workers, int files);

// Parent, right before a worker is forked for that slot: forgets what the slot held.
void output_registry_clear(int slot);

// Worker, right after the fork: the slot in which it records its files.
void output_registry_use(int slot);

// Worker: path names a (temporary) file that it has just created as fd, before anything
// is written into it.
void output_registry_add(int fd, const QByteArray &path);

// Worker: it is about to remove the file it created as path.
void output_registry_remove(const QByteArray &path);

// Parent, after reaping worker pid of that slot, which a signal ended: cuts each of its
// files that is still the file it created back to the end of its last complete line,
// removes a file that holds none, and logs each change; then gives each its final name,
// or with `publish` false removes it.
void output_registry_mend(int slot, pid_t pid, bool publish);

#endif

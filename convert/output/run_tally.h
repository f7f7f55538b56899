// run_tally.h - the figures of each converted file, handed from its worker to the parent.
//
// A worker adds up the record lines and bytes of the output files it completes; the
// parent, which outlives it, takes them into the run's totals when the worker ends with
// success. Like the output registry, the figures lie in memory shared by both, one slot
// per worker that may run at once, so that nothing is sent between the processes and the
// parent's memory does not grow with the number of files.

#ifndef CORVANE_RUN_TALLY_H
#define CORVANE_RUN_TALLY_H

#include <QtGlobal>

class ATTRIBUTE;

// Parent, before the first worker is forked: one slot per worker that may run at once,
// with a count for each MEASUREMENT of the configuration. Returns false when the shared
// memory cannot be had; nothing is counted then.
bool run_tally_create(int workers);

// Parent, right before a worker is forked for that slot: the slot starts from nothing.
void run_tally_clear(int slot);

// Worker, right after the fork: the slot in which it counts.
void run_tally_use(int slot);

// Worker: the output file of `measurement` is complete with `records` record lines and
// `bytes` bytes (its header line included). Does nothing without a slot.
void run_tally_add(const ATTRIBUTE *measurement, qint64 records, qint64 bytes);

// Parent, after the worker of that slot ended with success: the records of each
// measurement, in the order of the configuration, are added to records[0 .. the number of
// measurements), and the output bytes to *bytes.
void run_tally_take(int slot, qint64 *records, qint64 *bytes);

// The MEASUREMENT nodes of the configuration, all INPUTFILE blocks one after the other:
// their number, and the position of one of them (-1 for another node).
int run_tally_measurements();
int run_tally_position(const ATTRIBUTE *measurement);

#endif

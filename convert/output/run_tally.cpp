// run_tally.cpp - the figures of each converted file in memory shared with the parent.

#include "convert/output/run_tally.h"

#include <sys/mman.h>

#include <cstring>

#include "config/attribute.h"
#include "runtime/runtime.h"

namespace
{

// A slot: the output bytes, then one record count per measurement.
qint64 *mapping = nullptr;
int slot_length = 0; // in counts
int slot_count = 0;
int own_slot = -1;

qint64 *slot_of(int slot) { return mapping + qint64(slot) * slot_length; }

} // namespace

int run_tally_measurements()
{
    int count = 0;
    for (const ATTRIBUTE *inputfile = GL_param.record_descriptions; inputfile != nullptr;
         inputfile = inputfile->next) {
        for (const ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next)
            count += m->type == tok::MEASUREMENT ? 1 : 0;
    }
    return count;
}

int run_tally_position(const ATTRIBUTE *measurement)
{
    int position = 0;
    for (const ATTRIBUTE *inputfile = GL_param.record_descriptions; inputfile != nullptr;
         inputfile = inputfile->next) {
        for (const ATTRIBUTE *m = inputfile->child; m != nullptr; m = m->next) {
            if (m->type != tok::MEASUREMENT)
                continue;
            if (m == measurement)
                return position;
            ++position;
        }
    }
    return -1;
}

bool run_tally_create(int workers)
{
    slot_length = 1 + run_tally_measurements();
    const size_t size = size_t(workers) * size_t(slot_length) * sizeof(qint64);
    void *memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return false;
    mapping = static_cast<qint64 *>(memory);
    slot_count = workers;
    return true;
}

void run_tally_clear(int slot)
{
    if (mapping != nullptr && slot >= 0 && slot < slot_count)
        memset(slot_of(slot), 0, size_t(slot_length) * sizeof(qint64));
}

void run_tally_use(int slot)
{
    own_slot = mapping != nullptr && slot >= 0 && slot < slot_count ? slot : -1;
}

void run_tally_add(const ATTRIBUTE *measurement, qint64 records, qint64 bytes)
{
    if (own_slot < 0)
        return;
    const int position = run_tally_position(measurement);
    if (position < 0)
        return;
    qint64 *counts = slot_of(own_slot);
    counts[0] += bytes;
    counts[1 + position] += records;
}

void run_tally_take(int slot, qint64 *records, qint64 *bytes)
{
    if (mapping == nullptr || slot < 0 || slot >= slot_count)
        return;
    const qint64 *counts = slot_of(slot);
    *bytes += counts[0];
    for (int i = 1; i < slot_length; ++i)
        records[i - 1] += counts[i];
}

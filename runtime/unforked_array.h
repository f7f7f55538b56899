// unforked_array.h - arrays of plain values in memory that a fork leaves out.

#ifndef CORVANE_UNFORKED_ARRAY_H
#define CORVANE_UNFORKED_ARRAY_H

#include <sys/types.h>

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

// A fork copies the page table entry of every private page of the parent, and a worker's
// exit takes them down again; after the fork, every page the parent writes to faults once
// more. The parent's lists of a run's files grow with their number, so with them in the
// heap each file would cost more the more files a run has: with 100,000 files, twice as
// much as with 5,000. These arrays are mappings of their own, marked MADV_DONTFORK: a
// worker does not get them at all, and what it needs of its own file is put into the
// parent's ordinary memory before its fork.
//
// In a worker the array's memory is not there: only the process that made an array may
// read it, and only that process unmaps it (the range may hold another mapping there).
namespace unforked
{
// A new mapping of at least `bytes`, or the mapping at `block` grown to hold them (its
// contents kept, perhaps at another address). Sizes are rounded up to whole pages.
void *grow(void *block, size_t *capacity, size_t bytes);
void release(void *block, size_t capacity, pid_t owner);
pid_t this_process();
} // namespace unforked

template <typename T> class UNFORKED_ARRAY
{
    static_assert(std::is_trivially_copyable_v<T>, "the values are moved as bytes");

public:
    UNFORKED_ARRAY() = default;
    UNFORKED_ARRAY(const UNFORKED_ARRAY &) = delete;
    UNFORKED_ARRAY &operator=(const UNFORKED_ARRAY &) = delete;
    UNFORKED_ARRAY(UNFORKED_ARRAY &&other) noexcept { take(other); }
    UNFORKED_ARRAY &operator=(UNFORKED_ARRAY &&other) noexcept
    {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ~UNFORKED_ARRAY() { release(); }

    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    T *data() { return values; }
    const T *data() const { return values; }
    T &operator[](size_t index) { return values[index]; }
    const T &operator[](size_t index) const { return values[index]; }
    const T &at(size_t index) const { return values[index]; }
    const T *begin() const { return values; }
    const T *end() const { return values + count; }
    T *begin() { return values; }
    T *end() { return values + count; }

    void reserve(size_t wanted)
    {
        if (wanted * sizeof(T) > capacity) {
            values = static_cast<T *>(unforked::grow(values, &capacity, wanted * sizeof(T)));
            owner = unforked::this_process();
        }
    }
    void push_back(const T &value)
    {
        if ((count + 1) * sizeof(T) > capacity)
            reserve(count < 64 ? 64 : count * 2);
        values[count++] = value;
    }
    void append(const T *from, size_t length)
    {
        if (length == 0)
            return;
        if ((count + length) * sizeof(T) > capacity)
            reserve(count + length < 2 * count ? 2 * count : count + length);
        memcpy(static_cast<void *>(values + count), from, length * sizeof(T));
        count += length;
    }
    void resize(size_t wanted)
    {
        reserve(wanted);
        for (size_t i = count; i < wanted; ++i)
            values[i] = T();
        count = wanted;
    }
    void clear() { count = 0; }
    // The memory goes back to the system at once.
    void release()
    {
        unforked::release(values, capacity, owner);
        values = nullptr;
        capacity = 0;
        count = 0;
    }

private:
    void take(UNFORKED_ARRAY &other)
    {
        values = std::exchange(other.values, nullptr);
        count = std::exchange(other.count, 0);
        capacity = std::exchange(other.capacity, 0);
        owner = other.owner;
    }

    T *values = nullptr;
    size_t count = 0;
    size_t capacity = 0; // in bytes
    pid_t owner = 0;
};

#endif

// byte_string.h - a growable byte buffer for values on the conversion's hot path.
//
// Values are copied into a buffer that keeps its allocation from one value to the next,
// with the copy done inline: per element the program copies a few short texts, and the
// library calls of QByteArray or std::string cost more than the bytes themselves.

#ifndef CORVANE_BYTE_STRING_H
#define CORVANE_BYTE_STRING_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

// Copies a short run of bytes without a library call: most values are a few bytes long.
inline void copy_bytes(char *to, const char *from, int length)
{
    if (length > 16) {
        memcpy(to, from, static_cast<size_t>(length));
    } else if (length >= 8) {
        uint64_t head, tail;
        memcpy(&head, from, 8);
        memcpy(&tail, from + length - 8, 8);
        memcpy(to, &head, 8);
        memcpy(to + length - 8, &tail, 8);
    } else if (length >= 4) {
        uint32_t head, tail;
        memcpy(&head, from, 4);
        memcpy(&tail, from + length - 4, 4);
        memcpy(to, &head, 4);
        memcpy(to + length - 4, &tail, 4);
    } else if (length > 0) {
        to[0] = from[0];
        to[length / 2] = from[length / 2];
        to[length - 1] = from[length - 1];
    }
}

// Compares two runs of bytes of the same length without a library call for short ones.
inline bool same_bytes(const char *a, const char *b, int length)
{
    if (length > 16)
        return memcmp(a, b, static_cast<size_t>(length)) == 0;
    if (length >= 8) {
        uint64_t a1, a2, b1, b2;
        memcpy(&a1, a, 8);
        memcpy(&b1, b, 8);
        memcpy(&a2, a + length - 8, 8);
        memcpy(&b2, b + length - 8, 8);
        return a1 == b1 && a2 == b2;
    }
    for (int i = 0; i < length; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

// True when one of the eight bytes of the word equals the byte `of`.
inline bool word_holds(uint64_t word, char of)
{
    const uint64_t ones = 0x0101010101010101ULL;
    const uint64_t highs = 0x8080808080808080ULL;
    const uint64_t x = word ^ (ones * static_cast<unsigned char>(of));
    return ((x - ones) & ~x & highs) != 0;
}

// True when a CR byte occurs in the run; looks at eight bytes at a time.
inline bool holds_cr(const char *text, int length)
{
    int i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        memcpy(&word, text + i, 8);
        if (word_holds(word, '\r'))
            return true;
    }
    for (; i < length; ++i) {
        if (text[i] == '\r')
            return true;
    }
    return false;
}

// True when the text holds a byte below 14: of those, XML text can only hold TAB, LF and
// CR. One comparison per byte, eight bytes at a time, for the values that are captured
// by the million and are nearly always plain.
inline bool holds_control(const char *text, int length)
{
    const uint64_t ones = 0x0101010101010101ULL;
    const uint64_t highs = 0x8080808080808080ULL;
    int i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        memcpy(&word, text + i, 8);
        if (((word - ones * 14) & ~word & highs) != 0)
            return true;
    }
    for (; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) < 14)
            return true;
    }
    return false;
}

// The length of the leading run without TAB, LF or CR; eight bytes at a time.
inline int plain_prefix(const char *text, int length)
{
    int i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        memcpy(&word, text + i, 8);
        if (word_holds(word, '\t') || word_holds(word, '\n') || word_holds(word, '\r'))
            break;
    }
    for (; i < length; ++i) {
        if (text[i] == '\t' || text[i] == '\n' || text[i] == '\r')
            break;
    }
    return i;
}

class BYTE_STRING
{
public:
    BYTE_STRING() = default;
    BYTE_STRING(const char *text) { assign(text, static_cast<int>(strlen(text))); }
    BYTE_STRING(const BYTE_STRING &other) { assign(other.data(), other.size()); }
    BYTE_STRING &operator=(const BYTE_STRING &other)
    {
        if (this != &other)
            assign(other.data(), other.size());
        return *this;
    }
    BYTE_STRING &operator=(const char *text)
    {
        assign(text, static_cast<int>(strlen(text)));
        return *this;
    }
    ~BYTE_STRING()
    {
        if (room > 0)
            free(bytes);
    }

    const char *data() const { return bytes; }
    int size() const { return used; }
    bool isEmpty() const { return used == 0; }
    std::string_view view() const { return std::string_view(data(), static_cast<size_t>(used)); }
    bool operator==(std::string_view other) const
    {
        return other.size() == static_cast<size_t>(used) && same_bytes(data(), other.data(), used);
    }

    void clear() { used = 0; }
    void assign(const char *text, int length)
    {
        if (length > room)
            reserve(length);
        copy(bytes, text, length);
        used = length;
    }
    void append(const char *text, int length)
    {
        if (used + length > room)
            reserve(used + length);
        copy(bytes + used, text, length);
        used += length;
    }
    void append(char c)
    {
        if (used + 1 > room)
            reserve(used + 1);
        bytes[used++] = c;
    }
    void truncate(int length) { used = length; }
    void swap(BYTE_STRING &other)
    {
        std::swap(bytes, other.bytes);
        std::swap(used, other.used);
        std::swap(room, other.room);
    }

private:
    static void copy(char *to, const char *from, int length) { copy_bytes(to, from, length); }
    [[gnu::noinline]] void reserve(int length)
    {
        int want = room < 32 ? 32 : room;
        while (want < length)
            want *= 2;
        char *grown =
            static_cast<char *>(realloc(room > 0 ? bytes : nullptr, static_cast<size_t>(want)));
        if (grown == nullptr)
            throw std::bad_alloc();
        bytes = grown;
        room = want;
    }

    // Never null: an empty string without room of its own points at a shared empty text,
    // so that data() needs no test.
    char *bytes = const_cast<char *>("");
    int used = 0;
    int room = 0;
};

#endif

// file_names.cpp - lossless text form of file names and their escaped form for the log.
//
// Qt decodes directory entries as UTF-8 and turns bytes that are not UTF-8 (a name
// written in Latin-1, say) into U+FFFD, after which the file can be neither opened nor
// removed by that name, and two such names look alike. Here each stray byte b becomes
// the character U+F700 + b instead. A lone surrogate (the usual choice) would do as
// well for the round trip, but Qt's regular expressions refuse to match text holding
// one, and names are matched against patterns. A valid sequence that itself encodes a
// character of that block is taken apart into escaped bytes too, which keeps the
// mapping one-to-one.

#include "runtime/file_names.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace
{

constexpr char32_t ESCAPE_BASE = 0xF700;
constexpr char32_t ESCAPE_FIRST = ESCAPE_BASE + 0x80;
constexpr char32_t ESCAPE_LAST = ESCAPE_BASE + 0xFF;

bool is_escape(char32_t c) { return c >= ESCAPE_FIRST && c <= ESCAPE_LAST; }

bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at data[at] and its character, or 0.
int utf8_sequence(const QByteArray &data, int at, char32_t *character)
{
    const auto byte = [&](int i) { return static_cast<unsigned char>(data[at + i]); };
    const int left = data.size() - at;
    const unsigned char lead = byte(0);
    int length;
    char32_t c;
    char32_t lowest;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if (!continuation(byte(i)))
            return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    if (c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    *character = c;
    return length;
}

void append_utf8(QByteArray *out, char32_t c)
{
    if (c < 0x80) {
        out->append(static_cast<char>(c));
    } else if (c < 0x800) {
        out->append(static_cast<char>(0xC0 | (c >> 6)));
        out->append(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->append(static_cast<char>(0xE0 | (c >> 12)));
        out->append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->append(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->append(static_cast<char>(0xF0 | (c >> 18)));
        out->append(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->append(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

QString hex_escape(unsigned byte)
{
    return QStringLiteral("\\x") +
           QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

} // namespace

QString decode_file_name(const QByteArray &raw)
{
    QString name;
    name.reserve(raw.size());
    for (int at = 0; at < raw.size();) {
        const auto byte = static_cast<unsigned char>(raw[at]);
        if (byte < 0x80) {
            name.append(QLatin1Char(static_cast<char>(byte)));
            ++at;
            continue;
        }
        char32_t c = 0;
        const int length = utf8_sequence(raw, at, &c);
        if (length > 0 && !is_escape(c)) {
            name.append(QString::fromUcs4(&c, 1));
            at += length;
        } else {
            name.append(QChar(static_cast<char16_t>(ESCAPE_BASE + byte)));
            ++at;
        }
    }
    return name;
}

QByteArray encode_file_name(const QString &name)
{
    QByteArray raw;
    raw.reserve(name.size());
    for (int i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(c)) {
            c = 0xFFFD;
        }
        if (is_escape(c))
            raw.append(static_cast<char>(c - ESCAPE_BASE));
        else
            append_utf8(&raw, c);
    }
    return raw;
}

QString printable_name(const QString &name)
{
    QString text;
    text.reserve(name.size());
    for (const QChar ch : name) {
        const char16_t c = ch.unicode();
        if (c == '\n')
            text += QStringLiteral("\\n");
        else if (c == '\t')
            text += QStringLiteral("\\t");
        else if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c == '\\')
            text += QStringLiteral("\\\\");
        else if (c < 0x20 || c == 0x7F)
            text += hex_escape(c);
        else if (is_escape(c))
            text += hex_escape(c - ESCAPE_BASE);
        else
            text += ch;
    }
    return text;
}

QString system_reason(int error) { return QString::fromLocal8Bit(strerror(error)); }

int sync_directory(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int result = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

int rename_without_replacing(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

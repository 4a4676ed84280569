#include "outputlines.h"

#include <QStringDecoder>

#include <algorithm>
#include <climits>
#include <cstring>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

// Text that is not UTF-8. On Windows it is in the console's code page: a console
// program started without a window of its own (as the converter is) gets a console
// whose output code page is the OEM one, and writes paths in it ("\x82" is "é" in 850,
// "\xe9" would be "Θ"). Elsewhere it is Latin-1, one character per byte, so that no
// byte is ever lost.
QString fromLegacy(const char *begin, qsizetype length)
{
#ifdef Q_OS_WIN
    if (length > 0 && length < qsizetype(INT_MAX)) {
        const int size = ::MultiByteToWideChar(CP_OEMCP, 0, begin, int(length), nullptr, 0);
        if (size > 0) {
            QString text(size, Qt::Uninitialized);
            ::MultiByteToWideChar(CP_OEMCP, 0, begin, int(length),
                                  reinterpret_cast<wchar_t *>(text.data()), size);
            return text;
        }
    }
#endif
    return QString::fromLatin1(begin, length);
}

// A line is UTF-8 when it is valid UTF-8 (paths on Linux are), and in the legacy
// encoding above otherwise.
QString decodeLine(const char *begin, qsizetype length)
{
    const bool ascii = std::all_of(begin, begin + length,
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return QString::fromLatin1(begin, length);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString line = utf8.decode(QByteArrayView(begin, length));
    return utf8.hasError() ? fromLegacy(begin, length) : line;
}

// The characters that UTF-8 bytes hold: every byte but a continuation byte starts one.
qint64 utf8Characters(const char *begin, const char *end)
{
    return std::count_if(begin, end,
                         [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; });
}

} // namespace

QStringList OutputLines::take(const QByteArray &chunk)
{
    QStringList lines;
    const char *const end = chunk.constData() + chunk.size();
    const char *lineStart = chunk.constData();
    while (const void *found = std::memchr(lineStart, '\n', end - lineStart)) {
        const char *lineEnd = static_cast<const char *>(found);
        const char *textEnd = lineEnd != lineStart && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
        if (tail.isEmpty() && leftOut == 0 && textEnd - lineStart <= maxLineLength) {
            // The common case: a whole line within this chunk.
            lines << decodeLine(lineStart, textEnd - lineStart);
        } else {
            keep(lineStart, lineEnd);
            lines << finishLine(true);
        }
        lineStart = lineEnd + 1;
    }
    keep(lineStart, end);
    return lines;
}

QString OutputLines::takeRest()
{
    // At the end of the output a carriage return ends no line: it stays.
    return tail.isEmpty() && leftOut == 0 ? QString() : finishLine(false);
}

void OutputLines::keep(const char *begin, const char *end)
{
    // Room for the bytes of one character more than shown (UTF-8 takes up to four a
    // character), which may be the CR of a CR LF.
    const qsizetype room = std::max<qsizetype>(4 * (maxLineLength + 1) - tail.size(), 0);
    const qsizetype length = end - begin;
    if (length <= room) {
        tail.append(begin, length);
        return;
    }
    tail.append(begin, room);
    leftOut += length - room;
    leftOutCharacters += utf8Characters(begin + room, end);
    leftOutEndsInCarriageReturn = end[-1] == '\r';
}

QString OutputLines::finishLine(bool endedByLineFeed)
{
    const bool carriageReturn
            = endedByLineFeed && (leftOut > 0 ? leftOutEndsInCarriageReturn : tail.endsWith('\r'));
    if (carriageReturn && leftOut == 0)
        tail.chop(1);
    // A line cut short is taken as UTF-8 when what is kept of it is (a character cut at
    // the end of what is kept is counted with those left out), as legacy text otherwise.
    QStringDecoder utf8(QStringConverter::Utf8,
                        leftOut > 0 ? QStringConverter::Flag::Default
                                    : QStringConverter::Flag::Stateless);
    QString line = utf8.decode(tail);
    qint64 length = 0;
    if (utf8.hasError()) {
        line = fromLegacy(tail.constData(), tail.size());
        length = line.size() + leftOut;
    } else {
        length = utf8Characters(tail.constBegin(), tail.constEnd()) + leftOutCharacters;
    }
    if (carriageReturn && leftOut > 0)
        --length;
    if (length > maxLineLength) {
        // Cut after maxLineLength characters, never inside a surrogate pair.
        qsizetype units = 0;
        for (qsizetype characters = 0; characters < maxLineLength; ++characters)
            units += line.at(units).isHighSurrogate() ? 2 : 1;
        line.truncate(units);
        line += QStringLiteral(" ... (%1 more characters not shown)").arg(length - maxLineLength);
    }
    tail.clear();
    leftOut = 0;
    leftOutCharacters = 0;
    return line;
}

#include "outputlines.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace {

// A line is UTF-8 when it is valid UTF-8 (paths on Linux are), and Latin-1 otherwise,
// one character per byte, so that no byte is ever lost.
QString decodeLine(const char *begin, qsizetype length)
{
    const bool ascii = std::all_of(begin, begin + length,
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return QString::fromLatin1(begin, length);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString line = utf8.decode(QByteArrayView(begin, length));
    return utf8.hasError() ? QString::fromLatin1(begin, length) : line;
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
    // Room for one character more than shown, which may be the CR of a CR LF.
    const qsizetype room = std::max<qsizetype>(maxLineLength + 1 - tail.size(), 0);
    const qsizetype length = end - begin;
    if (length <= room) {
        tail.append(begin, length);
        return;
    }
    tail.append(begin, room);
    leftOut += length - room;
    leftOutEndsInCarriageReturn = end[-1] == '\r';
}

QString OutputLines::finishLine(bool endedByLineFeed)
{
    const bool carriageReturn
            = endedByLineFeed && (leftOut > 0 ? leftOutEndsInCarriageReturn : tail.endsWith('\r'));
    const qint64 length = tail.size() + leftOut - (carriageReturn ? 1 : 0);
    QString line = decodeLine(tail.constData(), std::min<qint64>(length, maxLineLength));
    if (length > maxLineLength)
        line += QStringLiteral(" ... (%1 more characters not shown)").arg(length - maxLineLength);
    tail.clear();
    leftOut = 0;
    return line;
}

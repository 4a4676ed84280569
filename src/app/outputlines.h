#pragma once

#include <QByteArray>
#include <QStringList>

// Cuts the converter's standard output into lines. Output arrives in chunks that
// need not end at a line break: the unfinished tail of a chunk waits for the rest of
// its line. LF ends a line, and so does CR LF (a converter on Windows writes it).
// A line is decoded as UTF-8 when it is valid UTF-8, and otherwise as Latin-1 (one
// character per byte, so nothing is lost), on Windows in the console's (OEM) code page;
// a NUL byte is a character like any other.
//
// A line longer than maxLineLength characters (code points) is cut there and ends in a
// note of how many characters were left out: Qt takes time that grows with the square of the
// length to lay out an unbroken run of text (a second for 100,000 characters), and a
// converter that never ends its line must not fill the memory.
class OutputLines
{
public:
    static constexpr qsizetype defaultMaxLineLength = 10000;

    explicit OutputLines(qsizetype maxLineLength = defaultMaxLineLength)
        : maxLineLength(maxLineLength)
    { }

    // The lines that `chunk` completes, in order, without their line ends.
    QStringList take(const QByteArray &chunk);

    // The unfinished last line, once the output has ended; empty if there is none.
    QString takeRest();

private:
    void keep(const char *begin, const char *end);
    QString finishLine(bool endedByLineFeed);

    qsizetype maxLineLength;
    QByteArray tail;
    qint64 leftOut = 0; // bytes
    qint64 leftOutCharacters = 0; // of them, taken as UTF-8
    bool leftOutEndsInCarriageReturn = false;
};

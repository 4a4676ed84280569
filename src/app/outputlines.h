#pragma once

#include <QByteArray>
#include <QStringList>

// Cuts the converter's standard output into lines. Output arrives in chunks that
// need not end at a line break: the unfinished tail of a chunk waits for the rest of
// its line. LF ends a line, and so does CR LF (a converter on Windows writes it).
// Bytes are read as Latin-1, one character each, so nothing is lost or reinterpreted.
class OutputLines
{
public:
    // The lines that `chunk` completes, in order, without their line ends.
    QStringList take(const QByteArray &chunk);

    // The unfinished last line, once the output has ended; empty if there is none.
    QString takeRest();

    qsizetype pendingSize() const { return tail.size(); }

private:
    QByteArray tail;
};

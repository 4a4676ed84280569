#pragma once

#include <QStringView>

// Where a line of printable ASCII may be broken, as Qt's text layout finds it (Unicode's
// line breaking as Qt 6 tailors it): sets breakBefore[i] for each i in 1..size() before
// which a line may end (breakBefore[size()] always, for a text that is not empty) and
// clears the rest. Returns false, leaving breakBefore as it was, if `text` holds anything but
// printable ASCII; QTextBoundaryFinder answers for such text.
//
// Converters print paths of hundreds of characters, most of which wrap: finding their
// breaks with QTextBoundaryFinder took a quarter of the time of showing them (it looks
// up each character's script and line breaking class in Unicode's full tables).
bool asciiLineBreaks(QStringView text, bool *breakBefore);

// Whether `text` is printable ASCII (U+0020 to U+007E), told in one sweep without branches:
// nearly every line of a flood passes here.
inline bool isPrintableAscii(QStringView text)
{
    char16_t outside = 0;
    for (const QChar c : text)
        outside |= char16_t(c.unicode() - 0x20) >= 0x5f;
    return !outside;
}

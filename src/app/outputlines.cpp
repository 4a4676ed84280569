#include "outputlines.h"

namespace {

QString lineText(const char *begin, const char *end)
{
    if (end != begin && end[-1] == '\r')
        --end;
    return QString::fromLatin1(begin, end - begin);
}

} // namespace

QStringList OutputLines::take(const QByteArray &chunk)
{
    QStringList lines;
    const char *const data = chunk.constData();
    const char *const end = data + chunk.size();
    const char *lineStart = data;
    for (const char *lf; (lf = static_cast<const char *>(memchr(lineStart, '\n', end - lineStart)));
         lineStart = lf + 1) {
        if (!tail.isEmpty()) {
            tail.append(lineStart, lf - lineStart);
            lines << lineText(tail.constData(), tail.constData() + tail.size());
            tail.clear();
        } else {
            lines << lineText(lineStart, lf);
        }
    }
    tail.append(lineStart, end - lineStart);
    return lines;
}

QString OutputLines::takeRest()
{
    QString rest = QString::fromLatin1(tail);
    tail.clear();
    return rest;
}

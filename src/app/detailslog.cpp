#include "detailslog.h"

#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// Keeps a reader who follows the end of the log at the end; one who scrolled up to
// read stays where they are.
class FollowEnd
{
public:
    explicit FollowEnd(QTextBrowser *view)
        : bar(view->verticalScrollBar()), atEnd(bar->value() == bar->maximum())
    { }
    ~FollowEnd()
    {
        if (atEnd)
            bar->setValue(bar->maximum());
    }

private:
    QScrollBar *bar;
    bool atEnd;
};

} // namespace

DetailsLog::DetailsLog(QTextBrowser *view) : QObject(view), view(view)
{
    view->setOpenLinks(false);
    view->setOpenExternalLinks(false);
    // A read-only log needs no undo history; keeping one would double its memory.
    view->document()->setUndoRedoEnabled(false);
}

void DetailsLog::restart(const QString &firstLine)
{
    view->clear();
    view->setPlainText(firstLine);
}

void DetailsLog::appendLines(const QStringList &lines)
{
    if (lines.isEmpty())
        return;
    FollowEnd follow(view);
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const QString &line : lines) {
        cursor.insertText(line);
        cursor.insertBlock();
    }
    cursor.endEditBlock();
}

void DetailsLog::appendText(const QString &text)
{
    FollowEnd follow(view);
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

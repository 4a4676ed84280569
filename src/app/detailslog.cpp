#include "detailslog.h"

#include "loglayout.h"

#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#ifdef __GLIBC__
#include <malloc.h>
#endif

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

// A carriage return inside a line would start a new paragraph in the document and
// upset the count of lines per paragraph; it is shown as the line break it stands for.
QString displayed(QString line)
{
    line.replace(QLatin1Char('\r'), QChar::LineSeparator);
    return line;
}

} // namespace

DetailsLog::DetailsLog(QTextBrowser *view, Limits limits)
    : QObject(view), view(view), limits(limits)
{
    view->setOpenLinks(false);
    view->setOpenExternalLinks(false);
    // A read-only log needs no undo history; keeping one would double its memory.
    view->document()->setUndoRedoEnabled(false);
    // Most of the time spent laying out text goes into shaping it (kerning, ligatures).
    // Converter output reads as well without; and without them a line's width is the sum
    // of its characters' advances, which is how the log's layout measures it.
    QFont font = view->font();
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setKerning(false);
    view->setFont(font);
    auto *layout = new LogLayout(view->document());
    layout->setPaintDevice(view->viewport());
    view->document()->setDocumentLayout(layout);
    passTimer.setSingleShot(true);
    connect(&passTimer, &QTimer::timeout, this, &DetailsLog::insertPass);
}

void DetailsLog::restart(const QString &firstLine)
{
    passTimer.stop();
    queue.clear();
    queuedLines = 0;
    queuedCharacters = 0;
    afterShown = nullptr;
    view->clear();
    replaceText(firstLine);
}

void DetailsLog::replaceText(const QString &text)
{
    paragraphs.clear();
    shownLines = 0;
    shownCharacters = 0;
    droppedLines = 0;
    hasNotice = false;
    view->setPlainText(text);
    // Output goes into the last paragraph, which is empty when `text` ends with a
    // line feed.
    firstOutputBlock = view->document()->blockCount() - 1;
}

void DetailsLog::appendLines(const QStringList &lines)
{
    if (lines.isEmpty())
        return;
    for (const QString &line : lines) {
        queue.push_back({ line, true });
        queuedCharacters += line.size() + 1;
    }
    queuedLines += lines.size();
    dropQueuedOverflow();
    schedule();
}

void DetailsLog::appendText(const QString &text)
{
    queue.push_back({ text, false });
    schedule();
}

void DetailsLog::whenShown(std::function<void()> action)
{
    if (queue.empty())
        action();
    else
        afterShown = std::move(action);
}

void DetailsLog::schedule()
{
    // A few lines at a time (a converter that trickles) are gathered for a moment, so
    // that they make fewer, fuller paragraphs and fewer repaints; a paragraph's worth,
    // or the end of the run, goes out once the events waiting now are handled.
    const bool full = queuedLines >= linesPerParagraph || !queue.back().isLine;
    if (full && passTimer.isActive() && passTimer.interval() > 0)
        passTimer.stop();
    if (!passTimer.isActive())
        passTimer.start(full ? 0 : gatherMs);
}

void DetailsLog::insertPass()
{
    QElapsedTimer clock;
    clock.start();
    {
        FollowEnd follow(view);
        QTextCursor cursor(view->document());
        cursor.movePosition(QTextCursor::End);
        // Dropping old lines makes Qt copy all the text it keeps into a new block (it
        // compacts its buffer), whatever the size of the batch: that gets a pass of its
        // own.
        if (dropDue()) {
            dropOldest(shownLines - limits.lines * 3 / 4,
                       shownCharacters - limits.characters * 3 / 4);
        } else {
            while (!queue.empty() && clock.elapsed() < passBudgetMs && !dropDue())
                insertNext(cursor);
        }
    }
    if (!queue.empty()) {
        schedule();
    } else if (afterShown) {
        // The action may queue more or restart the log: take it out first.
        const auto action = std::move(afterShown);
        afterShown = nullptr;
        action();
    }
}

bool DetailsLog::dropDue() const
{
    // Old lines go when the next paragraph could pass a limit; up to the limits,
    // nothing is dropped.
    if (queue.empty() || !queue.front().isLine)
        return false;
    const qint64 nextLines = std::min<qint64>(queuedLines, linesPerParagraph);
    const qint64 nextCharacters = std::min<qint64>(
            queuedCharacters,
            std::max<qint64>(charactersPerParagraph, queue.front().text.size() + 1));
    return shownLines + nextLines > limits.lines
            || shownCharacters + nextCharacters > limits.characters;
}

void DetailsLog::insertNext(QTextCursor &cursor)
{
    if (!queue.front().isLine) {
        cursor.insertText(queue.front().text);
        queue.pop_front();
        return;
    }
    // A paragraph takes up to linesPerParagraph lines and stops growing once it holds
    // charactersPerParagraph characters; a single line always fits. (Adding lines to a
    // paragraph already shown would lay it out again, and Qt then keeps twice the
    // memory: a trickle is gathered into fuller paragraphs by schedule() instead.)
    qint64 lines = 0;
    qint64 characters = 0;
    QString text;
    while (!queue.empty() && queue.front().isLine && lines < linesPerParagraph) {
        const qsizetype length = queue.front().text.size();
        if (lines > 0 && characters + length + 1 > charactersPerParagraph)
            break;
        if (lines > 0)
            text += QChar::LineSeparator;
        text += displayed(std::move(queue.front().text));
        queue.pop_front();
        queuedLines -= 1;
        queuedCharacters -= length + 1;
        characters += length + (lines > 0 ? 1 : 0);
        ++lines;
    }
    // Text added before may have filled the last, empty paragraph. Each insertion is
    // one edit, so the paragraph is laid out once.
    if (cursor.block().length() > 1)
        cursor.insertBlock();
    cursor.insertText(text + QChar::ParagraphSeparator);
    paragraphs.push_back({ lines, characters });
    shownLines += lines;
    shownCharacters += characters;
}

void DetailsLog::dropOldest(qint64 lines, qint64 characters)
{
    int count = 0;
    qint64 removedLines = 0;
    qint64 removedCharacters = 0;
    // At least one paragraph goes, so that every drop makes room.
    while ((removedLines < lines || removedCharacters < characters || count == 0)
           && !paragraphs.empty()) {
        removedLines += paragraphs.front().lines;
        removedCharacters += paragraphs.front().characters;
        paragraphs.pop_front();
        ++count;
    }
    shownLines -= removedLines;
    shownCharacters -= removedCharacters;
    droppedLines += removedLines;

    // One edit for the removal and the notice: Qt then moves the paragraphs after
    // them only once.
    QTextDocument *document = view->document();
    QTextCursor edit(document);
    edit.beginEditBlock();
    const int first = firstOutputBlock + (hasNotice ? 1 : 0);
    edit.setPosition(document->findBlockByNumber(first).position());
    edit.setPosition(document->findBlockByNumber(first + count).position(),
                     QTextCursor::KeepAnchor);
    edit.removeSelectedText();
    writeNotice(edit);
    edit.endEditBlock();
}

void DetailsLog::dropQueuedOverflow()
{
    if (queuedLines <= limits.lines && queuedCharacters <= limits.characters)
        return;
    // What is queued would push out everything shown so far: that goes at once, and
    // so do the oldest queued lines, which would never be seen.
    if (!paragraphs.empty())
        dropOldest(shownLines, shownCharacters);
    while ((queuedLines > limits.lines * 3 / 4 || queuedCharacters > limits.characters * 3 / 4)
           && !queue.empty() && queue.front().isLine) {
        queuedCharacters -= queue.front().text.size() + 1;
        queue.pop_front();
        --queuedLines;
        ++droppedLines;
    }
    QTextCursor edit(view->document());
    writeNotice(edit);
}

void DetailsLog::writeNotice(QTextCursor &cursor)
{
    // The notice has a paragraph of its own in front of the first line of output.
    cursor.setPosition(view->document()->findBlockByNumber(firstOutputBlock).position());
    if (!hasNotice) {
        cursor.insertBlock();
        cursor.movePosition(QTextCursor::PreviousBlock);
        hasNotice = true;
    }
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(tr("... %1 earlier lines not shown ...").arg(droppedLines));
}

void keepLargeBlocksInHeap()
{
#ifdef __GLIBC__
    // The heap is given back to the system only when 128 MB at its top are free.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

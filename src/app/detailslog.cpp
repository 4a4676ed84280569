#include "detailslog.h"

#include "logheap.h"
#include "loglayout.h"

#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBlock>
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

// Queued lines are joined by line feeds (no line holds one); shown, by line separators.
// A carriage return inside a line is shown as the line break it stands for. Either
// character would start a new paragraph in the document.
QString displayed(QString lines)
{
    for (QChar &c : lines) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QChar::LineSeparator;
    }
    return lines;
}

} // namespace

DetailsLog::DetailsLog(QTextBrowser *view, Limits limits)
    : QObject(view), view(view), limits(limits)
{
    view->setOpenLinks(false);
    view->setOpenExternalLinks(false);
    // A read-only log needs no undo history; keeping one would double its memory.
    view->document()->setUndoRedoEnabled(false);
    passTimer.setSingleShot(true);
    connect(&passTimer, &QTimer::timeout, this, &DetailsLog::insertPass);
}

void DetailsLog::prepareView()
{
    if (qobject_cast<LogLayout *>(view->document()->documentLayout()))
        return;
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
}

void DetailsLog::restart(const QString &firstLine)
{
    prepareView();
    passTimer.stop();
    queue.clear();
    queuedLines = 0;
    queuedCharacters = 0;
    afterShown = nullptr;
    view->clear();
    heap.release();
    drops = 0;
    heapWarmings = 0;
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
    // Lines are queued as the paragraphs they will be shown in: a paragraph takes up to
    // linesPerParagraph lines and stops growing once it holds charactersPerParagraph
    // characters; a single line always fits. A flood can queue 200,000 lines: queued in
    // UTF-8 and without a block of memory each, a line takes half of what it takes shown.
    for (const QString &line : lines) {
        const QByteArray utf8 = line.toUtf8();
        Entry *last = queue.empty() ? nullptr : &queue.back();
        if (last && last->lines > 0 && last->lines < linesPerParagraph
            && last->characters + 1 + line.size() <= charactersPerParagraph) {
            last->text += '\n';
            last->characters += 1;
        } else {
            last = &queue.emplace_back();
            last->text.reserve(std::min<qsizetype>((utf8.size() + 1) * linesPerParagraph,
                                                   charactersPerParagraph));
        }
        last->text += utf8;
        last->characters += line.size();
        ++last->lines;
        queuedCharacters += line.size() + 1;
    }
    queuedLines += lines.size();
    dropQueuedOverflow();
    schedule();
}

void DetailsLog::appendText(const QString &text)
{
    queue.push_back({ text.toUtf8(), 0, text.size() });
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
    const bool full = queuedLines >= linesPerParagraph || queue.back().lines == 0;
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
            dropOldest(shownLines - kept(limits.lines), shownCharacters - kept(limits.characters));
        } else {
            while (!queue.empty() && clock.elapsed() < passBudgetMs && !dropDue())
                insertNext(cursor);
        }
    }
    // The counts of what is queued steer the drops: an empty queue counts nothing.
    Q_ASSERT(!queue.empty() || (queuedLines == 0 && queuedCharacters == 0));
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
    if (queue.empty() || queue.front().lines == 0)
        return false;
    return shownLines + queue.front().lines > limits.lines
            || shownCharacters + queue.front().characters > limits.characters;
}

void DetailsLog::insertNext(QTextCursor &cursor)
{
    Entry entry = std::move(queue.front());
    queue.pop_front();
    if (entry.lines == 0) {
        cursor.insertText(QString::fromUtf8(entry.text));
        return;
    }
    queuedLines -= entry.lines;
    queuedCharacters -= entry.characters + 1;
    // A paragraph once shown takes no more lines (laying it out again would cost more
    // than a new one): a trickle is gathered into fuller paragraphs by schedule().
    // Text added before may have filled the last, empty paragraph. Each insertion is one
    // edit.
    if (cursor.block().length() > 1)
        cursor.insertBlock();
    QString text = displayed(QString::fromUtf8(entry.text));
    text += QChar::ParagraphSeparator;
    cursor.insertText(text);
    paragraphs.push_back({ entry.lines, entry.characters });
    shownLines += entry.lines;
    shownCharacters += entry.characters;
    // Before the text buffer grows to the size it keeps at the limits.
    if (shownLines > limits.lines / 2 || shownCharacters > limits.characters / 2)
        heap.keepLargeBlocks();
    warmHeapForDrop();
}

void DetailsLog::warmHeapForDrop()
{
    // The first two drops of a run find no used block big enough for the copy of the
    // text kept (from the third on, the buffers they free serve): the pages they will
    // take are touched beforehand. The first needs room for the copy and for its growth.
    if (heapWarmings > 1 || heapWarmings > drops
        || (shownLines <= limits.lines * 3 / 4 && shownCharacters <= limits.characters * 3 / 4))
        return;
    const qint64 charactersAtLimit = std::min(
            limits.characters, shownCharacters * limits.lines / std::max<qint64>(shownLines, 1));
    const std::size_t buffer = std::size_t(charactersAtLimit) * sizeof(QChar);
    heap.warm(heapWarmings == 0 ? buffer * 5 / 4 : buffer);
    ++heapWarmings;
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
    ++drops;

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
    const auto tooMany = [this](qint64 lines, qint64 characters) {
        return queuedLines - lines > kept(limits.lines)
                || queuedCharacters - characters > kept(limits.characters);
    };
    while (tooMany(0, 0) && !queue.empty() && queue.front().lines > 0) {
        Entry &oldest = queue.front();
        // Whole paragraphs while the rest is still too much; then single lines, so that
        // exactly the newest three quarters stay.
        const qsizetype cut = oldest.text.indexOf('\n');
        if (cut < 0 || tooMany(oldest.lines, oldest.characters + 1)) {
            queuedLines -= oldest.lines;
            queuedCharacters -= oldest.characters + 1;
            droppedLines += oldest.lines;
            queue.pop_front();
        } else {
            const qsizetype length = QString::fromUtf8(oldest.text.first(cut)).size();
            queuedLines -= 1;
            queuedCharacters -= length + 1;
            droppedLines += 1;
            oldest.text.remove(0, cut + 1);
            oldest.lines -= 1;
            oldest.characters -= length + 1;
        }
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

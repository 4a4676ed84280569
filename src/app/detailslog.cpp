#include "detailslog.h"

#include "logheap.h"
#include "loglayout.h"

#include <QAccessibleTextInterface>
#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFormat>
#include <QtMath>

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

const char logProperty[] = "tarnwellDetailsLog";

// What a screen reader reads of the log. Qt's own interface for a text browser hands out
// the document's text with paragraph breaks made line feeds, but the line separators
// between the lines that share a paragraph as they stand (U+2028): here every line break
// is a line feed, as in a plain text browser with a paragraph per line.
class LogAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit LogAccessible(QTextBrowser *view)
        : QAccessibleWidget(view, QAccessible::EditableText), view(view)
    { }

    static QAccessibleInterface *create(const QString &className, QObject *object)
    {
        auto *view = qobject_cast<QTextBrowser *>(object);
        if (className != QLatin1String("QTextBrowser") || !view
            || !view->property(logProperty).toBool())
            return nullptr;
        return new LogAccessible(view);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectableText = true;
        state.multiLine = true;
        state.readOnly = true;
        return state;
    }
    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? view->toPlainText() : QAccessibleWidget::text(kind);
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(int startOffset, int endOffset) const override
    {
        QString text = cursor(startOffset, endOffset).selectedText();
        for (QChar &c : text) {
            if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
                c = QLatin1Char('\n');
        }
        return text;
    }
    int characterCount() const override { return view->document()->characterCount() - 1; }
    int cursorPosition() const override { return view->textCursor().position(); }
    void setCursorPosition(int position) override
    {
        view->setTextCursor(cursor(position, position));
    }
    int selectionCount() const override { return view->textCursor().hasSelection() ? 1 : 0; }
    void selection(int index, int *startOffset, int *endOffset) const override
    {
        const QTextCursor selected = view->textCursor();
        const bool has = index == 0 && selected.hasSelection();
        *startOffset = has ? selected.selectionStart() : 0;
        *endOffset = has ? selected.selectionEnd() : 0;
    }
    void addSelection(int startOffset, int endOffset) override
    {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int index) override
    {
        if (index == 0)
            setCursorPosition(cursorPosition());
    }
    void setSelection(int index, int startOffset, int endOffset) override
    {
        if (index == 0)
            view->setTextCursor(cursor(startOffset, endOffset));
    }
    QRect characterRect(int offset) const override
    {
        QRect rect = view->cursorRect(cursor(offset, offset));
        rect.setWidth(view->fontMetrics().horizontalAdvance(text(offset, offset + 1)));
        return QRect(view->viewport()->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint inView = view->viewport()->mapFromGlobal(point);
        const QPointF inDocument(inView.x() + view->horizontalScrollBar()->value(),
                                 inView.y() + view->verticalScrollBar()->value());
        return view->document()->documentLayout()->hitTest(inDocument, Qt::ExactHit);
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        const QTextCursor kept = view->textCursor();
        view->setTextCursor(cursor(endIndex, endIndex));
        view->ensureCursorVisible();
        view->setTextCursor(cursor(startIndex, startIndex));
        view->ensureCursorVisible();
        view->setTextCursor(kept);
    }
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        // One font, one colour: nothing sets a stretch apart.
        *startOffset = offset < 0 ? -1 : 0;
        *endOffset = offset < 0 ? -1 : characterCount();
        return QString();
    }

private:
    QTextCursor cursor(int anchor, int position) const
    {
        QTextCursor cursor(view->document());
        const int last = characterCount();
        cursor.setPosition(qBound(0, anchor, last));
        cursor.setPosition(qBound(0, position, last), QTextCursor::KeepAnchor);
        return cursor;
    }

    QTextBrowser *view;
};

// Keeps a reader who follows the end of the log at the end; one who scrolled up to
// read stays where they are.
class FollowEnd
{
public:
    FollowEnd(QTextBrowser *view, bool holdingTop)
        : bar(view->verticalScrollBar()), atEnd(!holdingTop && bar->value() == bar->maximum())
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
// Qt's text insertion starts a new paragraph at each of the characters here: shown as
// they stand, they would split a line and set the log's count of its paragraphs adrift.
// A carriage return and U+2029 are shown as the line break they stand for, the two
// noncharacters that Qt takes for frame marks as the replacement character.
QString shown(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() > u'\r' && c.unicode() < QChar::ParagraphSeparator)
            continue;
        switch (c.unicode()) {
        case u'\n':
        case u'\r':
        case QChar::ParagraphSeparator:
            c = QChar::LineSeparator;
            break;
        case 0xfdd0: // QTextBeginningOfFrame
        case 0xfdd1: // QTextEndOfFrame
            c = QChar::ReplacementCharacter;
            break;
        default:
            break;
        }
    }
    return text;
}

// Characters a font draws differently once shaped, whatever stands beside them: Hangul
// jamo (joined into syllables), the prepended concatenation marks (an Arabic number sign
// spans the digits after it), Thai and Lao SARA AM (drawn in two pieces), katakana VA to
// VO, the format controls of hieroglyphs and shorthand, private use characters, and the
// pieces of emoji sequences (flags, skin tones). Sorted, as [first, last).
constexpr std::pair<char32_t, char32_t> drawnOnceShaped[] = {
    { 0x600, 0x606 },     { 0x6dd, 0x6de },      { 0x890, 0x892 },     { 0x8e2, 0x8e3 },
    { 0xe33, 0xe34 },     { 0xeb3, 0xeb4 },      { 0x1100, 0x1200 },   { 0x30f7, 0x30fb },
    { 0xa960, 0xa980 },   { 0xd7b0, 0xd800 },    { 0xe000, 0xf900 },   { 0x110bd, 0x110be },
    { 0x110cd, 0x110ce }, { 0x13430, 0x13439 },  { 0x1bca0, 0x1bca4 }, { 0x1f1e6, 0x1f200 },
    { 0x1f3fb, 0x1f400 }, { 0xf0000, 0x110000 },
};

// Whether `text` must be shaped to be read. The log's font has shaping off, and Qt then
// still shapes the scripts that cannot do without (Indic, Khmer), but draws Arabic,
// Syriac or Mongolian letters in their isolated forms, a combining mark beside its
// letter, and the characters above as they are not meant to be. Nor does it mirror a
// bracket (or any character with a mirror image) that stands right to left.
bool needsShaping(QStringView text)
{
    bool mirrored = false;
    bool rightToLeft = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (c < 0x300) {
            mirrored = mirrored || QChar::hasMirrored(c);
            continue;
        }
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        mirrored = mirrored || QChar::hasMirrored(c);
        switch (QChar::direction(c)) {
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirAN: // between two Arabic digits, a bracket stands right to left
        case QChar::DirRLE:
        case QChar::DirRLO:
        case QChar::DirRLI:
        case QChar::DirFSI:
            rightToLeft = true;
            break;
        default:
            break;
        }
        // Joining letters and the joiner; transparent to joining are the marks (and
        // format controls, which need no shaping).
        const QChar::JoiningType joining = QChar::joiningType(c);
        const bool joins = joining != QChar::Joining_None && joining != QChar::Joining_Transparent;
        const auto range = std::upper_bound(
                std::begin(drawnOnceShaped), std::end(drawnOnceShaped), c,
                [](char32_t c, const std::pair<char32_t, char32_t> &r) { return c < r.second; });
        const bool drawnApart = range != std::end(drawnOnceShaped) && c >= range->first;
        if (QChar::isMark(c) || joins || drawnApart)
            return true;
    }
    return mirrored && rightToLeft;
}

// The format to show `text` in: the log's, or for text that needs shaping, shaped.
QTextCharFormat formatFor(QStringView text)
{
    QTextCharFormat format;
    if (needsShaping(text))
        format.setFontStyleStrategy(QFont::PreferDefault);
    return format;
}

} // namespace

DetailsLog::DetailsLog(QTextBrowser *view, Limits limits)
    : QObject(view), view(view), limits(limits)
{
    view->setOpenLinks(false);
    view->setOpenExternalLinks(false);
    view->setProperty(logProperty, true);
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(&LogAccessible::create);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    // Qt's own interface may have been made for the view already (when it was shown).
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(view);
    if (accessible && !dynamic_cast<LogAccessible *>(accessible))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(accessible));
    // Nothing in the log is a link: its context menu offers Copy and Select All only.
    view->setTextInteractionFlags(Qt::TextSelectableByMouse);
    view->installEventFilter(this);
    // A reader who scrolls lets go of the line the log kept at the top for them.
    connect(view->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this] { heldTopBlock = -1; });
    // A read-only log needs no undo history; keeping one would double its memory.
    view->document()->setUndoRedoEnabled(false);
    passTimer.setSingleShot(true);
    connect(&passTimer, &QTimer::timeout, this, &DetailsLog::insertPass);
    // The view's own, so that it lets the view paint again even if the log is deleted
    // first.
    paintTimer = new QTimer(view);
    paintTimer->setSingleShot(true);
    connect(paintTimer, &QTimer::timeout, this, &DetailsLog::releasePaint);
    connect(paintTimer, &QTimer::timeout, view, [view] { view->setUpdatesEnabled(true); });
    view->viewport()->installEventFilter(this);
}

DetailsLog::~DetailsLog()
{
    // A view held back goes on to paint at the frame's end.
    if (paintTimer->isActive())
        connect(paintTimer, &QTimer::timeout, paintTimer, &QObject::deleteLater);
    else
        delete paintTimer;
}

void DetailsLog::prepareView()
{
    layout = qobject_cast<LogLayout *>(view->document()->documentLayout());
    if (layout)
        return;
    // Most of the time spent laying out text goes into shaping it (kerning, ligatures).
    // Converter output reads as well without; and without them a line's width is the sum
    // of its characters' advances, which is how the log's layout measures it.
    QFont font = view->font();
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setKerning(false);
    view->setFont(font);
    layout = new LogLayout(view->document());
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
    heldTopBlock = -1;
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
    dropAllShown = false;
    droppedFromQueue = 0;
    hasNotice = false;
    view->setPlainText(text);
    if (needsShaping(text)) {
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
            QTextCursor cursor(block);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.setCharFormat(formatFor(block.text()));
        }
    }
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
    // characters; a single line always fits. A flood can queue 100,000 lines: queued in
    // UTF-8 and without a block of memory each, a line takes half of what it takes shown.
    for (const QString &line : lines) {
        Q_ASSERT(!line.contains(QLatin1Char('\n')));
        const QByteArray utf8 = line.toUtf8();
        const bool alone = !layout->isPlain(line);
        Entry *last = queue.empty() ? nullptr : &queue.back();
        if (last && last->lines > 0 && !last->full && !alone && last->lines < linesPerParagraph
            && last->characters + 1 + line.size() <= charactersPerParagraph) {
            last->text += '\n';
            last->characters += 1;
        } else {
            // A paragraph that a line of its own ended early gives back the room it kept.
            if (last && last->lines > 0 && last->text.capacity() > 2 * last->text.size())
                last->text.squeeze();
            last = &queue.emplace_back();
            last->full = alone;
            last->text.reserve(alone ? utf8.size()
                                     : std::min<qsizetype>((utf8.size() + 1) * linesPerParagraph,
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
    if (isIdle())
        action();
    else
        afterShown = std::move(action);
}

void DetailsLog::schedule()
{
    // A few lines at a time (a converter that trickles) are gathered for a moment, so
    // that they make fewer, fuller paragraphs and fewer repaints; a paragraph's worth,
    // or the end of the run, goes out once the events waiting now are handled.
    // A queue emptied by a drop still gets its pass: it runs a pending whenShown() action.
    const bool full = queue.empty() || queuedLines >= linesPerParagraph || queue.back().lines == 0;
    if (full && passTimer.isActive() && passTimer.interval() > 0)
        passTimer.stop();
    if (!passTimer.isActive())
        passTimer.start(full ? 0 : gatherMs);
}

void DetailsLog::insertPass()
{
    QElapsedTimer clock;
    clock.start();
    // Within a frame of the last paint, what this pass adds waits for the frame's end;
    // a paint that is due comes first.
    // (One reading of the clock: a second one may be past the frame, and a timer started
    // for a negative time never fires.)
    const qint64 sinceMs = sincePaint.isValid() ? sincePaint.elapsed() : frameMs;
    if (!paintDue && sinceMs < frameMs) {
        view->setUpdatesEnabled(false);
        if (!paintTimer->isActive())
            paintTimer->start(int(frameMs - sinceMs));
    } else {
        releasePaint();
    }
    bool waitingForHeap = false;
    {
        FollowEnd follow(view, heldTopBlock >= 0);
        QTextCursor cursor(view->document());
        cursor.movePosition(QTextCursor::End);
        // Dropping old lines makes Qt copy all the text it keeps into a new block (it
        // compacts its buffer), whatever the size of the batch: that gets a pass of its
        // own.
        if (dropAllShown) {
            dropOldest(shownLines, shownCharacters);
        } else if (dropDue()) {
            waitingForHeap = !heapReadyForDrop(true);
            if (!waitingForHeap)
                dropOldest(shownLines - kept(limits.lines),
                           shownCharacters - kept(limits.characters),
                           qint64(paragraphs.size()) - kept(limits.paragraphs));
        } else {
            while (!queue.empty() && clock.nsecsElapsed() < passBudgetMs * 1000000 && !dropDue()) {
                if (!queue.front().full) {
                    insertNext(cursor);
                    continue;
                }
                // Lines in other scripts take a paragraph each: a run of them, with the
                // plain lines between them, goes in one edit. Per edit, the view sets its
                // scroll bars and the cursor lays out its paragraph, which took a third of
                // the time of such a line. The layout measures the run at its end: a run
                // stays far below the pass's budget. (Plain paragraphs alone go one an
                // edit: grouped, Qt's compaction of its buffer after a drop more often
                // found fresh pages, 60 ms at 1,000,000 lines of 12-200 bytes.)
                cursor.beginEditBlock();
                qint64 characters = 0;
                int count = 0;
                do {
                    characters += queue.front().characters;
                    insertNext(cursor);
                } while (characters < charactersPerEdit && ++count < paragraphsPerEdit
                         && !queue.empty() && !dropDue());
                cursor.endEditBlock();
            }
        }
    }
    showHeldTop();
    // The counts of what is queued steer the drops: an empty queue counts nothing.
    Q_ASSERT(!queue.empty() || (queuedLines == 0 && queuedCharacters == 0));
    if (waitingForHeap) {
        passTimer.start(1); // a few milliseconds, without taking a core from the worker
    } else if (!isIdle()) {
        schedule();
    } else if (afterShown) {
        // The action may queue more or restart the log: take it out first.
        const auto action = std::move(afterShown);
        afterShown = nullptr;
        action();
    }
}

void DetailsLog::releasePaint()
{
    // Enabling updates repaints the whole view, scroll bars included: until it has,
    // passes are not held back (a view that is not shown gets no paint).
    paintTimer->stop();
    if (!view->updatesEnabled()) {
        view->setUpdatesEnabled(true);
        paintDue = view->isVisible();
    }
}

bool DetailsLog::dropDue() const
{
    // Old lines go when the next paragraph could pass a limit; up to the limits,
    // nothing is dropped.
    if (queue.empty() || queue.front().lines == 0)
        return false;
    return shownLines + queue.front().lines > limits.lines
            || shownCharacters + queue.front().characters + 1 > limits.characters
            || (!paragraphs.empty() && qint64(paragraphs.size()) + 1 > limits.paragraphs);
}

void DetailsLog::insertNext(QTextCursor &cursor)
{
    Entry entry = std::move(queue.front());
    queue.pop_front();
    // Text added as it stands is no converter line, but the paragraphs it ends are
    // paragraphs of the log all the same: drops count them (without lines) to remove
    // what they count. The one it leaves open is counted once lines follow it.
    const int blocksBefore = cursor.document()->blockCount();
    const auto countParagraphsWithoutLines = [&] {
        for (int i = cursor.document()->blockCount() - blocksBefore; i > 0; --i)
            paragraphs.push_back({ 0, 0 });
    };
    if (entry.lines == 0) {
        const QString text = QString::fromUtf8(entry.text);
        cursor.insertText(text, formatFor(text));
        countParagraphsWithoutLines();
        return;
    }
    queuedLines -= entry.lines;
    queuedCharacters -= entry.characters + 1;
    // Shown, a paragraph's characters count its last line's break too.
    entry.characters += 1;
    // A paragraph once shown takes no more lines (laying it out again would cost more
    // than a new one): a trickle is gathered into fuller paragraphs by schedule().
    // Text added before may have filled the last, empty paragraph.
    if (cursor.block().length() > 1) {
        cursor.insertBlock();
        countParagraphsWithoutLines();
    }
    QString text = shown(QString::fromUtf8(entry.text));
    text += QChar::ParagraphSeparator;
    // A plain line needs no shaping.
    cursor.insertText(text, entry.full ? formatFor(text) : QTextCharFormat());
    paragraphs.push_back({ entry.lines, entry.characters });
    shownLines += entry.lines;
    shownCharacters += entry.characters;
    // Before the text buffer grows to the size it keeps at the limits.
    if (shownLines > limits.lines / 2 || shownCharacters > limits.characters / 2
        || qint64(paragraphs.size()) > limits.paragraphs / 2)
        heap.keepLargeBlocks();
    heapReadyForDrop(false);
}

bool DetailsLog::heapReadyForDrop(bool due)
{
    // A drop's copy of the text kept goes into pages touched first, away from this
    // thread; a drop waits until they are. The first two drops of a run find no used
    // block big enough, and later ones not always either (small allocations break up
    // the buffers the drops free; where the pages are resident, touching them is
    // quick). The first needs room for the copy and for its growth. They are touched
    // ahead of a drop only once what is queued brings one (they would weigh on a log
    // that stops short of its limits), from three quarters of a limit on.
    const auto near = [](qint64 shown, qint64 queued, qint64 limit) {
        return shown > limit * 3 / 4 && shown + queued > limit;
    };
    const bool comes = due || near(shownLines, queuedLines, limits.lines)
            || near(shownCharacters, queuedCharacters, limits.characters)
            || near(qint64(paragraphs.size()), qint64(queue.size()), limits.paragraphs);
    // (A drop that did not wait leaves the blocks still being touched: never wait here.)
    if (comes && heapWarmings <= drops && heap.isWarm()) {
        const std::size_t buffer = std::size_t(shownCharacters) * sizeof(QChar);
        // Room for the copy; the first drop's also for the buffer Qt grows the copy
        // into at the next line (the next power of two: the copy has no room to spare).
        const std::size_t copy = buffer * 17 / 16;
        const bool taken = heapWarmings == 0
                ? heap.warm({ copy, std::size_t(qNextPowerOfTwo(quint64(buffer))) })
                : heap.warm({ copy });
        if (taken)
            heapWarmings = drops + 1;
    }
    return heap.isWarm();
}

void DetailsLog::dropOldest(qint64 lines, qint64 characters, qint64 paragraphCount)
{
    int count = 0;
    qint64 removedLines = 0;
    qint64 removedCharacters = 0;
    // At least one paragraph goes, so that every drop makes room; what is left over the
    // limit of a pass goes in the next passes that need room.
    while ((removedLines < lines || removedCharacters < characters || count < paragraphCount
            || count == 0)
           && !paragraphs.empty() && count < limits.paragraphsPerDrop) {
        removedLines += paragraphs.front().lines;
        removedCharacters += paragraphs.front().characters;
        paragraphs.pop_front();
        ++count;
    }
    shownLines -= removedLines;
    shownCharacters -= removedCharacters;
    droppedLines += removedLines;
    if (paragraphs.empty()) {
        droppedLines += droppedFromQueue;
        droppedFromQueue = 0;
        dropAllShown = false;
    }
    ++drops;
    // The pages made ready for the copy that this drop makes, once they are. A drop
    // that does not wait for them (lines that push out everything shown) leaves them to
    // the next: waiting, the window would be held up while a worker touches them.
    if (heap.isWarm())
        heap.handOver();

    // The paragraph at the top of the view of a reader who scrolled up, and how far into
    // it the view starts, to be kept there.
    QTextDocument *document = view->document();
    const QScrollBar *bar = view->verticalScrollBar();
    const bool following = heldTopBlock < 0 && bar->value() == bar->maximum();
    if (!following && heldTopBlock < 0) {
        const auto *layout = static_cast<LogLayout *>(document->documentLayout());
        const QTextBlock top = layout->blockAt(bar->value());
        heldTopBlock = top.blockNumber();
        heldTopOffset = bar->value() - qRound(layout->blockBoundingRect(top).top());
    }

    // One edit for the removal and the notice: Qt then moves the paragraphs after
    // them only once.
    const int first = firstOutputBlock + (hasNotice ? 1 : 0);
    const int noticeAdded = hasNotice ? 0 : 1;
    QTextCursor edit(document);
    edit.beginEditBlock();
    edit.setPosition(document->findBlockByNumber(first).position());
    edit.setPosition(document->findBlockByNumber(first + count).position(),
                     QTextCursor::KeepAnchor);
    edit.removeSelectedText();
    writeNotice(edit);
    edit.endEditBlock();

    if (heldTopBlock >= first + count) {
        heldTopBlock += noticeAdded - count;
    } else if (heldTopBlock >= first) {
        // The line at the top went: the first line kept takes its place.
        heldTopBlock = firstOutputBlock + 1;
        heldTopOffset = 0;
    }
}

void DetailsLog::showHeldTop()
{
    if (heldTopBlock < 0)
        return;
    const QTextBlock block = view->document()->findBlockByNumber(heldTopBlock);
    if (!block.isValid()) {
        heldTopBlock = -1;
        return;
    }
    QScrollBar *bar = view->verticalScrollBar();
    const int target = qRound(view->document()->documentLayout()->blockBoundingRect(block).top())
            + heldTopOffset;
    bar->setValue(target);
    // Held until the lines below it fill the view; a reader at the end follows it.
    if (bar->value() == target && target < bar->maximum())
        heldTopBlock = -1;
}

void DetailsLog::dropQueuedOverflow()
{
    if (queuedLines <= limits.lines && queuedCharacters <= limits.characters)
        return;
    // What is queued would push out everything shown so far: that goes (beginning now,
    // over as many passes as it takes), and the oldest queued lines, which would never
    // be seen, go at once.
    if (!paragraphs.empty()) {
        dropAllShown = true;
        dropOldest(shownLines, shownCharacters);
    }
    qint64 &dropped = dropAllShown ? droppedFromQueue : droppedLines;
    const auto tooMany = [this](qint64 lines, qint64 characters) {
        return queuedLines - lines > kept(limits.lines)
                || queuedCharacters - characters > kept(limits.characters);
    };
    // The newest line stays whenever it fits the limits alone, however long it is: what
    // is kept must not depend on where the output was cut into chunks.
    while (tooMany(0, 0) && !queue.empty() && queue.front().lines > 0
           && !(queuedLines == 1 && queuedCharacters <= limits.characters)) {
        Entry &oldest = queue.front();
        // Whole paragraphs while the rest is still too much; then single lines, so that
        // exactly the newest three quarters stay.
        const qsizetype cut = oldest.text.indexOf('\n');
        if (cut < 0 || tooMany(oldest.lines, oldest.characters + 1)) {
            queuedLines -= oldest.lines;
            queuedCharacters -= oldest.characters + 1;
            dropped += oldest.lines;
            queue.pop_front();
        } else {
            const qsizetype length = QString::fromUtf8(oldest.text.first(cut)).size();
            queuedLines -= 1;
            queuedCharacters -= length + 1;
            dropped += 1;
            oldest.text.remove(0, cut + 1);
            oldest.lines -= 1;
            oldest.characters -= length + 1;
        }
    }
    if (!dropAllShown) {
        QTextCursor edit(view->document());
        writeNotice(edit);
    }
    showHeldTop();
}

bool DetailsLog::eventFilter(QObject *watched, QEvent *event)
{
    // A frame begins when the view paints.
    if (event->type() == QEvent::Paint && watched == view->viewport()) {
        paintDue = false;
        sincePaint.start();
    }
    // A new width moves the lines: the reader's place is what the view shows then.
    if (watched == view && event->type() == QEvent::Resize)
        heldTopBlock = -1;
    // Ctrl+Home and Ctrl+End go to the first and the last line, as Home and End do in a
    // read-only text browser.
    if (watched == view && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool toStart = key->matches(QKeySequence::MoveToStartOfDocument);
        if (toStart || key->matches(QKeySequence::MoveToEndOfDocument)) {
            view->verticalScrollBar()->triggerAction(toStart ? QAbstractSlider::SliderToMinimum
                                                             : QAbstractSlider::SliderToMaximum);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
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
    cursor.insertText(tr("... %1 earlier lines not shown ...").arg(droppedLines),
                      QTextCharFormat());
}

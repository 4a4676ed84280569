#include "loglayout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QtMath>

namespace {

// Width given to lines that are not wrapped (QTextLayout keeps widths below 2^23 pixels).
constexpr qreal unbounded = 1e6;
// What an advance may be off from a laid-out line's width (rounding to 1/64 pixel).
constexpr qreal slack = 1;
constexpr qreal notTaken = -2;
constexpr qreal notAlone = -1;

// The height Qt's own document layout gives a line: the sum of its highest ascent,
// descent and leading, rounded up, whatever fonts the line is drawn in.
int advanceOf(const QTextLine &line)
{
    return qCeil(line.ascent() + line.descent() + line.leading());
}

} // namespace

LogLayout::LogLayout(QTextDocument *document) : QAbstractTextDocumentLayout(document)
{
    // With a handler registered, Qt's text engine takes U+FFFC for an (empty) object, as
    // in a plain text browser, rather than drawing a glyph for it; the log has no images.
    registerHandler(QTextFormat::ImageObject, this);
    // The document tells of an edit just before it calls documentChanged() with it;
    // a change of width, font or options comes to documentChanged() alone.
    connect(document, &QTextDocument::contentsChange, this,
            [this](int from, int removed, int added) {
                edit = { from, removed, added };
            });
}

bool LogLayout::takeMetrics()
{
    const QTextDocument *doc = document();
    const QTextOption::WrapMode wrap = doc->defaultTextOption().wrapMode();
    const bool wraps = wrap != QTextOption::NoWrap && wrap != QTextOption::ManualWrap;
    width = wraps ? doc->pageSize().width() : -1;

    const QFont newFont = doc->defaultFont();
    const qreal newMargin = doc->documentMargin();
    if (newFont == font && newMargin == margin)
        return false;
    font = newFont;
    margin = newMargin;
    metrics = QFontMetricsF(font, paintDevice());
    // As high as a laid-out line in the log's font, to the pixel.
    QTextLayout sample(QStringLiteral("x"), font, paintDevice());
    sample.beginLayout();
    const QTextLine line = sample.createLine();
    sample.endLayout();
    lineHeight = qMax(1, advanceOf(line));
    advances.fill(notTaken);
    widest = 0;
    asciiAlone = true;
    for (char16_t c = 0x20; c < 0x7f; ++c)
        asciiAlone = asciiAlone && advance(QChar(c)) >= 0;
    return true;
}

qreal LogLayout::lineWidth() const
{
    return width < 0 ? unbounded : qMax(0.0, width - 2 * margin);
}

qreal LogLayout::top(const QTextBlock &block) const
{
    return margin + qreal(block.firstLineNumber());
}

QTextBlock LogLayout::blockAt(qreal y) const
{
    return document()->findBlockByLineNumber(qFloor(qMax(0.0, y - margin)));
}

qreal LogLayout::advance(QChar c) const
{
    if (c.unicode() >= advances.size())
        return notAlone;
    qreal &known = advances[c.unicode()];
    if (known == notTaken) {
        // Controls, the tab and the soft hyphen are not drawn by their own advance; nor
        // is a character that the log's font lacks (a fallback font draws it), one that
        // combines with the one before it, one that may turn the writing direction, or a
        // line or paragraph separator. Past Latin-1, only Latin and the common
        // punctuation are taken: the quotes, dashes and ellipsis of compilers ("‘x’ —").
        const QChar::Direction direction = c.direction();
        const bool weakOrLeftToRight = direction == QChar::DirL || direction == QChar::DirEN
                || direction == QChar::DirES || direction == QChar::DirET
                || direction == QChar::DirCS || direction == QChar::DirWS
                || direction == QChar::DirON;
        const bool latinOrCommon = c.unicode() < 0x100 || c.script() == QChar::Script_Latin
                || (c.unicode() >= 0x2010 && c.script() == QChar::Script_Common);
        const bool separator = c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
        const bool alone = c.isPrint() && !c.isMark() && !separator && weakOrLeftToRight
                && latinOrCommon && metrics.inFontUcs4(c.unicode());
        known = alone ? metrics.horizontalAdvance(c) : notAlone;
    }
    return known;
}

void LogLayout::setHeight(QTextBlock block, int height) const
{
    if (block.lineCount() != height) {
        block.setLineCount(height);
        sizeReportDue = true;
    }
}

void LogLayout::measure(QTextBlock block) const
{
    block.clearLayout();
    const QString text = block.text();
    const qreal available = lineWidth() - slack;
    qreal widestHere = 0;
    qreal current = 0;
    int lines = 1;
    bool alone = true;
    for (const QChar c : text) {
        if (c == QChar::LineSeparator) {
            widestHere = qMax(widestHere, current);
            current = 0;
            ++lines;
            continue;
        }
        const qreal a = advance(c);
        if (a < 0 || (current += a) > available) {
            alone = false;
            break;
        }
    }
    widestHere = qMax(widestHere, current);
    if (alone) {
        // The widest line, so that a change of width can tell whether it still fits.
        block.setUserState(qCeil(widestHere));
        widest = qMax(widest, widestHere);
        setHeight(block, lines * lineHeight);
    } else {
        block.setUserState(-1);
        laidOut(block);
    }
}

bool LogLayout::isLaidOut(const QTextBlock &block) const
{
    const QTextLayout *layout = block.layout();
    return layout->lineCount() > 0 && qAbs(layout->lineAt(0).width() - lineWidth()) < 0.5;
}

bool LogLayout::isPlain(QStringView text) const
{
    // Every line of a flood passes here. Printable ASCII, nearly every line, is told
    // apart in one sweep without branches.
    char16_t outside = 0;
    for (const QChar c : text)
        outside |= char16_t(c.unicode() - 0x20) >= 0x5f;
    if (!outside && asciiAlone)
        return true;
    for (const QChar c : text) {
        if (c.unicode() >= advances.size())
            return false;
        const qreal known = advances[c.unicode()];
        if (known == notAlone || (known == notTaken && advance(c) < 0))
            return false;
    }
    return true;
}

QList<int> LogLayout::linesAsAlone(const QString &text, const QTextOption &option) const
{
    // Only the log's plain lines share a paragraph: in any other, a line separator is
    // part of the line.
    QList<int> lengths;
    if (!text.contains(QChar::LineSeparator))
        return lengths;
    const auto lines = QStringView(text).split(QChar::LineSeparator);
    for (const QStringView line : lines) {
        if (!isPlain(line))
            return {};
    }
    for (const QStringView line : lines) {
        QTextLayout alone(line.toString(), font, paintDevice());
        alone.setTextOption(option);
        alone.beginLayout();
        for (QTextLine piece = alone.createLine(); piece.isValid(); piece = alone.createLine()) {
            piece.setLineWidth(lineWidth());
            lengths << piece.textLength();
        }
        alone.endLayout();
        ++lengths.last(); // the separator
    }
    return lengths;
}

QTextLayout *LogLayout::laidOut(const QTextBlock &block) const
{
    QTextLayout *layout = block.layout();
    const qreal available = lineWidth();
    if (!isLaidOut(block)) {
        QTextOption option = document()->defaultTextOption();
        option.setTextDirection(block.textDirection());
        // A right-to-left paragraph stands at the right, as in any Qt text view.
        option.setAlignment(QStyle::visualAlignment(block.textDirection(), option.alignment()));
        if (width < 0)
            option.setWrapMode(QTextOption::ManualWrap);
        // A line that shares its paragraph and does not fit the width wraps exactly as it
        // would in a paragraph of its own, where a line separator after it (or spaces or
        // a tab before that) cannot take a line of its own: its pieces are measured alone,
        // and the paragraph is cut into the same.
        const QList<int> pieces = block.userState() < 0 && width >= 0
                ? linesAsAlone(block.text(), option)
                : QList<int>();
        if (!pieces.isEmpty())
            option.setWrapMode(QTextOption::WrapAnywhere);
        layout->setTextOption(option);
        layout->beginLayout();
        int y = 0;
        qsizetype piece = 0;
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLeadingIncluded(true);
            if (piece < pieces.size())
                line.setNumColumns(pieces.at(piece++), available);
            else
                line.setLineWidth(available);
            line.setPosition(QPointF(0, y));
            y += advanceOf(line);
            // A line may reach past the width (a tab at its end): the document is then as
            // wide as that line, as in Qt's own layout.
            const qreal reach = line.x() + line.naturalTextWidth();
            if (reach > widest) {
                widest = reach;
                sizeReportDue = sizeReportDue || reach > available;
            }
        }
        layout->endLayout();
        setHeight(block, y);
    }
    layout->setPosition(QPointF(margin, top(block)));
    return layout;
}

void LogLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    QTextDocument *doc = document();
    const qreal oldWidth = lineWidth();
    const bool allVoid = takeMetrics();
    // When the width, font or options change, only paragraphs that no longer fit (or
    // whose lines were not measured alone) are measured again.
    const bool relayout = edit != std::array { from, charsRemoved, charsAdded };
    edit = { -1, 0, 0 };
    QTextBlock first = relayout ? doc->begin() : doc->findBlock(from);
    if (relayout) {
        // Every paragraph laid out is laid out again at a new width.
        if (width >= 0 && lineWidth() != oldWidth)
            widest = 0;
        const qreal fits = qMin(oldWidth, lineWidth()) - slack;
        for (QTextBlock block = first; block.isValid(); block = block.next()) {
            const int widestLine = block.userState();
            const bool same = widestLine >= 0 ? widestLine <= fits : isLaidOut(block);
            if (allVoid || !same)
                measure(block);
        }
    } else {
        // The paragraph after the change too: a paragraph separator may have been
        // added in front of it.
        const QTextBlock end = doc->findBlock(from + charsAdded).next();
        for (QTextBlock block = first; block.isValid() && block != end; block = block.next())
            measure(block);
    }
    reportSize();
    emit update(QRectF(0, first.isValid() ? top(first) : 0, 1e9, 1e9));
}

void LogLayout::reportSize()
{
    sizeReportDue = false;
    const QSizeF size = documentSize();
    if (size != reportedSize) {
        reportedSize = size;
        emit documentSizeChanged(size);
    }
}

QSizeF LogLayout::documentSize() const
{
    const qreal contentWidth = width < 0 ? widest : qMax(lineWidth(), widest);
    return { contentWidth + 2 * margin, qreal(document()->lineCount()) + 2 * margin };
}

QRectF LogLayout::frameBoundingRect(QTextFrame *frame) const
{
    return frame == document()->rootFrame() ? QRectF(QPointF(), documentSize()) : QRectF();
}

QRectF LogLayout::blockBoundingRect(const QTextBlock &block) const
{
    if (!block.isValid())
        return {};
    const QTextLayout *layout = laidOut(block);
    const QRectF rect(layout->position(),
                      QSizeF(width < 0 ? widest : lineWidth(), block.lineCount()));
    reportLater();
    return rect;
}

void LogLayout::draw(QPainter *painter, const PaintContext &context)
{
    const QRectF clip = context.clip.isValid() ? context.clip : QRectF(QPointF(), documentSize());
    painter->setPen(context.palette.color(QPalette::Text));
    // As Qt's own layout draws: every paragraph whose lines reach into the clip. A glyph
    // in a fallback font may reach below its line, into the clip: the paragraph before
    // the first in its place is drawn too when it is one laid out as it came (any but
    // plain lines), which costs nothing more.
    QTextBlock first = blockAt(clip.top());
    if (first.isValid() && first.previous().isValid() && first.previous().userState() < 0)
        first = first.previous();
    for (QTextBlock block = first; block.isValid() && top(block) <= clip.bottom();
         block = block.next()) {
        QTextLayout *layout = laidOut(block);
        const QRectF lines = layout->boundingRect().translated(layout->position());
        if (lines.bottom() < clip.top() || lines.top() > clip.bottom())
            continue;
        const int start = block.position();
        const int length = block.length();
        QList<QTextLayout::FormatRange> selections;
        for (const Selection &selection : context.selections) {
            const int from = qMax(selection.cursor.selectionStart() - start, 0);
            const int to = qMin(selection.cursor.selectionEnd() - start, length);
            if (from < to)
                selections.append({ from, to - from, selection.format });
        }
        layout->draw(painter, QPointF(), selections, clip);
        if (context.cursorPosition >= start && context.cursorPosition < start + length)
            layout->drawCursor(painter, QPointF(), context.cursorPosition - start);
    }
    reportLater();
}

int LogLayout::hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const
{
    const bool exact = accuracy == Qt::ExactHit;
    const QTextDocument *doc = document();
    if (point.y() < margin)
        return exact ? -1 : 0;
    const QTextBlock block = blockAt(point.y());
    if (!block.isValid())
        return exact ? -1 : doc->characterCount() - 1;
    const QTextLayout *layout = laidOut(block);
    const QPointF at = point - layout->position();
    QTextLine hit = layout->lineAt(layout->lineCount() - 1);
    for (int i = 0; i < layout->lineCount(); ++i) {
        if (at.y() < layout->lineAt(i).y() + advanceOf(layout->lineAt(i))) {
            hit = layout->lineAt(i);
            break;
        }
    }
    if (exact
        && (at.x() < hit.x() || at.x() > hit.x() + hit.naturalTextWidth() || at.y() < hit.y()
            || at.y() > hit.y() + hit.height()))
        return -1;
    reportLater();
    return block.position() + hit.xToCursor(at.x());
}

void LogLayout::reportLater() const
{
    // A paragraph laid out for drawing or for a position took more lines than its
    // characters told (a fallback font, or a width change not yet measured). The view
    // hears of it once the paint or the query is over.
    if (!sizeReportDue)
        return;
    sizeReportDue = false;
    auto *self = const_cast<LogLayout *>(this);
    QMetaObject::invokeMethod(
            self,
            [self] {
                self->reportSize();
                emit self->update();
            },
            Qt::QueuedConnection);
}

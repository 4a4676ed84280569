#include "loglayout.h"

#include "linebreaks.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QRawFont>
#include <QStyle>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>
#include <QVarLengthArray>
#include <QtMath>

#include <algorithm>
#include <iterator>

namespace {

// Width given to lines that are not wrapped (QTextLayout keeps widths below 2^23 pixels).
constexpr qreal unbounded = 1e6;
// What an advance may be off from a laid-out line's width (rounding to 1/64 pixel).
constexpr qreal slack = 1;
constexpr qreal notTaken = -2;
constexpr qreal notAlone = -1;

// A paragraph's user state: the width of its widest line when each of its lines fits,
// and these when they do not.
constexpr int laidOutAsItCame = -1; // by Qt's layout: its height is that layout's
constexpr int wrappedByAdvances = -2; // its lines cut as Qt's layout cuts them, by LogLayout

// Where a line wraps: a blank, which Qt's line breaking lets a line end in, and which
// does not count towards the width there (a no-break space is a letter to it).
bool isBreakingSpace(QChar c)
{
    return c.isSpace() && c.decompositionTag() != QChar::NoBreak;
}

// Whether `c` may stand in a line of text that is left to right throughout.
bool isWeakOrLeftToRight(QChar c)
{
    switch (c.direction()) {
    case QChar::DirL:
    case QChar::DirEN:
    case QChar::DirES:
    case QChar::DirET:
    case QChar::DirCS:
    case QChar::DirWS:
    case QChar::DirON:
        return true;
    default:
        return false;
    }
}

// Whether `block` has text in the shaped format (which the log gives text that needs it).
bool isShaped(const QTextBlock &block)
{
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        if (it.fragment().charFormat().hasProperty(QTextFormat::FontStyleStrategy))
            return true;
    }
    return false;
}

// The height Qt's own document layout gives a line: the sum of its highest ascent,
// descent and leading, rounded up, whatever fonts the line is drawn in.
int advanceOf(const QTextLine &line)
{
    return qCeil(line.ascent() + line.descent() + line.leading());
}

// Sets the width of a line as Qt's own document layout does: a line that is still wider
// than that (a character wider than the view, blanks in front of a long word) gets the
// room it takes, cut anywhere, and the rest of its paragraph is then cut at words only.
void setWidthAsQtDoes(QTextLayout &layout, QTextLine &line, QTextOption &option, qreal width)
{
    line.setLineWidth(width);
    const auto fixed = [](qreal x) { return qRound(x * 64); };
    if (fixed(line.naturalTextWidth()) <= fixed(width))
        return;
    const bool wordOrAnywhere = option.wrapMode() == QTextOption::WrapAtWordBoundaryOrAnywhere;
    if (wordOrAnywhere) {
        option.setWrapMode(QTextOption::WrapAnywhere);
        layout.setTextOption(option);
    }
    line.setLineWidth(qMax(line.naturalTextWidth(), width));
    if (wordOrAnywhere) {
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
    }
}

} // namespace

// A paragraph with a line that reaches past the width holds how far, and at which line
// width, in its user data: Qt deletes that with the paragraph, so the document is no
// wider than what it still holds, as in Qt's own layout.
class LogLayout::Reach : public QTextBlockUserData
{
public:
    Reach(std::shared_ptr<Reaches> all, Reaches::value_type entry)
        : all(std::move(all)), at(this->all->insert(entry))
    { }
    ~Reach() override { all->erase(at); }

    qreal atWidth() const { return at->first; }
    // False if `entry` is what it holds already.
    bool set(Reaches::value_type entry)
    {
        if (*at == entry)
            return false;
        all->erase(at);
        at = all->insert(entry);
        return true;
    }

private:
    // Shared with the layout: Qt deletes the document's paragraphs after its layout.
    const std::shared_ptr<Reaches> all;
    Reaches::iterator at;
};

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
    primary = QRawFont::fromFont(font);
    // Qt draws Latin in the font it finds for no script in particular: the log's. A font
    // is told by its name table: for a script no installed font claims (or with no fonts
    // at all) Qt finds a stand-in with none, which must not be asked its name (Qt 6.4
    // crashes); that script is then measured as drawn.
    const QByteArray names = primary.fontTable("name");
    scriptsOfTheFont.reset();
    scriptsOfTheFont[QChar::Script_Latin] = true;
    for (const auto &[script, system] :
         { std::pair { QChar::Script_Greek, QFontDatabase::Greek },
           std::pair { QChar::Script_Cyrillic, QFontDatabase::Cyrillic },
           std::pair { QChar::Script_Hebrew, QFontDatabase::Hebrew } }) {
        scriptsOfTheFont[script]
                = !names.isEmpty() && QRawFont::fromFont(font, system).fontTable("name") == names;
    }
    // As high as a laid-out line in the log's font, to the pixel.
    QTextLayout sample(QStringLiteral("x"), font, paintDevice());
    sample.beginLayout();
    const QTextLine line = sample.createLine();
    sample.endLayout();
    lineHeight = qMax(1, advanceOf(line));
    glyphs.clear();
    advances.fill(notTaken);
    hebrewAdvances.fill(notTaken);
    overhangs.fill(-1);
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
        // line or paragraph separator. Past Latin-1, Latin, Greek, Cyrillic and the
        // common punctuation are taken: the quotes, dashes and ellipsis of compilers
        // ("‘x’ —"): these scripts need no shaping, and with it off (the log's font)
        // each glyph stands by its own advance. A letter is taken only if Qt draws its
        // script in the log's font. A fallback font's glyph may make a line higher.
        const QChar::Script script = c.script();
        const bool latinOrCommon = script == QChar::Script_Common
                ? c.unicode() < 0x100 || c.unicode() >= 0x2010
                : (script == QChar::Script_Latin || script == QChar::Script_Greek
                   || script == QChar::Script_Cyrillic)
                        && scriptsOfTheFont[script];
        const bool separator = c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
        const bool alone = c.isPrint() && !c.isMark() && !separator && isWeakOrLeftToRight(c)
                && latinOrCommon && primary.supportsCharacter(c);
        known = alone ? metrics.horizontalAdvance(c) : notAlone;
    }
    return known;
}

qreal LogLayout::hebrewAdvance(QChar c) const
{
    const char16_t at = c.unicode() - hebrewFirst;
    if (at >= hebrewAdvances.size())
        return notAlone;
    qreal &known = hebrewAdvances[at];
    if (known == notTaken) {
        // Past the points (they combine): the letters and the two punctuation marks.
        const bool alone = c.script() == QChar::Script_Hebrew
                && scriptsOfTheFont[QChar::Script_Hebrew] && primary.supportsCharacter(c);
        known = alone ? metrics.horizontalAdvance(c) : notAlone;
    }
    return known;
}

qreal LogLayout::overhang(QChar c) const
{
    qreal &known = overhangs[c.unicode()];
    if (known < 0)
        known = qMax(0.0, -metrics.rightBearing(c));
    return known;
}

int LogLayout::heightByRuns(QStringView line, qreal available, qreal *lineWidth) const
{
    // Qt draws a paragraph in runs of text of one script, of at most 4096 characters. A
    // character of no script of its own (a digit, a blank, a bracket) joins the run before
    // it, or at the start of a line the first run. Each run is drawn in a font chosen for
    // its script, and those it falls back on: a kana or Hangul run draws even its digits
    // and quotes in a CJK font, and where the log's font lacks a script (Cyrillic, say),
    // a run of it draws its blanks in another font.
    if (line.size() >= 4096)
        return -1;
    QChar setter;
    for (const QChar c : line) {
        if (c.script() > QChar::Script_Common) {
            setter = c;
            break;
        }
    }
    QChar::Script script = setter.isNull() ? QChar::Script_Common : setter.script();
    // A line is as high as the highest ascent and leading of its runs, and their deepest
    // descent; a run as the fonts its characters are drawn in.
    Glyph run;
    qreal top = 0;
    qreal bottom = 0;
    const auto endRun = [&] {
        top = qMax(top, run.ascent + run.leading);
        bottom = qMax(bottom, run.descent);
        run = {};
    };
    qreal width = 0;
    qreal lastOverhang = 0; // of the last glyph, past its advance
    for (const QChar c : line) {
        const QChar::Script own = c.script();
        if (own > QChar::Script_Common && own != script) {
            endRun();
            script = own;
            setter = c;
        }
        const Glyph &g = glyph(c, setter);
        if (g.advance < 0)
            return -1;
        width += g.advance;
        lastOverhang = g.overhang;
        run.ascent = qMax(run.ascent, g.ascent);
        run.descent = qMax(run.descent, g.descent);
        run.leading = qMax(run.leading, g.leading);
    }
    endRun();
    if (width + lastOverhang > available)
        return -1;
    *lineWidth = width;
    return qCeil(top + bottom);
}

const LogLayout::Glyph &LogLayout::glyph(QChar c, QChar setter) const
{
    const QChar::Script script = setter.isNull() ? QChar::Script_Common : setter.script();
    const quint32 key = c.unicode() | quint32(script) << 16;
    if (const auto known = glyphs.constFind(key); known != glyphs.cend())
        return *known;
    Glyph &taken = glyphs[key];
    // Whatever a font asks, Qt shapes the scripts from Syriac to Sinhala, Khmer and N'Ko;
    // right to left, it may mirror a glyph; a character of a surrogate pair is not drawn
    // alone; a control may be drawn in whichever fallback font is at hand.
    const auto alwaysShaped = [](QChar::Script s) {
        return (s >= QChar::Script_Syriac && s <= QChar::Script_Sinhala) || s == QChar::Script_Khmer
                || s == QChar::Script_Nko;
    };
    if (!c.isPrint() || c.isMark() || c.isSurrogate() || c == QChar::LineSeparator
        || c == QChar::ParagraphSeparator || !isWeakOrLeftToRight(c) || alwaysShaped(c.script())
        || alwaysShaped(script))
        return taken;
    // Laid out in its run: after the character that gives the run its script, whose
    // advance it then takes away. A line's natural width counts its last glyph's overhang
    // past its advance; an advance does not.
    const auto sampled = [this](const QString &text) {
        QTextLayout sample(text, font, paintDevice());
        sample.beginLayout();
        QTextLine line = sample.createLine();
        line.setLineWidth(unbounded);
        sample.endLayout();
        const qreal advance = line.horizontalAdvance();
        return Glyph { advance, line.ascent(), line.descent(), line.leading(),
                       qMax(0.0, line.naturalTextWidth() - advance) };
    };
    Glyph g = sampled(setter.isNull() ? QString(c) : QString(setter) + c);
    if (!setter.isNull())
        g.advance -= sampled(QString(setter)).advance;
    taken = g;
    return taken;
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
    const QList<QStringView> lines = QStringView(text).split(QChar::LineSeparator);
    const qreal available = lineWidth() - slack;
    qreal widestHere = 0;
    qreal reach = 0;
    int height = 0;
    bool wraps = false;
    // Any other line has a paragraph of its own, laid out as it came; but a Hebrew line
    // (it needs no shaping either) that fits the width is one line high.
    const auto layOut = [&] {
        block.setUserState(laidOutAsItCame);
        laidOut(block);
    };
    for (const QStringView line : lines) {
        qreal lineWidth = 0;
        bool hebrew = false; // a letter of it
        for (const QChar c : line) {
            qreal a = advance(c);
            if (a < 0 && lines.size() == 1) {
                a = hebrewAdvance(c);
                hebrew = true;
            }
            if (a >= 0) {
                lineWidth += a;
                continue;
            }
            // A line in Chinese, Japanese or Korean fits the width nearly always: its
            // characters' advances and the heights of their fonts measure it.
            const int high = lines.size() == 1 && !isShaped(block)
                    ? heightByRuns(line, available, &lineWidth)
                    : -1;
            if (high < 0)
                return layOut();
            block.setUserState(qCeil(lineWidth));
            widest = qMax(widest, lineWidth);
            setReach(block, 0);
            return setHeight(block, high);
        }
        // Right to left, brackets are drawn mirrored, by the other glyph's advance.
        if (hebrew && (lineWidth > available || std::any_of(line.begin(), line.end(), [](QChar c) {
                           return c.hasMirrored();
                       })))
            return layOut();
        if (lineWidth <= available) {
            widestHere = qMax(widestHere, lineWidth);
            height += lineHeight;
        } else {
            height += lineHeight * int(cutAlone(line, block, &reach).size());
            wraps = true;
        }
    }
    // The widest line, so that a change of width can tell whether it still fits.
    block.setUserState(wraps ? wrappedByAdvances : qCeil(widestHere));
    widest = qMax(widest, widestHere);
    setReach(block, reach);
    setHeight(block, height);
}

QList<int> LogLayout::wrapped(QStringView line) const
{
    // Qt's layout (QTextLine::layout_helper, wrapping at word boundaries or anywhere)
    // ends a line before the first word that would take it past the width, counting the
    // blanks before that word but not those that end the line; a line's first word is
    // taken whatever its width, and a line that is then too wide is cut again, at any
    // character. A word ends at a break opportunity (Unicode's line breaking) or a blank.
    // Each decision is taken here only when the advances are clear of the width by more
    // than they may be off; a word's last glyph counts with its overhang past its
    // advance (a negative right bearing), as Qt counts it where a line may end.
    // Qt cuts text into pieces of 4096 characters, where a run of blanks or a word
    // also ends: a line that long is left to Qt's layout.
    if (line.size() >= 4096)
        return {};
    const qreal width = lineWidth();
    QVarLengthArray<bool, 512> breakBefore(line.size() + 1);
    if (!asciiLineBreaks(line, breakBefore.data())) {
        QVarLengthArray<uchar, 512> attributes(line.size() + 1);
        QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, line, attributes.data(),
                                   attributes.size());
        std::fill(breakBefore.begin(), breakBefore.end(), false);
        for (qsizetype at = breaks.toNextBoundary(); at > 0; at = breaks.toNextBoundary())
            breakBefore[at] = true;
    }
    enum : qsizetype { unclear = -1, tooWide = -2 };
    // Where the line from `from` ends, cut at word boundaries or anywhere.
    const auto lineEnd = [&](qsizetype from, bool anywhere) -> qsizetype {
        qreal taken = 0, blanks = 0;
        qsizetype length = 0, blankCount = 0;
        qsizetype i = from;
        // Where the line ends, and the glyph whose overhang Qt then counts: the one
        // before the word that did not fit, the last one at the end of the text, none
        // after blanks.
        qsizetype end = -1;
        qreal endOverhang = 0;
        while (i < line.size()) {
            if (isBreakingSpace(line[i])) {
                for (; i < line.size() && isBreakingSpace(line[i]); ++i, ++blankCount)
                    blanks += advance(line[i]);
                if (qAbs(blanks - width) <= slack)
                    return unclear;
                if (blanks > width) { // blanks alone wider than the line end it
                    end = i;
                    break;
                }
                continue;
            }
            qsizetype next = i;
            qreal word = 0;
            do {
                word += advance(line[next++]);
            } while (!anywhere && next < line.size() && !isBreakingSpace(line[next])
                     && !breakBefore[next]);
            const qreal reach = taken + blanks + word;
            if (length > 0) { // a line's first word is taken whatever its width
                const qreal inked = reach + overhang(line[next - 1]);
                if (inked > width + slack) {
                    end = from + length + blankCount;
                    endOverhang = overhang(line[i - 1]);
                    break;
                }
                if (inked + slack > width)
                    return unclear;
            }
            taken = reach;
            length += blankCount + (next - i);
            blanks = 0;
            blankCount = 0;
            i = next;
        }
        if (end < 0) {
            end = line.size();
            endOverhang = blankCount > 0 ? 0 : overhang(line.back());
        }
        // A line too wide (its first word) is cut again, anywhere; one still too wide
        // (its first character) is given more room by Qt's document layout.
        if (qAbs(taken + endOverhang - width) <= slack || (anywhere && taken + endOverhang > width))
            return unclear;
        return !anywhere && taken + endOverhang > width ? tooWide : end;
    };
    QList<int> lengths;
    for (qsizetype from = 0; from < line.size();) {
        qsizetype end = lineEnd(from, false);
        if (end == tooWide)
            end = lineEnd(from, true);
        if (end == unclear)
            return {};
        lengths << int(end - from);
        from = end;
    }
    return lengths;
}

bool LogLayout::isLaidOut(const QTextBlock &block) const
{
    const QTextLayout *layout = block.layout();
    if (layout->lineCount() == 0)
        return false;
    // A first line given more room than the width (a character wider than the view)
    // reaches past it: the width it was laid out at is held with its reach.
    if (const auto *held = static_cast<const Reach *>(block.userData()))
        return held->atWidth() == lineWidth();
    return qAbs(layout->lineAt(0).width() - lineWidth()) < 0.5;
}

void LogLayout::setReach(QTextBlock block, qreal reach) const
{
    auto *held = static_cast<Reach *>(block.userData());
    if (reach <= lineWidth()) {
        if (held) {
            block.setUserData(nullptr);
            sizeReportDue = true;
        }
        return;
    }
    const Reaches::value_type entry { lineWidth(), reach };
    if (!held)
        block.setUserData(new Reach(reaches, entry));
    else if (!held->set(entry))
        return; // a paragraph laid out again as it was: the view needs no report
    sizeReportDue = true;
}

bool LogLayout::isPlain(QStringView text) const
{
    // Every line of a flood passes here; printable ASCII is nearly every line.
    if (asciiAlone && isPrintableAscii(text))
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

QList<int> LogLayout::piecesAlone(QStringView line, const QTextBlock &block) const
{
    qreal lineWidth = 0;
    for (const QChar c : line)
        lineWidth += advance(c);
    return lineWidth <= this->lineWidth() - slack ? QList<int> { int(line.size()) }
                                                  : cutAlone(line, block);
}

QList<int> LogLayout::cutAlone(QStringView line, const QTextBlock &block, qreal *reach) const
{
    QList<int> lengths = wrapped(line);
    if (lengths.isEmpty()) {
        // Too close to the width to tell: as Qt's layout cuts it.
        QTextLayout alone(line.toString(), font, paintDevice());
        QTextOption option = lineOption(block);
        alone.setTextOption(option);
        alone.beginLayout();
        for (QTextLine piece = alone.createLine(); piece.isValid(); piece = alone.createLine()) {
            setWidthAsQtDoes(alone, piece, option, this->lineWidth());
            lengths << piece.textLength();
            if (reach)
                *reach = qMax(*reach, piece.x() + piece.naturalTextWidth());
        }
        alone.endLayout();
    }
    return lengths;
}

QList<int> LogLayout::linesAsAlone(const QTextBlock &block, const QString &text) const
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
        lengths << piecesAlone(line, block);
        ++lengths.last(); // the separator
    }
    return lengths;
}

QTextOption LogLayout::lineOption(const QTextBlock &block) const
{
    QTextOption option = document()->defaultTextOption();
    // Qt finds a paragraph's direction by reading its text: once is enough.
    const Qt::LayoutDirection direction = block.textDirection();
    option.setTextDirection(direction);
    // A right-to-left paragraph stands at the right, as in any Qt text view.
    option.setAlignment(QStyle::visualAlignment(direction, option.alignment()));
    if (width < 0)
        option.setWrapMode(QTextOption::ManualWrap);
    return option;
}

QTextLayout *LogLayout::laidOut(const QTextBlock &block) const
{
    QTextLayout *layout = block.layout();
    const qreal available = lineWidth();
    if (!isLaidOut(block)) {
        QTextOption option = lineOption(block);
        // A line that shares its paragraph and does not fit the width wraps exactly as it
        // would in a paragraph of its own, where a line separator after it (or spaces or
        // a tab before that) cannot take a line of its own: its pieces are measured alone,
        // and the paragraph is cut into the same.
        const QString text = block.text();
        const QList<int> pieces
                = block.userState() < 0 && width >= 0 ? linesAsAlone(block, text) : QList<int>();
        if (!pieces.isEmpty())
            option.setWrapMode(QTextOption::WrapAnywhere);
        layout->setTextOption(option);
        layout->beginLayout();
        int y = 0;
        qreal reach = 0;
        qsizetype piece = 0;
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLeadingIncluded(true);
            if (piece < pieces.size()) {
                // Cutting anywhere, Qt counts every glyph's overhang past its advance,
                // not only a word's last, and a line Qt's document layout widened (one
                // still too wide once cut anywhere) does not fit the width: such a piece
                // comes out shorter, and is given the room its characters take.
                const int length = pieces.at(piece++);
                const int textEnd = block.length() - 1; // the last piece counts its break
                const int wanted = std::min(length, textEnd - line.textStart());
                line.setNumColumns(length, available);
                // A piece wider than the width (a character wider than the view) is as
                // wide as its characters, as the line Qt's layout widens: a cursor at its
                // end stands there, not at the width.
                if (line.textLength() == wanted && line.naturalTextWidth() > available)
                    line.setNumColumns(length, line.naturalTextWidth());
                if (line.textLength() < wanted) {
                    qreal room = qMax(0.0, -metrics.minRightBearing()) + slack;
                    for (const QChar c : QStringView(text).sliced(line.textStart()).first(wanted))
                        room += qMax(0.0, advance(c));
                    line.setNumColumns(length, qMax(available, room));
                }
            } else {
                setWidthAsQtDoes(*layout, line, option, available);
            }
            line.setPosition(QPointF(0, y));
            y += advanceOf(line);
            reach = qMax(reach, line.x() + line.naturalTextWidth());
        }
        layout->endLayout();
        setHeight(block, y);
        if (width < 0)
            widest = qMax(widest, reach);
        else
            setReach(block, reach);
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
            // A paragraph wrapped by advances is cut anew at any other width.
            const int widestLine = block.userState();
            const bool same = widestLine >= 0       ? widestLine <= fits
                    : widestLine == laidOutAsItCame ? isLaidOut(block)
                                                    : lineWidth() == oldWidth;
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
    qreal contentWidth = width < 0 ? widest : lineWidth();
    // The farthest reach at this width: a paragraph laid out at another width is laid out
    // again before it is drawn.
    const auto after = reaches->upper_bound({ lineWidth(), qInf() });
    if (after != reaches->begin() && std::prev(after)->first == lineWidth())
        contentWidth = qMax(contentWidth, std::prev(after)->second);
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
    if (first.isValid() && first.previous().isValid()
        && first.previous().userState() == laidOutAsItCame)
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
    reportLater(); // even for a miss: laying the paragraph out may have changed its height
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

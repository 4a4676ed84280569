#pragma once

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QRawFont>
#include <QTextObjectInterface>

#include <array>
#include <bitset>
#include <memory>
#include <set>
#include <utility>

// The layout of the details log's document: plain text in one font, wrapped at the width
// of the view, each line as high as Qt's own layout makes it.
//
// Qt's own document layout keeps the position of every line, so an edit near the top
// (dropping the oldest lines of a log that keeps 75,000 of them) moves every line below
// it: 25-35 ms a drop. Here a paragraph's place is the sum of the heights of the
// paragraphs before it, which the document's block tree keeps for any edit in
// logarithmic time: the tree's "line count" of a block holds its height in pixels.
// Nothing is positioned until it is drawn or asked for:
//  - a paragraph's height is measured when its text changes, from the advances of its
//    characters when they prove that each of its lines fits the width (log lines nearly
//    always do), and by laying it out only when they do not. A line drawn in a fallback
//    font is as high as that font makes it: a line of its own is measured from the
//    fonts of its runs of text;
//  - it is laid out when it is drawn, when the widget asks where a position is, or when a
//    click hits it. So a flood of output is never laid out beyond what is on screen.
//
// Block formats (margins, indents, alignment, line heights) are not honoured: the log
// has none.
class LogLayout : public QAbstractTextDocumentLayout, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    explicit LogLayout(QTextDocument *document);

    void draw(QPainter *painter, const PaintContext &context) override;
    int hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame *frame) const override;
    QRectF blockBoundingRect(const QTextBlock &block) const override;

    // The paragraph whose place holds the document's vertical position `y` (invalid past
    // the last one).
    QTextBlock blockAt(qreal y) const;

    // Whether every character of `text` is drawn by its own advance in the log's font
    // (printable Latin, Greek and Cyrillic): a line of such text can share a paragraph
    // with others and still be laid out as it would be alone.
    bool isPlain(QStringView text) const;

    // The log shows no objects (images): U+FFFC takes no room, as in a plain view.
    QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &) override { return {}; }
    void drawObject(QPainter *, const QRectF &, QTextDocument *, int, const QTextFormat &) override
    { }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    // Takes the font, margin and width from the document; true if the font or the
    // margin changed, which makes every measurement void.
    bool takeMetrics();
    qreal lineWidth() const;
    qreal top(const QTextBlock &block) const;
    // Measures the height of `block` (by its characters' advances or by laying it out)
    // and records it in the document.
    void measure(QTextBlock block) const;
    // Whether `block` is laid out at the current width.
    bool isLaidOut(const QTextBlock &block) const;
    // Lays `block` out at the current width if it is not, and puts it in its place.
    QTextLayout *laidOut(const QTextBlock &block) const;
    // For a paragraph (its text `text`) of plain lines joined by line separators: the
    // length of each line of it laid out, every plain line broken as it would be alone;
    // otherwise empty.
    QList<int> linesAsAlone(const QTextBlock &block, const QString &text) const;
    // For a plain line of `block`: the length of each line of it laid out alone.
    QList<int> piecesAlone(QStringView line, const QTextBlock &block) const;
    // The same for a plain line that does not fit the width; widens `reach` to how far
    // the farthest of those lines reaches when Qt's layout cuts it.
    QList<int> cutAlone(QStringView line, const QTextBlock &block, qreal *reach = nullptr) const;
    QTextOption lineOption(const QTextBlock &block) const;
    // For a plain line wider than the view: the length of each line Qt's layout cuts it
    // into, from its characters' advances; empty when they come too close to the width
    // to tell.
    QList<int> wrapped(QStringView line) const;
    void setHeight(QTextBlock block, int height) const;
    // Records how far a line of `block` reaches past the width (when it does): the
    // document is as wide as the farthest such line, as in Qt's own layout.
    void setReach(QTextBlock block, qreal reach) const;
    // The advance of a character, or a negative number when its width cannot be taken
    // on its own (controls, tabs, characters of other scripts or missing from the font).
    qreal advance(QChar c) const;
    // The advance of a Hebrew letter, or a negative number as advance() gives.
    qreal hebrewAdvance(QChar c) const;
    // How far the glyph of a character that advance() takes reaches past its advance.
    qreal overhang(QChar c) const;

    // What a character adds to a line of its own: its advance, and the ascent, descent and
    // leading of its run of text (Qt draws a run in one font and those it falls back on,
    // and makes the run as high as the highest of them).
    struct Glyph
    {
        qreal advance = -1;
        qreal ascent = 0;
        qreal descent = 0;
        qreal leading = 0;
        qreal overhang = 0; // of its glyph past its advance
    };
    // For a paragraph of one line that is neither plain nor Hebrew (Chinese, Japanese,
    // Korean, a symbol the log's font lacks): its height when its characters' advances
    // prove that it fits `available`, and its width in `*lineWidth`; -1 when it must be
    // laid out.
    int heightByRuns(QStringView line, qreal available, qreal *lineWidth) const;
    // Of `c` in a run of text that `setter` (its first character of a script of its own,
    // null for none) gives its script.
    const Glyph &glyph(QChar c, QChar setter) const;
    void reportSize();
    void reportLater() const;

    std::array<int, 3> edit { -1, 0, 0 }; // of the latest contentsChange()
    QFont font;
    QFontMetricsF metrics { font };
    // The log's font alone, without the fonts Qt falls back on for a missing glyph.
    QRawFont primary;
    // The scripts of their own (Latin, Greek, Cyrillic, Hebrew) that Qt draws in the log's
    // font: Qt draws a run of a script in a font that claims the script's languages, and
    // a font may hold a script's letters without claiming it.
    std::bitset<QChar::ScriptCount> scriptsOfTheFont;
    qreal margin = -1;
    qreal width = -1;
    // Of a line in the log's font; a line in a fallback font may be higher.
    int lineHeight = 1;
    // Of the paragraphs measured and laid out, for a view that does not wrap.
    mutable qreal widest = 0;
    class Reach;
    // Of the paragraphs with a line that reaches past the width of a view that wraps:
    // the line width each was laid out at, and how far it reaches.
    using Reaches = std::multiset<std::pair<qreal, qreal>>;
    const std::shared_ptr<Reaches> reaches = std::make_shared<Reaches>();
    // Advances of the characters up to the general punctuation (the quotes and dashes
    // that compilers print), taken from the font as they are first met.
    mutable std::array<qreal, 0x2060> advances {};
    // Advances of the Hebrew letters, taken alike.
    static constexpr char16_t hebrewFirst = 0x5d0;
    mutable std::array<qreal, 0x30> hebrewAdvances {};
    // How far each of those characters' glyphs reaches past its advance, taken alike.
    mutable std::array<qreal, 0x2060> overhangs {};
    // Of the characters that glyph() took, by character and the script of their run (the
    // fonts are chosen by the script).
    mutable QHash<quint32, Glyph> glyphs;
    // Whether every printable ASCII character is drawn by its own advance.
    bool asciiAlone = false;
    mutable bool sizeReportDue = false;
    QSizeF reportedSize;
};

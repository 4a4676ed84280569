// The details log against a simple model of what it must show, driven at random: batches
// of lines from a hostile alphabet, width changes, scrolls, restarts, small limits. After
// every step the log must hold the newest lines in order, count the dropped ones in its
// notice, stay within its limits and keep a reader's place; at checkpoints it must look
// exactly like a plain QTextBrowser holding the model's lines.
//
// A trial is fixed by its number: TARNWELL_LOG_TRIAL=<number> runs another one (a failing
// trial prints its number and step), and TARNWELL_LOG_STEPS=<count> runs it longer.
// TARNWELL_LOG_FONT=<family> checks that the view's font is that family.

#include "app/detailslog.h"
#include "app/outputlines.h"

#include <QFontInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

namespace {

constexpr quint32 trialInCi = 18;
constexpr int stepsInCi = 600;
constexpr int checkpointEvery = 12;

// What converter lines are made of, the ordinary (the first five) and the hostile alike:
// tab, accents, a compiler's quotes, dash and ellipsis, Latin beyond Latin-1, Cyrillic,
// Greek, CJK (with Japanese punctuation), emoji, Hebrew, Arabic, Arabic digits, U+2028,
// U+2029, U+FDD0, U+FDD1, U+FFFC, NUL, controls, an escape sequence, CR, NEL, directional
// controls, a soft hyphen, a combining accent.
const QStringList pieces
        = QStringLiteral(
                  "compiling |a|0123| "
                  "|.|\t|\u00e9t\u00e9|\u00fc|\u2018x\u2019|\u2014\u2026|\u0142\u00f3d\u017a|"
                  "\u0444\u0430\u0439\u043b|\u03c4\u03bf\u03c5|\u6f22\u5b57|"
                  "\u300c\u30d5\u30a1\u30a4\u30eb\u300d\u3002|"
                  "\U0001F600|"
                  "\u05e9\u05dc\u05d5\u05dd|\u0645\u0631\u062d\u0628\u0627|\u0661\u0662|\u2028|"
                  "\u2029|"
                  "\ufdd0|\ufdd1|\ufffc|\u0000|\x01|\x1b[1m|\r|\x7f|\u0085|\u202e|\u2067|\u200f|"
                  "\u00ad|\u0301")
                  .split(QLatin1Char('|'));
// Of those, what must be shaped to be read: Arabic letters, which join, the combining
// accent, and a bracket (Latin or Japanese, or the parenthesis of a cut line's "(N more
// characters not shown)") in a line with a character that may set it right to left (an
// Arabic digit among them).
const QRegularExpression
        shapedPieces(QStringLiteral("\u0645\u0631\u062d\u0628\u0627|\u0301"
                                    "|[\\[(\u300c][\\s\\S]*[\u05e9\u0661\u202e\u2067\u200f]"
                                    "|[\u05e9\u0661\u202e\u2067\u200f][\\s\\S]*[\\[(\u300c]"));

// How the log shows a line: the characters Qt would take for paragraph breaks become a
// line break inside the line or the replacement character.
QString shownAs(QString line)
{
    return line.replace(QLatin1Char('\r'), QChar::LineSeparator)
            .replace(QChar::ParagraphSeparator, QChar::LineSeparator)
            .replace(QChar(0xfdd0), QChar::ReplacementCharacter)
            .replace(QChar(0xfdd1), QChar::ReplacementCharacter);
}

QString notice(qint64 dropped)
{
    return QStringLiteral("... %1 earlier lines not shown ...").arg(dropped);
}

} // namespace

class LogDifferentialTest : public QObject
{
    Q_OBJECT

private slots:
    void matchesItsModel()
    {
        bool chosen = false;
        const quint32 number = qEnvironmentVariableIntValue("TARNWELL_LOG_TRIAL", &chosen);
        const quint32 trial = chosen ? number : trialInCi;
        const int steps = qEnvironmentVariableIsSet("TARNWELL_LOG_STEPS")
                ? qEnvironmentVariableIntValue("TARNWELL_LOG_STEPS")
                : stepsInCi;
        random = QRandomGenerator(trial);
        // A run with fonts of its own (TARNWELL_LOG_FONT names the default) proves that
        // it has them, rather than passing with the machine's.
        if (const QString font = qEnvironmentVariable("TARNWELL_LOG_FONT"); !font.isEmpty())
            QCOMPARE(QFontInfo(view.font()).family(), font);
        view.resize(505, 340);
        view.show();
        restart();
        for (int step = 1; step <= steps && !QTest::currentTestFailed(); ++step) {
            takeAStep();
            if (!QTest::currentTestFailed() && (step % checkpointEvery == 0 || step == steps))
                checkpoint();
            if (QTest::currentTestFailed())
                qInfo("trial %u failed at step %d", trial, step);
        }
    }

private:
    QString randomLine()
    {
        const int kind = random.bounded(100);
        const int count = kind < 2 ? 0
                : kind < 93        ? random.bounded(1, 30)
                                   : random.bounded(30, 120);
        QString line;
        const bool hostile = random.bounded(4) == 0;
        for (int i = 0; i < count; ++i) {
            line += hostile || random.bounded(8) == 0 ? pieces.at(random.bounded(pieces.size()))
                                                      : pieces.at(random.bounded(5));
        }
        if (kind == 99) // beyond the cut of a line
            line += QString(random.bounded(9990, 10100), QLatin1Char('w'));
        return line;
    }

    void appendBatches()
    {
        // One to three batches before the log catches up: drops happen with lines queued.
        for (int batch = random.bounded(1, 4); batch > 0; --batch) {
            const int count
                    = random.bounded(8) == 0 ? random.bounded(100, 400) : random.bounded(1, 40);
            QByteArray bytes;
            for (int i = 0; i < count; ++i)
                bytes += randomLine().toUtf8() + '\n';
            // The model takes the output whole, the log in chunks cut anywhere.
            for (const QString &line : OutputLines().take(bytes))
                lines << shownAs(line);
            OutputLines cutter;
            for (qsizetype at = 0; at < bytes.size();) {
                const qsizetype size = random.bounded(1, 4000);
                log->appendLines(cutter.take(bytes.mid(at, size)));
                at += size;
            }
        }
        QVERIFY(QTest::qWaitFor([this] { return log->isIdle(); }, 30000));
    }

    void restart()
    {
        if (!log || random.bounded(2) == 0) {
            log.reset();
            const qint64 lineLimits[] = { 20, 60, 200 };
            const qint64 characterLimits[] = { 1500, 6000, 1 << 30 };
            // A drop may take several passes.
            const int paragraphsPerDrop[] = { 4, 8192, 8192 };
            limits = { lineLimits[random.bounded(3)], characterLimits[random.bounded(3)], 1 << 30,
                       paragraphsPerDrop[random.bounded(3)] };
            log = std::make_unique<DetailsLog>(&view, limits);
        }
        header.clear();
        for (int i = 0, count = random.bounded(1, 4); i < count; ++i)
            header << QStringLiteral("summary %1").arg(i);
        log->restart(header.join('\n') + '\n');
        lines.clear();
        dropped = 0;
        outcome.clear();
    }

    void takeAStep()
    {
        const int kind = random.bounded(100);
        const bool output = outcome.isEmpty() && (kind < 55 || (kind >= 87 && kind < 94));
        if (kind < 55 && outcome.isEmpty()) {
            appendBatches();
        } else if (kind < 75) {
            const int how = random.bounded(4);
            QScrollBar *bar = view.verticalScrollBar();
            if (how == 3) {
                bar->setSliderPosition(random.bounded(bar->maximum() + 1));
                bar->triggerAction(QAbstractSlider::SliderMove);
            } else {
                const Qt::Key keys[] = { Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp };
                QTest::keyClick(&view, keys[how], how < 2 ? Qt::ControlModifier : Qt::NoModifier);
            }
        } else if (kind < 87) {
            view.resize(random.bounded(120, 700), view.height());
        } else if (kind < 94 && outcome.isEmpty()) {
            outcome = QStringLiteral("Project Converted Successfully!");
            log->appendText(outcome);
            QVERIFY(QTest::qWaitFor([this] { return log->isIdle(); }, 30000));
        } else {
            restart();
        }
        QCoreApplication::processEvents();
        checkContent();
        if (QTest::currentTestFailed())
            return;
        const QScrollBar *bar = view.verticalScrollBar();
        if (!output) {
            // The reader is where a scroll, a resize or a restart left them.
            following = bar->value() == bar->maximum();
            top = placeAtTop();
        } else if (following) {
            QCOMPARE(bar->value(), bar->maximum());
        } else {
            // After output, where they were; the first kept line when theirs went.
            const qint64 expected = top > header.size() ? std::max<qint64>(top, firstKept()) : top;
            const qint64 actual = placeAtTop();
            if (bar->value() < bar->maximum()) {
                // A line with nothing to draw (U+FFFC alone) has no height: the next one
                // stands in its place.
                QCOMPARE(topOf(actual), topOf(expected));
            } else {
                // The view cannot scroll that far yet: the line is below the top.
                QVERIFY(actual <= expected);
            }
        }
    }

    void checkContent()
    {
        // The header, the notice, the kept lines in order, what follows them.
        QStringList shown;
        for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next())
            shown << block.text();
        QCOMPARE(shown.mid(0, header.size()), header);
        QCOMPARE(shown.last(), outcome);
        const QString paragraph = shown.value(header.size());
        qint64 shownDropped = paragraph.section(QLatin1Char(' '), 1, 1).toLongLong();
        if (paragraph != notice(shownDropped))
            shownDropped = 0;
        QVERIFY2(shownDropped >= dropped, "the count of dropped lines went back");
        dropped = shownDropped;
        const QStringList kept = lines.mid(dropped);
        QCOMPARE(shown.mid(outputBlock(), shown.size() - outputBlock() - 1)
                         .join(QChar::LineSeparator),
                 kept.join(QChar::LineSeparator));
        // Within the limits, and nothing dropped below them.
        QVERIFY(kept.size() <= limits.lines);
        QVERIFY(kept.join('\n').size() + 1 <= limits.characters);
        if (lines.size() <= limits.lines && lines.join('\n').size() + 1 <= limits.characters)
            QCOMPARE(dropped, 0);
    }

    // A place in the view, in the order shown: the header's paragraphs, the notice
    // (counted even when not shown), the converter lines by their number since the restart.
    qsizetype outputBlock() const { return header.size() + (dropped > 0 ? 1 : 0); }
    qint64 firstKept() const { return header.size() + 1 + dropped; }
    int positionOf(qint64 place) const
    {
        if (place < firstKept())
            return view.document()
                    ->findBlockByNumber(int(std::min<qint64>(place, outputBlock())))
                    .position();
        // Every line takes its characters and one separator.
        qint64 position = view.document()->findBlockByNumber(int(outputBlock())).position();
        for (qint64 i = dropped; i < place - header.size() - 1; ++i)
            position += lines.at(i).size() + 1;
        return int(position);
    }
    qint64 placeAtTop() const
    {
        const int position = view.cursorForPosition(QPoint(0, 0)).position();
        const int block = view.document()->findBlock(position).blockNumber();
        if (block < outputBlock())
            return block;
        qint64 place = firstKept();
        while (place < header.size() + 1 + lines.size() && positionOf(place + 1) <= position)
            ++place;
        return place;
    }
    int topOf(qint64 place) const
    {
        QTextCursor cursor(view.document());
        cursor.setPosition(positionOf(place));
        return view.cursorRect(cursor).top();
    }

    void checkpoint()
    {
        // A plain QTextBrowser with a paragraph per line of the model, in the log's font
        // and size, scrolled as far: the same scroll range, the same pixels. Lines that
        // must be shaped are, as in any view; the log's font leaves shaping out of the
        // rest, which read as well without.
        QTextBrowser plain;
        plain.setFont(view.font());
        plain.resize(view.size());
        // Whether a view that only just fits shows its scroll bar depends on the widths it
        // went through (Qt keeps a bar rather than loop between layouts): the plain view
        // shows one when the log does.
        plain.setVerticalScrollBarPolicy(view.verticalScrollBar()->isVisible()
                                                 ? Qt::ScrollBarAlwaysOn
                                                 : Qt::ScrollBarAlwaysOff);
        QStringList paragraphs = header;
        if (dropped > 0)
            paragraphs << notice(dropped);
        plain.setPlainText((paragraphs + lines.mid(dropped) + QStringList(outcome)).join('\n'));
        QTextCharFormat shaped;
        shaped.setFontStyleStrategy(QFont::PreferDefault);
        for (QTextBlock block = plain.document()->begin(); block.isValid(); block = block.next()) {
            if (block.text().contains(shapedPieces)) {
                QTextCursor cursor(block);
                cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
                cursor.setCharFormat(shaped);
            }
        }
        plain.show();
        QScrollBar *bar = view.verticalScrollBar();
        QTRY_COMPARE_WITH_TIMEOUT(plain.verticalScrollBar()->maximum(), bar->maximum(), 5000);
        plain.verticalScrollBar()->setValue(bar->value());
        const auto images = settledImages(view.viewport(), plain.viewport());
        QVERIFY2(images, "the log's drawing does not settle");
        QVERIFY2(images->first == images->second, "the log looks different from a plain view");
    }

    // The first times Qt draws a glyph (in this process, in any view), a combining mark set
    // high above its letter may come out a pixel apart from later times, and a view's draw
    // can still change how the other's next one comes out: both are drawn in turn until
    // neither changes, which takes a round or two. None if it never settles.
    static std::optional<std::pair<QImage, QImage>> settledImages(QWidget *one, QWidget *other)
    {
        std::pair<QImage, QImage> last;
        for (int round = 0; round < 4; ++round) {
            std::pair<QImage, QImage> next { one->grab().toImage(), other->grab().toImage() };
            if (next == last)
                return next;
            last = std::move(next);
        }
        return std::nullopt;
    }

    QRandomGenerator random;
    QTextBrowser view;
    std::unique_ptr<DetailsLog> log;
    DetailsLog::Limits limits;
    // The model.
    QStringList header;
    QStringList lines; // every converter line since the restart, as shown
    qint64 dropped = 0;
    QString outcome;
    bool following = true;
    qint64 top = 0; // the place at the top of the view
};

QTEST_MAIN(LogDifferentialTest)
#include "tst_logdifferential.moc"

// The details log: order, paragraphs, the limits and their notice, the reader's place,
// and the callbacks that report the end of a run. Where the log must look and behave as
// a plain QTextBrowser holding the same lines, it is compared with one.

#include "app/detailslog.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

const QString firstLine = QStringLiteral("Initialising Project Conversion ...\n");

QStringList numbered(int from, int to, int width = 0, const QString &inside = QString())
{
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << (QStringLiteral("line %1").arg(i) + inside).leftJustified(width, QLatin1Char('.'));
    return lines;
}

QStringList paragraphsOf(const QTextDocument *document)
{
    QStringList texts;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        texts << block.text();
    return texts;
}

// A plain QTextBrowser with a paragraph per line, in the log's font and size.
std::unique_ptr<QTextBrowser> plainBrowser(const QTextBrowser &log, const QString &text)
{
    auto plain = std::make_unique<QTextBrowser>();
    plain->setFont(log.font());
    plain->resize(log.size());
    plain->setPlainText(text);
    plain->show();
    return plain;
}

// The text of the line at the top of the view.
QString topLine(const QTextBrowser &view)
{
    QTextCursor cursor = view.cursorForPosition(QPoint(0, 0));
    cursor.movePosition(QTextCursor::StartOfLine);
    cursor.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
    return cursor.selectedText();
}

} // namespace

class DetailsLogTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        view = std::make_unique<QTextBrowser>();
        view->resize(505, 340);
        view->show();
    }
    void cleanup() { view.reset(); }

    void limits_data()
    {
        QTest::addColumn<qint64>("lineLimit");
        QTest::addColumn<qint64>("characterLimit");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("inside"); // in every line
        QTest::addColumn<QString>("shownAs");
        const qint64 many = 1 << 30;
        // clang-format off
        QTest::newRow("lines, in small chunks") << qint64(1000) << many << 5000 << 50 << 0 << QString() << QString();
        QTest::newRow("lines, all at once") << qint64(1000) << many << 20000 << 20000 << 0 << QString() << QString();
        QTest::newRow("characters") << many << qint64(50000) << 3000 << 100 << 200 << QString() << QString();
        QTest::newRow("at the line limit") << qint64(1000) << many << 1000 << 10 << 0 << QString() << QString();
        QTest::newRow("one past the line limit") << qint64(1000) << many << 1001 << 7 << 0 << QString() << QString();
        // Qt's text insertion makes paragraph breaks of these.
        QTest::newRow("U+2029 in every line") << qint64(1000) << many << 5000 << 50 << 0 << QStringLiteral("\u2029x") << QStringLiteral("\u2028x");
        QTest::newRow("U+FDD0 in every line, all at once") << qint64(1000) << many << 20000 << 20000 << 0 << QStringLiteral("\ufdd0x") << QStringLiteral("\ufffdx");
        QTest::newRow("U+FDD1 in every line") << qint64(1000) << many << 5000 << 50 << 0 << QStringLiteral("\ufdd1x") << QStringLiteral("\ufffdx");
        QTest::newRow("CR in every line") << qint64(1000) << many << 5000 << 50 << 0 << QStringLiteral("\rx") << QStringLiteral("\u2028x");
        // clang-format on
    }
    void limits()
    {
        QFETCH(qint64, lineLimit);
        QFETCH(qint64, characterLimit);
        QFETCH(int, total);
        QFETCH(int, chunk);
        QFETCH(int, width);
        QFETCH(QString, inside);
        QFETCH(QString, shownAs);
        DetailsLog log(view.get(), { lineLimit, characterLimit });
        log.restart(firstLine);
        for (int from = 1; from <= total; from += chunk) {
            log.appendLines(numbered(from, std::min(total, from + chunk - 1), width, inside));
            QCoreApplication::processEvents();
        }
        log.appendText(QStringLiteral("done"));
        QTRY_VERIFY(log.isIdle());

        QStringList rows = paragraphsOf(view->document());
        QCOMPARE(rows.takeFirst(), firstLine.chopped(1));
        QCOMPARE(rows.takeLast(), QStringLiteral("done"));
        int dropped = 0;
        if (rows.first().startsWith(QLatin1String("... "))) {
            const QString notice = rows.takeFirst();
            dropped = notice.section(' ', 1, 1).toInt();
            QCOMPARE(notice, QStringLiteral("... %1 earlier lines not shown ...").arg(dropped));
        }
        // Exactly the newest lines, in order, and nothing lost below the limits.
        const QStringList kept = numbered(dropped + 1, total, width, inside);
        QString expected = kept.join(QChar::LineSeparator);
        if (!inside.isEmpty())
            expected.replace(inside, shownAs);
        QCOMPARE(rows.join(QChar::LineSeparator), expected);
        QVERIFY(kept.size() <= lineLimit);
        QVERIFY(kept.join('\n').size() <= characterLimit);
        // Dropping keeps the newest three quarters of what the limits allow.
        QVERIFY(kept.size() >= std::min<qint64>(
                        total,
                        DetailsLog::kept(std::min(lineLimit, characterLimit / (width + 10)))));
        if (total <= lineLimit && total * (width + 10) < characterLimit)
            QCOMPARE(dropped, 0);
        else
            QVERIFY(dropped > 0);
    }

    void restartForgetsTheEarlierRun()
    {
        DetailsLog log(view.get());
        log.restart(firstLine);
        log.appendLines(numbered(1, 5000));
        bool earlierActionRan = false;
        log.whenShown([&earlierActionRan] { earlierActionRan = true; });
        log.restart(firstLine);
        log.appendLines({ QStringLiteral("new") });
        bool shown = false;
        log.whenShown([&shown] { shown = true; });
        QTRY_VERIFY(shown);
        QVERIFY(!earlierActionRan);
        QCOMPARE(view->toPlainText(), firstLine + "new\n");
    }

    void followsTheEndUnlessScrolledAway()
    {
        DetailsLog log(view.get());
        log.restart(firstLine);
        log.appendLines(numbered(1, 500));
        QTRY_VERIFY(log.isIdle());
        QScrollBar *bar = view->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(0);
        log.appendLines(numbered(501, 1000));
        QTRY_VERIFY(log.isIdle());
        QCOMPARE(bar->value(), 0);
    }

    // While old lines go, a reader who scrolled up keeps the line at the top of the view,
    // or sees the first line kept when that one went; a reader at the end follows it.
    void keepsTheReadersPlace_data()
    {
        QTest::addColumn<int>("top"); // 0: following the end
        QTest::addColumn<int>("total");
        QTest::newRow("its line stays") << 437 << 1100;
        QTest::newRow("its line goes") << 437 << 2500;
        QTest::newRow("following the end") << 0 << 2500;
    }
    void keepsTheReadersPlace()
    {
        QFETCH(int, top);
        QFETCH(int, total);
        DetailsLog log(view.get(), { 1000, 1 << 30 });
        log.restart(firstLine);
        log.appendLines(numbered(1, 600));
        QTRY_VERIFY(log.isIdle());
        QScrollBar *bar = view->verticalScrollBar();
        if (top > 0) {
            const QTextCursor line = view->document()->find(QStringLiteral("line %1").arg(top));
            bar->setValue(bar->value() + view->cursorRect(line).top());
            QCOMPARE(topLine(*view), QStringLiteral("line %1").arg(top));
        }
        for (int from = 601; from <= total; from += 50) {
            log.appendLines(numbered(from, from + 49));
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY(log.isIdle());
        const QString notice = paragraphsOf(view->document()).at(1);
        const int dropped = notice.section(' ', 1, 1).toInt();
        QVERIFY2(dropped > 0, qPrintable(notice));
        if (top == 0)
            QCOMPARE(bar->value(), bar->maximum());
        else
            QCOMPARE(topLine(*view), QStringLiteral("line %1").arg(std::max(top, dropped + 1)));
    }

    // The log's layout measures a paragraph's height from its characters' advances where
    // it can; Qt's own layout must give the same, at any width.
    void heightsAsQtLaysThemOut_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("extra"); // for an empty text: lines of 'x' this much too long
        QTest::newRow("short lines") << QStringLiteral("alpha\nbeta\u2028gamma\n\n") << 0;
        QTest::newRow("a long line") << QStringLiteral("word ").repeated(60) << 0;
        QTest::newRow("tab, accents, CJK")
                << QStringLiteral("a\tb\n\u00e9t\u00e9\n\u6f22\u5b57") << 0;
        QTest::newRow("fits the width") << QString() << 0;
        QTest::newRow("a character more") << QString() << 1;
    }
    void heightsAsQtLaysThemOut()
    {
        QFETCH(QString, text);
        QFETCH(int, extra);
        DetailsLog log(view.get());
        log.restart(firstLine); // the log's font
        QTextDocument *document = view->document();
        if (text.isEmpty()) {
            const qreal width = document->pageSize().width() - 2 * document->documentMargin();
            const int fit = int(width / QFontMetricsF(view->font()).horizontalAdvance('x'));
            text = QString(fit + extra, 'x') + '\n' + QString(fit / 2, 'x');
        }
        log.restart(text);
        for (const int width : { 505, 230, 505 }) {
            view->resize(width, 340);
            const auto plain = plainBrowser(*view, text);
            QTextBlock other = plain->document()->begin();
            for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
                const qreal measured
                        = document->documentLayout()->blockBoundingRect(block).height();
                QCOMPARE(measured,
                         plain->document()->documentLayout()->blockBoundingRect(other).height());
                other = other.next();
            }
        }
    }

    // A line drawn in a fallback font (CJK, emoji) is as high as it is drawn, and every
    // line stands where a plain QTextBrowser puts it. Without such a font on the machine
    // every line is as high as the next, and this holds all the same.
    void fallbackFontLinesTakeTheirHeight()
    {
        QStringList lines;
        for (int i = 0; i < 300; ++i) {
            lines << (i % 5 == 2 ? QStringLiteral("line %1: \u6f22\u5b57 \U0001F600").arg(i)
                                 : QStringLiteral("line %1:").arg(i));
        }
        DetailsLog log(view.get());
        log.restart(firstLine);
        log.appendLines(lines);
        QTRY_VERIFY(log.isIdle());
        const auto plain = plainBrowser(*view, firstLine + lines.join('\n') + '\n');
        // The plain view lays out its document in steps.
        QTRY_COMPARE(plain->verticalScrollBar()->maximum(), view->verticalScrollBar()->maximum());
        for (const int value : { 0, plain->verticalScrollBar()->maximum() / 2 }) {
            view->verticalScrollBar()->setValue(value);
            plain->verticalScrollBar()->setValue(value);
            for (int i = 0; i < lines.size(); i += 7) {
                const QString line = QStringLiteral("line %1:").arg(i);
                QCOMPARE(view->cursorRect(view->document()->find(line)),
                         plain->cursorRect(plain->document()->find(line)));
            }
        }
    }

    // Each line takes its own writing direction, as it does in a paragraph of its own.
    void eachLineTakesItsOwnDirection_data()
    {
        QTest::addColumn<QStringList>("lines");
        const QString hebrew = QStringLiteral("\u05e9\u05dc\u05d5\u05dd, \u05e2\u05d5\u05dc\u05dd");
        const QString arabic = QStringLiteral("\u0645\u0631\u062d\u0628\u0627 123");
        QTest::newRow("Hebrew first")
                << QStringList { hebrew, QStringLiteral("line 192: compiling, done."),
                                 QStringLiteral("line 193: 4 files") };
        QTest::newRow("Arabic in the middle")
                << QStringList { QStringLiteral("line 1"), arabic, QStringLiteral("line 3."),
                                 arabic + QStringLiteral(" (2)"), QStringLiteral("line 5") };
        QTest::newRow("a right-to-left override")
                << QStringList { QStringLiteral("\u202eline 1"), QStringLiteral("line 2"),
                                 QStringLiteral("\u0661.\u0662") };
    }
    void eachLineTakesItsOwnDirection()
    {
        QFETCH(QStringList, lines);
        DetailsLog log(view.get());
        log.restart(firstLine);
        log.appendLines(lines);
        QTRY_VERIFY(log.isIdle());
        const auto plain = plainBrowser(*view, firstLine + lines.join('\n') + '\n');
        for (const QString &line : lines) {
            const QTextCursor here = view->document()->find(line);
            const QTextCursor there = plain->document()->find(line);
            for (const int offset : { 0, 1, int(line.size()) - 1, int(line.size()) }) {
                QTextCursor a(here), b(there);
                a.setPosition(here.selectionStart() + offset);
                b.setPosition(there.selectionStart() + offset);
                QCOMPARE(view->cursorRect(a), plain->cursorRect(b));
            }
        }
    }

    void contextMenuOffersCopyAndSelectAll()
    {
        DetailsLog log(view.get());
        log.restart(firstLine);
        const std::unique_ptr<QMenu> menu(view->createStandardContextMenu());
        QStringList texts;
        for (const QAction *action : menu->actions()) {
            if (!action->isSeparator())
                texts << action->text().section('\t', 0, 0).remove('&');
        }
        QCOMPARE(texts, QStringList({ QStringLiteral("Copy"), QStringLiteral("Select All") }));
    }

    void controlHomeAndEndGoToTheFirstAndLastLine()
    {
        DetailsLog log(view.get());
        log.restart(firstLine);
        log.appendLines(numbered(1, 500));
        QTRY_VERIFY(log.isIdle());
        QScrollBar *bar = view->verticalScrollBar();
        QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(bar->value(), 0);
        QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(bar->maximum() > 0);
    }

    // A screen reader reads the lines separated by line feeds, as in a plain QTextBrowser.
    void accessibleTextSeparatesLinesWithLineFeeds()
    {
        DetailsLog log(view.get());
        log.restart(firstLine);
        log.appendLines(numbered(1, 100));
        QTRY_VERIFY(log.isIdle());
        view->setAccessibleName(QStringLiteral("Conversion details"));
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(view.get());
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Conversion details"));
        QVERIFY(accessible->state().readOnly && accessible->state().multiLine);
        QAccessibleTextInterface *text = accessible->textInterface();
        QVERIFY(text);
        QCOMPARE(text->text(0, text->characterCount()),
                 firstLine + numbered(1, 100).join('\n') + '\n');
    }

    void selectsWhatTheMouseDragsOver_data()
    {
        QTest::addColumn<bool>("atTheTop");
        QTest::addColumn<int>("first");
        QTest::newRow("scrolled to the top") << true << 2;
        QTest::newRow("following the end") << false << 95;
    }
    void selectsWhatTheMouseDragsOver()
    {
        QFETCH(bool, atTheTop);
        QFETCH(int, first);
        DetailsLog log(view.get());
        log.restart(firstLine);
        log.appendLines(numbered(1, 100));
        QTRY_VERIFY(log.isIdle());
        if (atTheTop)
            view->verticalScrollBar()->setValue(0);
        const auto at = [this](const QString &text, bool end) {
            QTextCursor cursor = view->document()->find(text);
            cursor.setPosition(end ? cursor.selectionEnd() : cursor.selectionStart());
            const QRect rect = view->cursorRect(cursor);
            return QPoint(rect.left(), rect.center().y());
        };
        const QString last = QStringLiteral("line %1").arg(first + 2);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {},
                          at(QStringLiteral("line %1").arg(first), false));
        QTest::mouseMove(view->viewport(), at(last, true));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(last, true));
        const QString selected = view->textCursor().selectedText();
        QCOMPARE(QString(selected)
                         .replace(QChar::LineSeparator, '\n')
                         .replace(QChar::ParagraphSeparator, '\n'),
                 numbered(first, first + 2).join('\n'));
    }

private:
    std::unique_ptr<QTextBrowser> view;
};

QTEST_MAIN(DetailsLogTest)
#include "tst_detailslog.moc"

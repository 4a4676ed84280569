// The details log: order, paragraphs, the limits and their notice, and the callbacks
// that report the end of a run.

#include "app/detailslog.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

const QString firstLine = QStringLiteral("Initialising Project Conversion ...\n");

QStringList numbered(int from, int to, int width = 0)
{
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << QStringLiteral("line %1").arg(i).leftJustified(width, QLatin1Char('.'));
    return lines;
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
        // clang-format off
        QTest::newRow("lines, in small chunks") << qint64(1000) << qint64(1 << 30) << 5000 << 50 << 0;
        QTest::newRow("lines, all at once") << qint64(1000) << qint64(1 << 30) << 20000 << 20000 << 0;
        QTest::newRow("characters") << qint64(1 << 30) << qint64(50000) << 3000 << 100 << 200;
        QTest::newRow("at the line limit") << qint64(1000) << qint64(1 << 30) << 1000 << 10 << 0;
        QTest::newRow("one past the line limit") << qint64(1000) << qint64(1 << 30) << 1001 << 7 << 0;
        // clang-format on
    }
    void limits()
    {
        QFETCH(qint64, lineLimit);
        QFETCH(qint64, characterLimit);
        QFETCH(int, total);
        QFETCH(int, chunk);
        QFETCH(int, width);
        DetailsLog log(view.get(), { lineLimit, characterLimit });
        log.restart(firstLine);
        for (int from = 1; from <= total; from += chunk) {
            log.appendLines(numbered(from, std::min(total, from + chunk - 1), width));
            QCoreApplication::processEvents();
        }
        log.appendText(QStringLiteral("done"));
        QTRY_VERIFY(log.isIdle());

        QStringList rows = view->toPlainText().split('\n');
        QCOMPARE(rows.takeFirst(), firstLine.chopped(1));
        QCOMPARE(rows.takeLast(), QStringLiteral("done"));
        int dropped = 0;
        if (rows.first().startsWith(QLatin1String("... "))) {
            const QString notice = rows.takeFirst();
            dropped = notice.section(' ', 1, 1).toInt();
            QCOMPARE(notice, QStringLiteral("... %1 earlier lines not shown ...").arg(dropped));
        }
        QVERIFY(rows.size() <= lineLimit);
        QVERIFY(rows.join('\n').size() <= characterLimit);
        // Exactly the newest lines, in order, and nothing lost below the limits.
        QCOMPARE(rows, numbered(dropped + 1, total, width));
        // Dropping keeps the newest three quarters of what the limits allow.
        QVERIFY(rows.size() >= std::min<qint64>(
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

    // The log's layout counts a paragraph's lines from its characters' advances where it
    // can: laying the paragraph out must give the same, at any width.
    void linesCountedAsLaidOut_data()
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
    void linesCountedAsLaidOut()
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
            for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
                const int measured = block.lineCount();
                document->documentLayout()->blockBoundingRect(block);
                QCOMPARE(block.lineCount(), block.layout()->lineCount());
                QCOMPARE(measured, block.lineCount());
            }
        }
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

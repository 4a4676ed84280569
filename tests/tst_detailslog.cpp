// The details log: order, the limits and their notice, the callbacks that report the end
// of a run, and where it must look and behave as a plain QTextBrowser holding the same
// lines, a comparison with one. tst_logdifferential drives it with hostile input.

#include "app/detailslog.h"
#include "support.h"

#include <QAccessible>
#include <QAccessibleTextInterface>
#include <QMenu>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

QStringList numbered(int from, int to, int width = 0)
{
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << QStringLiteral("line %1").arg(i).leftJustified(width, QLatin1Char('.'));
    return lines;
}

// Counts the stretches in which the view's updates were on, and those of them that
// ended before both its text and its scroll bar were painted.
struct PaintWatcher : QObject
{
    explicit PaintWatcher(QTextBrowser *view) : view(view) { qApp->installEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            text = text || watched == view->viewport();
            bar = bar || watched == view->verticalScrollBar();
        }
        if (on != view->updatesEnabled()) {
            on = !on;
            stretches += !on;
            unpainted += !on && !(text && bar);
            text = bar = false;
        }
        return false;
    }
    QTextBrowser *view;
    bool on = true, text = true, bar = true;
    int stretches = 0, unpainted = 0;
};

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
        QTest::addColumn<qint64>("paragraphLimit"); // lines 4,096 wide take one each
        QTest::addColumn<QString>("between"); // added as it stands after the first chunk
        const qint64 many = 1 << 30;
        // clang-format off
        QTest::newRow("lines, in small chunks") << qint64(1000) << many << 5000 << 50 << 0 << many << QString();
        QTest::newRow("lines, all at once") << qint64(1000) << many << 20000 << 20000 << 0 << many << QString();
        QTest::newRow("characters") << many << qint64(50000) << 3000 << 100 << 200 << many << QString();
        QTest::newRow("at the line limit") << qint64(1000) << many << 1000 << 10 << 0 << many << QString();
        QTest::newRow("one past the line limit") << qint64(1000) << many << 1001 << 7 << 0 << many << QString();
        QTest::newRow("lines over 3/4 of the characters, in one batch") << many << qint64(1500) << 2 << 2 << 1200 << many << QString();
        QTest::newRow("paragraphs, in small chunks") << many << many << 295 << 7 << 4096 << qint64(40) << QString();
        QTest::newRow("paragraphs, all at once") << many << many << 295 << 295 << 4096 << qint64(40) << QString();
        QTest::newRow("at the paragraph limit") << many << many << 40 << 3 << 4096 << qint64(40) << QString();
        QTest::newRow("lines, text between them") << qint64(128) << many << 400 << 32 << 0 << many << QStringLiteral("note");
        QTest::newRow("paragraphs, text between them") << many << many << 200 << 5 << 4096 << qint64(20) << QStringLiteral("note\nmore");
        // clang-format on
    }
    void limits()
    {
        QFETCH(qint64, lineLimit);
        QFETCH(qint64, characterLimit);
        QFETCH(int, total);
        QFETCH(int, chunk);
        QFETCH(int, width);
        QFETCH(qint64, paragraphLimit);
        QFETCH(QString, between);
        DetailsLog log(view.get(), { lineLimit, characterLimit, paragraphLimit });
        log.restart(firstLine);
        for (int from = 1; from <= total; from += chunk) {
            log.appendLines(numbered(from, std::min(total, from + chunk - 1), width));
            QCoreApplication::processEvents();
            if (from == 1 && !between.isEmpty()) {
                QTRY_VERIFY(log.isIdle());
                log.appendText(between);
            }
        }
        log.appendText(QStringLiteral("done"));
        QTRY_VERIFY(log.isIdle());
        QTRY_VERIFY(view->updatesEnabled()); // a flood is painted by a frame after its end

        QStringList rows;
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next())
            rows << block.text();
        QCOMPARE(rows.takeFirst(), firstLine.chopped(1));
        QCOMPARE(rows.takeLast(), QStringLiteral("done"));
        for (const QString &piece : between.split('\n', Qt::SkipEmptyParts))
            rows.removeAll(piece);
        int dropped = 0;
        if (rows.first().startsWith(QLatin1String("... "))) {
            const QString notice = rows.takeFirst();
            dropped = notice.section(' ', 1, 1).toInt();
            QCOMPARE(notice, QStringLiteral("... %1 earlier lines not shown ...").arg(dropped));
        }
        // Exactly the newest lines, in order, in paragraphs, and nothing lost below the
        // limits; dropping keeps the newest three quarters of what the limits allow.
        const QStringList kept = numbered(dropped + 1, total, width);
        QCOMPARE(rows.join(QChar::LineSeparator), kept.join(QChar::LineSeparator));
        QVERIFY(kept.size() <= lineLimit);
        QVERIFY(kept.join('\n').size() <= characterLimit);
        QVERIFY(rows.size() <= paragraphLimit);
        // A paragraph each: every drop goes down to three quarters, never one at a time.
        if (width >= DetailsLog::charactersPerParagraph && total > paragraphLimit
            && between.isEmpty()) {
            const qint64 keptAfterDrop = DetailsLog::kept(paragraphLimit);
            QCOMPARE(kept.size(),
                     keptAfterDrop + (total - paragraphLimit - 1) % (paragraphLimit - keptAfterDrop)
                             + 1);
        }
        QVERIFY(kept.size() >= std::min<qint64>(
                        total,
                        DetailsLog::kept(std::min(
                                { lineLimit, characterLimit / (width + 10), paragraphLimit }))));
        QCOMPARE(dropped > 0,
                 total > lineLimit || total * (width + 10) >= characterLimit
                         || total > paragraphLimit);
        QVERIFY(dropped < total); // the newest line is always shown
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

    // Every line stands where a plain QTextBrowser with a paragraph per line puts it, at
    // any width: as high as Qt lays it out, wrapped where it wraps there (at the width,
    // a character past it, at blanks, anywhere in a word too wide). The scroll range is
    // the same too. (Writing directions and fallback fonts: tst_logdifferential.)
    void linesStandAsInAPlainBrowser_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("extra"); // no lines: two of 'x', this much wider than the view
        // As a converter on Windows prints them: most wrap, at blanks or anywhere.
        QStringList paths;
        for (int i = 0; i < 40; ++i)
            paths << QStringLiteral(
                             "adding C:\\Program Files\\VisualDSP 5.0\\src\\driver sources %1\\")
                                    .arg(i)
                                    .repeated(1 + i % 4)
                            + QString(i * 7 % 90, QLatin1Char(i % 3 ? 'x' : ' ')) + "file.cpp";
        // Glyphs that reach past their advance (a fraction slash, a backslash, an f)
        // ending a word near the width; a run of blanks past Qt's 4096-character pieces.
        QStringList overhanging;
        for (int k = 10; k <= 75; ++k)
            for (int m = 0; m <= 3; ++m)
                for (const char16_t *end : { u"\u2044", u"\\", u"f" })
                    overhanging << QString(k, 'x') + QString(m, 'i') + QString::fromUtf16(end)
                                    + " yyyy";
        const QStringList longBlanks
                = QStringList { QString(3000, 'x') + QString(1200, ' ') + QString(40, 'y') }
                + numbered(1, 100);
        // Blanks in front of a word wider than the view: Qt's document layout widens that
        // line and cuts the rest of its paragraph at words only.
        QStringList indented = numbered(1, 20);
        for (int n = 40; n <= 135; n += 5)
            indented << QString(n, ' ') + QString(150, 'x') + " y " + QString(100, 'z');
        // Drawn in a fallback font, with punctuation of theirs, in runs of Latin text; of
        // every length around the width.
        QStringList cjk;
        for (const char *line :
             { "ドライバのソースをコンパイル中", "「設定ファイル」を読み込みました。",
               "error: ファイル「main.c」が見つかりません", "・ソース（全角）ＡＢＣ１２３",
               "파일을 변환하는 중", "中文路径 C:\\项目\\主程序.c", "компиляция ファイル" }) {
            const QString repeated = QString::fromUtf8(line).repeated(3);
            for (qsizetype length = repeated.size() / 3; length <= repeated.size(); length += 2)
                cjk << repeated.first(length);
        }
        // clang-format off
        QTest::newRow("Windows paths") << paths << 0;
        QTest::newRow("Chinese, Japanese and Korean") << cjk + numbered(1, 40) << 0;
        // A kana run draws its quotes in its own font; a letter before full-width ones overhangs.
        QTest::newRow("a quote in a kana run") << QStringList { QString::fromUtf8("エラー: ‘") + QString(46, 'x') + QString::fromUtf8("’ が見つかりません") } + numbered(1, 60) << 0;
        QTest::newRow("full-width after an overhanging letter") << QStringList { "T" + QString(41, QChar(0xff38)), "T" + QString(17, QChar(0xff38)) } + numbered(1, 60) << 0;
        QTest::newRow("overhanging glyphs at the width") << overhanging << 0;
        QTest::newRow("blanks past 4096 characters") << longBlanks << 0;
        QTest::newRow("blanks in front of a long word") << indented << 0;
        QTest::newRow("blanks wider than the view") << QStringList { QString(300, ' ') + "x", "a" + QString(300, ' ') } << 0;
        QTest::newRow("short lines") << QStringList { "alpha", "beta\u2028gamma", "", "" } << 0;
        QTest::newRow("tab, accents, CJK") << QStringList { "a\tb", "\u00e9t\u00e9", "\u6f22\u5b57" } << 0;
        QTest::newRow("Greek and Cyrillic, wrapped") << QStringList { QString::fromUtf8("компиляция файла ").repeated(9), QString::fromUtf8("μεταγλώττιση του ").repeated(9) + "x" } << 0;
        QTest::newRow("Hebrew, wrapped and in brackets") << QStringList { QString::fromUtf8("קומפילציה של קובץ ").repeated(4), QString::fromUtf8("(קובץ) [1]"), QString::fromUtf8("שלום") } + numbered(1, 40) << 0;
        QTest::newRow("characters wider than the view") << QStringList { "W", QString::fromUtf8("Ж"), QString::fromUtf8("Ш Щ Ю"), "f\\/" } + numbered(1, 60) << 0;
        QTest::newRow("fits the width") << QStringList() << 0;
        QTest::newRow("a character more") << QStringList() << 1;
        // clang-format on
    }
    void linesStandAsInAPlainBrowser()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, extra);
        DetailsLog log(view.get());
        log.restart(firstLine); // the log's font
        if (lines.isEmpty()) {
            const QTextDocument *document = view->document();
            const qreal width = document->pageSize().width() - 2 * document->documentMargin();
            const int fit = int(width / QFontMetricsF(view->font()).horizontalAdvance('x'));
            lines = QStringList { QString(fit + extra, 'x'), QString(fit / 2, 'x') };
        }
        log.appendLines(lines);
        QTRY_VERIFY(log.isIdle());
        // The view as the wizard shows it, narrower, narrower than a wide character.
        for (const int width : { 505, 230, 36, 505 }) {
            view->resize(width, 340);
            const auto plain = plainView(firstLine + lines.join('\n') + '\n');
            QScrollBar *bar = view->verticalScrollBar();
            // The plain view lays out its document in steps.
            QTRY_COMPARE(plain->verticalScrollBar()->maximum(), bar->maximum());
            for (const int value : { 0, bar->maximum() / 2 }) {
                bar->setValue(value);
                plain->verticalScrollBar()->setValue(value);
                // A line and its separator take as many characters in each document.
                int start = int(firstLine.size());
                for (const QString &line : lines) {
                    for (const int offset : { 0, 1, int(line.size()) - 1, int(line.size()) }) {
                        QTextCursor ours(view->document()), theirs(plain->document());
                        const int at = start + std::clamp(offset, 0, int(line.size()));
                        ours.setPosition(at);
                        theirs.setPosition(at);
                        QCOMPARE(view->cursorRect(ours), plain->cursorRect(theirs));
                    }
                    start += int(line.size()) + 1;
                }
            }
        }
    }

    // Arabic letters join and a combining accent sits on its letter, wherever the text
    // comes from (converter lines: tst_logdifferential's checkpoints): the log's font
    // leaves shaping out only of text that reads as well without it.
    void textThatMustBeShapedIs_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("text");
        const QString arabic = QStringLiteral("\u0645\u0631\u062d\u0628\u0627 x");
        const QString accent = QStringLiteral("e\u0301t\u00e9");
        QTest::newRow("first text") << arabic + '\n' + accent + '\n' << QString();
        QTest::newRow("text as it stands") << "\n" << arabic + '\n' + accent;
        // Right to left, brackets and their like are drawn mirrored.
        QTest::newRow("mirrored right to left")
                << QStringLiteral("\u05e9\u05dc\u05d5\u05dd (\u05e7) [1] <2> \u00ab\u2264\u00bb\n")
                << QStringLiteral("\u202ex (y)");
        // Arabic digits are no letters, but a bracket between two stands right to left.
        QTest::newRow("mirrored between Arabic digits") << QStringLiteral("\u0661(\u0662)\u0663\n")
                                                        << QStringLiteral("\u0664[\u0665]\u0666");
        // A number sign spans the digits after it, Thai SARA AM is drawn in two pieces.
        QTest::newRow("signs that span or split")
                << QStringLiteral("\u0600\u0661\u0662\n") << QStringLiteral("\u0e01\u0e33");
    }
    void textThatMustBeShapedIs()
    {
        QFETCH(QString, first);
        QFETCH(QString, text);
        DetailsLog log(view.get());
        log.restart(first);
        log.appendText(text);
        QTRY_VERIFY(log.isIdle());
        const auto plain = plainView(view->toPlainText());
        QFont shaped = view->font();
        shaped.setStyleStrategy(QFont::PreferDefault);
        plain->setFont(shaped);
        QCOMPARE(view->viewport()->grab().toImage(), plain->viewport()->grab().toImage());
    }

    // A character wider than the view makes the document wider, as in a plain view; once
    // its line goes, the document is as narrow as the lines left.
    void aLineWiderThanTheViewTakesItsWidthAlong()
    {
        DetailsLog log(view.get());
        log.restart(QStringLiteral("\n"));
        const int room = int(2 * view->document()->documentMargin()
                             + QFontMetricsF(view->font()).horizontalAdvance('W'))
                - 1;
        view->resize(view->width() - view->viewport()->width() + room, 340);
        const auto plain = plainView(QString());
        struct : QObject
        {
            int count = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                count += event->type() == QEvent::Paint;
                return false;
            }
        } paints;
        view->viewport()->installEventFilter(&paints);
        // Shown; scrolled out of sight before it was ever drawn; gone.
        const QStringList wide { QStringLiteral("W") }, narrow { QString() };
        for (const QStringList &lines : { wide, wide + QStringList(100, QString()), narrow }) {
            log.restart(QStringLiteral("\n"));
            log.appendLines(lines);
            QTRY_VERIFY(log.isIdle());
            plain->setPlainText("\n" + lines.join('\n') + '\n');
            QCOMPARE(plain->horizontalScrollBar()->maximum() > 0, lines.first() == wide.first());
            QTRY_COMPARE(view->horizontalScrollBar()->maximum(),
                         plain->horizontalScrollBar()->maximum());
            // Shown, it stays as it is: no paint asks for another.
            QCoreApplication::processEvents();
            paints.count = 0;
            for (int round = 0; round < 20; ++round)
                QCoreApplication::processEvents();
            QCOMPARE(paints.count, 0);
        }
    }

    // A flood is held back between paints, and every time it is let paint, it paints:
    // in a window of its own and inside another.
    void aFloodIsPaintedEveryFrame_data()
    {
        QTest::addColumn<bool>("inWindow");
        QTest::newRow("a window of its own") << false;
        QTest::newRow("inside a window") << true;
    }
    void aFloodIsPaintedEveryFrame()
    {
        QFETCH(bool, inWindow);
        QWidget window;
        // The view goes back to the test before the window goes, whatever fails.
        const auto unparent = qScopeGuard([this] { view->setParent(nullptr); });
        if (inWindow) {
            view->setParent(&window);
            (new QVBoxLayout(&window))->addWidget(view.get());
            window.resize(505, 340);
            window.show();
        }
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        DetailsLog log(view.get());
        log.restart(firstLine);
        QTRY_VERIFY(log.isIdle());
        PaintWatcher watcher(view.get());
        log.appendLines(numbered(1, 60000, 100));
        QTRY_VERIFY(log.isIdle());
        QTRY_VERIFY(view->updatesEnabled());
        if (watcher.stretches == 0)
            QSKIP("every paint took longer than a frame: nothing was held back");
        QCOMPARE(watcher.unpainted, 0);
    }

    // A log deleted while it holds its view back lets the view paint again.
    void aViewOutlivesItsLog()
    {
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        auto log = std::make_unique<DetailsLog>(view.get());
        log->restart(firstLine);
        log->appendLines(numbered(1, 60000, 100));
        QTRY_VERIFY(!view->updatesEnabled() || log->isIdle());
        if (log->isIdle())
            QSKIP("every paint took longer than a frame: nothing was held back");
        log.reset();
        QTRY_VERIFY(view->updatesEnabled());
    }

    // Copy and Select All alone, keys to the first and last line, a selection where the
    // mouse drags, and for a screen reader the lines separated by line feeds, as in a plain
    // QTextBrowser.
    void readersTools()
    {
        DetailsLog log(view.get());
        log.restart(firstLine);
        log.appendLines(numbered(1, 500));
        QTRY_VERIFY(log.isIdle());
        const std::unique_ptr<QMenu> menu(view->createStandardContextMenu());
        QStringList texts;
        for (const QAction *action : menu->actions())
            if (!action->isSeparator())
                texts << action->text().section('\t', 0, 0).remove('&');
        QCOMPARE(texts, QStringList({ QStringLiteral("Copy"), QStringLiteral("Select All") }));

        const auto selectByMouse = [this](int first) {
            const auto at = [this](int line, bool end) {
                QTextCursor cursor = view->document()->find(QStringLiteral("line %1").arg(line));
                cursor.setPosition(end ? cursor.selectionEnd() : cursor.selectionStart());
                const QRect rect = view->cursorRect(cursor);
                return QPoint(rect.left(), rect.center().y());
            };
            QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(first, false));
            QTest::mouseMove(view->viewport(), at(first + 2, true));
            QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(first + 2, true));
            return view->textCursor()
                    .selectedText()
                    .replace(QChar::LineSeparator, '\n')
                    .replace(QChar::ParagraphSeparator, '\n');
        };
        QScrollBar *bar = view->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(bar->value(), 0);
        QCOMPARE(selectByMouse(2), numbered(2, 4).join('\n'));
        QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(selectByMouse(495), numbered(495, 497).join('\n'));

        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(view.get());
        QVERIFY(accessible->state().readOnly && accessible->state().multiLine);
        QAccessibleTextInterface *text = accessible->textInterface();
        QVERIFY(text);
        QCOMPARE(text->text(0, text->characterCount()),
                 firstLine + numbered(1, 500).join('\n') + '\n');
    }

private:
    // A plain QTextBrowser holding `text`, in the log's font and size.
    std::unique_ptr<QTextBrowser> plainView(const QString &text)
    {
        auto plain = std::make_unique<QTextBrowser>();
        plain->setFont(view->font());
        plain->resize(view->size());
        plain->setPlainText(text);
        plain->show();
        return plain;
    }

    std::unique_ptr<QTextBrowser> view;
};

QTEST_MAIN(DetailsLogTest)
#include "tst_detailslog.moc"

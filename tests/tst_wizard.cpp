// The wizard's widgets: the start, the page checks, the summary, remembered inputs,
// the browse dialogs, the ways out, and the wizard on a desktop: texts that fit,
// legible under a dark theme, completion and drops, screen readers, Tab order and first
// focus, the window's size, the font of popups and boxes, the icon.

#include "support.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleOption>
#include <QToolTip>
#include <QUrl>

namespace {

const QColor black(0, 0, 0), red(255, 0, 0);

QColor colour(const QLineEdit *field)
{
    return field->palette().color(QPalette::Text);
}

// The WCAG contrast of the text in `area` of `image`: between its lightest pixel (the
// white background) and its darkest (the core of a glyph).
double textContrast(const QImage &image, const QRect &area)
{
    const auto linear = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const auto luminance = [&linear](QRgb c) {
        return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
    };
    double lightest = 0, darkest = 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            lightest = std::max(lightest, luminance(image.pixel(x, y)));
            darkest = std::min(darkest, luminance(image.pixel(x, y)));
        }
    return (lightest + 0.05) / (darkest + 0.05);
}

// Where a widget draws its text, in its own coordinates, without frames and boxes;
// empty when it shows none. (Group box titles share the labels' colours.)
QRect textArea(QWidget *widget)
{
    if (auto *box = qobject_cast<QCheckBox *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    }
    auto *label = qobject_cast<QLabel *>(widget);
    auto *field = qobject_cast<QLineEdit *>(widget);
    if ((label && !label->text().isEmpty()) || (field && !field->text().isEmpty())
        || qobject_cast<QPushButton *>(widget) || qobject_cast<QTextBrowser *>(widget))
        return widget->rect().adjusted(4, 4, -4, -4);
    return QRect();
}

// The widgets of a page whose rectangles cut their texts short.
QStringList cutTexts(QWidget *page)
{
    QStringList cut;
    for (QWidget *widget : page->findChildren<QWidget *>()) {
        const QFontMetrics metrics = widget->fontMetrics();
        auto *label = qobject_cast<QLabel *>(widget);
        auto *button = qobject_cast<QPushButton *>(widget);
        auto *group = qobject_cast<QGroupBox *>(widget);
        QSize needed;
        if (label && label->wordWrap())
            needed = QSize(0, label->heightForWidth(widget->width()));
        else if ((label && !label->text().isEmpty()) || qobject_cast<QCheckBox *>(widget))
            needed = widget->sizeHint();
        else if (qobject_cast<QLineEdit *>(widget))
            needed = QSize(0, widget->sizeHint().height());
        else if (button) // a push button's hint holds a minimum width, not its text's
            needed = QSize(metrics.horizontalAdvance(button->text())
                                   + 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin),
                           metrics.height());
        else if (group && !group->title().isEmpty()) {
            needed = QSize(metrics.horizontalAdvance(group->title()), 0);
            if (metrics.height() > group->childrenRect().top()) // above the widgets inside
                cut << group->objectName() + " title";
        }
        if (needed.width() > widget->width() || needed.height() > widget->height())
            cut << widget->objectName();
    }
    return cut;
}

} // namespace

class WizardTest : public WizardTestCase
{
    Q_OBJECT

private slots:
    // The checks of Page0 and Page1. Paths: e exists, m missing, - empty; on Page0
    // installation, project, destination, on Page1 message, analyser, compiler.
    void pageChecks_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("paths");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("next");
        // clang-format off
        QTest::newRow("Page0 empty name blocks") << 0 << "eee" << "" << false;
        QTest::newRow("Page0 name of blanks passes") << 0 << "eee" << " " << true;
        QTest::newRow("Page0 empty project") << 0 << "e-e" << "app" << false;
        QTest::newRow("Page1 all empty") << 1 << "---" << "" << true;
        QTest::newRow("Page1 all good") << 1 << "eee" << "" << true;
        QTest::newRow("Page1 bad message, good compiler") << 1 << "m-e" << "" << false;
        QTest::newRow("Page1 bad analyser alone") << 1 << "-m-" << "" << false;
        QTest::newRow("Page1 bad compiler alone") << 1 << "--m" << "" << false;
        // clang-format on
    }
    void pageChecks()
    {
        QFETCH(int, page);
        QFETCH(QString, paths);
        QFETCH(QString, name);
        QFETCH(bool, next);
        const QList<QLineEdit *> fields = page == 0
                ? QList<QLineEdit *> { wizard->VDSPInstallDirEdit, wizard->VDSPProjectEdit,
                                       wizard->NorvikProjectEdit }
                : QList<QLineEdit *> { wizard->MsgPersonEdit, wizard->AnalPersonEdit,
                                       wizard->CmpPersonEdit };
        const QColor untouched = colour(fields[0]);
        // Any kind of path will do: a directory as the project file, a file as a folder.
        const QString existing = work->makeDirectory("exists");
        for (int i = 0; i < 3; ++i)
            fields[i]->setText(paths[i] == '-'           ? QString()
                                       : paths[i] == 'e' ? existing
                                                         : work->path("gone"));
        wizard->NorvikNameEdit->setText(name);
        QCOMPARE((page == 0 ? wizard->Page0 : wizard->Page1)->isComplete(), next);
        for (int i = 0; i < 3; ++i) // on Page1 an empty field keeps its colour
            QCOMPARE(colour(fields[i]),
                     paths[i] == 'e'                        ? black
                             : paths[i] == 'm' || page == 0 ? red
                                                            : untouched);
    }

    // A project file from the command line (parsed: tst_logic) fills its field, checked
    // as if typed: a relative name against the working directory.
    void projectFileFromCommandLine()
    {
        work->makeFile("app.dpj");
        for (const QString &file : { QStringLiteral("app.dpj"), work->path("gone.dpj") }) {
            wizard->setProjectFile(file);
            QCOMPARE(wizard->VDSPProjectEdit->text(), file);
            QCOMPARE(colour(wizard->VDSPProjectEdit), file == "app.dpj" ? black : red);
        }
    }

    void summaryOnLeavingPage2()
    {
        for (QCheckBox *check : { wizard->hxxCheck, wizard->cppCheck, wizard->hCheck })
            check->setChecked(true);
        wizard->CustExtEdit->setText(QStringLiteral("asm,"));
        wizard->MsgPersonEdit->setText(work->makeFile("m.p_s"));
        QVERIFY(!wizard->Page3->isComplete());
        goToLastPage(*wizard, *work);
        QCOMPARE(logText(*wizard) + '\n',
                 QStringLiteral("Visual DSP Project:\n@/app.dpj\n\nNorvik / Norvik++ Project "
                                "Directory:\n@/out\n\nNorvik / Norvik++ Project Name:\napp\n\n"
                                "Message Personality:\n@/m.p_s\n\nTamplate Analyser "
                                "Personality:\n\n\nCompiler Personality:\n\n\nFile Extensions:\n"
                                "cpp,h,hxx,asm\n\n")
                         .replace('@', QDir::currentPath()));

        // Back changes nothing; Next from Page2 makes the summary anew.
        wizard->back();
        QVERIFY(logText(*wizard).endsWith("cpp,h,hxx,asm\n"));
        wizard->cppCheck->setChecked(false);
        static_cast<QWizard &>(*wizard).next(); // by program: the same work as the button
        QVERIFY(logText(*wizard).endsWith("File Extensions:\nh,hxx,asm\n"));
    }

    void settingsAtStart()
    {
        work->makeFile("m.p_s");
        const QString file = QStringLiteral(
                "VDSP Installation Path:\n@/none\n\nMessage Personality:\n@/m.p_s\n\n"
                "Analyser Personality:\n@/gone.p_a\n\nCompiler Personality:\n \n\n");
        work->makeFile("settings.txt", QString(file).replace('@', QDir::currentPath()).toUtf8());
        wizard = std::make_unique<Tarnwell>();
        QCOMPARE(wizard->VDSPInstallDirEdit->text(), work->path("none"));
        QCOMPARE(wizard->MsgPersonEdit->text(), work->path("m.p_s"));
        QCOMPARE(wizard->AnalPersonEdit->text(), work->path("gone.p_a"));
        QCOMPARE(wizard->CmpPersonEdit->text(), QStringLiteral(" "));
        // Loaded values are checked like typed ones.
        QCOMPARE(colour(wizard->VDSPInstallDirEdit), red);
        QCOMPARE(colour(wizard->AnalPersonEdit), red);
    }

    // Every text fits its widget, and stays legible under a dark theme.
    void textsFitAndStayLegibleUnderADarkTheme()
    {
        const QPalette previous = QApplication::palette();
        QApplication::setPalette(QPalette(QColor(0x2a, 0x2a, 0x2a))); // light texts on dark grey
        Tarnwell themed;
        QApplication::setPalette(previous);
        themed.VDSPProjectEdit->setText(work->path("missing.dpj"));
        themed.VDSPInstallDirEdit->setText(QDir::currentPath());
        themed.NorvikNameEdit->setText(QStringLiteral("name"));
        themed.show();
        for (QWizardPage *page : { themed.Page0, themed.Page1, themed.Page2, themed.Page3 }) {
            QVERIFY2(cutTexts(page).isEmpty(), qPrintable(cutTexts(page).join("; ")));
            const QImage image = page->grab().toImage();
            for (QWidget *widget : page->findChildren<QWidget *>()) {
                const QRect area = textArea(widget).translated(widget->mapTo(page, QPoint()));
                // The red of a missing path is the designed 4.0:1 on white.
                const double needed = widget == themed.VDSPProjectEdit ? 3.0 : 4.5;
                QVERIFY2(area.isEmpty() || textContrast(image, area) >= needed,
                         qPrintable(widget->objectName()));
            }
        }
        QCOMPARE(colour(themed.VDSPProjectEdit), red);
        QCOMPARE(colour(themed.VDSPInstallDirEdit), black);
    }

    // Each path field: a path that disappears is noticed at the next key released in any
    // field of its page, and the key still reaches the field; completion as one types,
    // of folders only where the field wants a folder, and of a relative path against the
    // working directory, where the wizard resolves it; and its browse dialog.
    void pathFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typedInto"); // where a key is released
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("opens"); // as openAndAnswer() says, without the start
        QTest::addColumn<QString>("choice");
        const QString folder = QStringLiteral("get existing directory|%1|All Files (*)|%2")
                                       .arg("%1", QString::number(QFileDialog::Directory));
        const QString file = QStringLiteral("open file dialog|%1|%2|%3")
                                     .arg("%1", "%2", QString::number(QFileDialog::ExistingFile));
        // clang-format off
        QTest::newRow("installation") << "VDSPInstallDirEdit" << "VDSPInstallDirEdit" << "VDSPInstallBrowseBtn" << folder.arg("Specify the VisualDSP Installation Directory") << "vdsp";
        QTest::newRow("project") << "VDSPProjectEdit" << "VDSPProjectEdit" << "VDSPProjectBrowseBtn" << file.arg("Select a VisualDSP Project", "VisualDSP Projects (*.dpj)") << "app.dpj";
        QTest::newRow("destination, key in another field") << "NorvikProjectEdit" << "NorvikNameEdit" << "NorvikProjectBrowseBtn" << folder.arg("Select the Norvik/Norvik++ Project Destination Directory") << "out";
        QTest::newRow("message") << "MsgPersonEdit" << "MsgPersonEdit" << "MsgBrowseBtn" << file.arg("Select a Message Personality", "Msg Personalities(*.p_s)") << "m.p_s";
        QTest::newRow("analyser") << "AnalPersonEdit" << "AnalPersonEdit" << "AnalBrowseBtn" << file.arg("Select a Template Analyser Personality", "Analiser Personalities(*.p_a)") << "a.p_a";
        QTest::newRow("compiler") << "CmpPersonEdit" << "CmpPersonEdit" << "CmpBrowseBtn" << file.arg("Select a Compiler Personality", "Cmp Personalities(*.p_c)") << "c.p_c";
        // clang-format on
    }
    void pathFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, typedInto);
        QFETCH(QString, button);
        QFETCH(QString, opens);
        QFETCH(QString, choice);
        auto *edit = wizard->findChild<QLineEdit *>(field);
        for (QLineEdit *any :
             wizard->findChildren<QLineEdit *>(QRegularExpression("Dir|Proj|Pers")))
            any->setText(work->makeDirectory(any->objectName()));
        wizard->NorvikNameEdit->setText(QStringLiteral("app"));
        TarnwellPage *const checked = field.contains("Person") ? wizard->Page1 : wizard->Page0;
        QVERIFY(QDir(field).removeRecursively());
        QVERIFY(checked->isComplete()); // nothing looks until a key is released
        auto *target = wizard->findChild<QLineEdit *>(typedInto);
        QTest::keyRelease(target, Qt::Key_Home); // a release alone, which changes no text
        QCOMPARE(colour(edit), red);
        QVERIFY(!checked->isComplete());
        QTest::keyClick(target, Qt::Key_X); // keys still reach the field
        QVERIFY(target->text().endsWith('x'));

        // "pick.dpj" and "picked" complete "pic" for a file, "picked" alone for a folder.
        const bool folders = !choice.contains('.');
        work->makeFile("pick.dpj");
        work->makeDirectory("picked");
        edit->setFocus();
        for (const QString &folder : { QDir::currentPath() + '/', QString() }) {
            edit->clear();
            QTest::keyClicks(edit, folder + "pic");
            QCompleter *completer = edit->completer();
            QVERIFY(completer);
            QTRY_COMPARE(
                    (completer->setCompletionPrefix(edit->text()), completer->completionCount()),
                    folders ? 1 : 2);
            QCOMPARE(completer->pathFromIndex(completer->currentIndex()),
                     folder + (folders ? "picked" : "pick.dpj"));
        }

        // A typed path does not move the first start, the root (on Windows the current
        // drive's); Cancel changes nothing.
        const QString chosen = folders ? work->makeDirectory(choice) : work->makeFile(choice);
        auto *browse = wizard->findChild<QPushButton *>(button);
        edit->setText(work->makeDirectory("typed"));
        const QStringList first = openAndAnswer(browse, QString()).split('|');
        QCOMPARE(first.value(3), QFileInfo(QStringLiteral("/")).absoluteFilePath());
        QCOMPARE(QStringList(first.mid(0, 3) + first.mid(4)).join('|'), opens);
        QCOMPARE(edit->text(), work->path("typed"));

        // A choice fills the field, and the next dialog of any kind starts there.
        openAndAnswer(browse, chosen);
        QCOMPARE(edit->text(), QDir::toNativeSeparators(chosen)); // backslashes on Windows
        QCOMPARE(openAndAnswer(wizard->MsgBrowseBtn, QString()).section('|', 3, 3),
                 QFileInfo(chosen).isDir() ? chosen : QDir::currentPath());
    }

    // A drop lands as a path, is taken as a copy or a link and never as a move (the
    // source would delete its file), and nothing of another machine is taken as ours.
    void drops_data()
    {
        QTest::addColumn<QString>("dragged"); // a URL, or else plain text
        QTest::addColumn<int>("offered");
        QTest::addColumn<int>("action"); // the action taken; 0: refused
        QTest::addColumn<QString>("path");
        const int copyOrMove = Qt::CopyAction | Qt::MoveAction;
        const int move = Qt::MoveAction, link = Qt::LinkAction | Qt::MoveAction;
        // clang-format off
        QTest::newRow("a file manager proposes Move") << "file:///p/a.dpj" << copyOrMove << int(Qt::CopyAction) << "/p/a.dpj";
        QTest::newRow("a link, not a move") << "file:///p/a.dpj" << link << int(Qt::LinkAction) << "/p/a.dpj";
        QTest::newRow("Move alone is refused") << "file:///p/a.dpj" << move << 0 << "";
#ifdef Q_OS_WIN // a host names a share: a UNC path
        QTest::newRow("another host's share") << "file://otherhost/share/a.dpj" << copyOrMove << int(Qt::CopyAction) << "//otherhost/share/a.dpj";
#else
        QTest::newRow("localhost is this machine") << "file://localhost/p/a.dpj" << copyOrMove << int(Qt::CopyAction) << "/p/a.dpj";
        QTest::newRow("another host is not") << "file://otherhost/share/a.dpj" << copyOrMove << 0 << "";
#endif
        QTest::newRow("a name with a line break, which the field would make another") << "file:///p/a%0Ab.dpj" << copyOrMove << 0 << "";
        QTest::newRow("a web address") << "https://example.org/a.dpj" << copyOrMove << 0 << "";
        QTest::newRow("a path as text, with its line end") << "/p/my a.dpj\n" << copyOrMove << int(Qt::CopyAction) << "/p/my a.dpj";
        QTest::newRow("several lines of text") << "/p/a.dpj\n/p/b.dpj" << copyOrMove << 0 << "";
        // clang-format on
    }
    void drops()
    {
        QFETCH(QString, dragged);
        QFETCH(int, offered);
        QFETCH(int, action);
        QFETCH(QString, path);
        QLineEdit *field = wizard->VDSPProjectEdit;
        field->setText(QStringLiteral("before"));
        QMimeData data;
        if (dragged.contains("://"))
            data.setUrls({ QUrl(dragged) });
        else
            data.setText(dragged);
        const auto actions = Qt::DropActions(offered);
        const QPoint at = field->rect().center();
        QDragEnterEvent enter(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
        QDropEvent drop(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
        for (QDropEvent *event : { static_cast<QDropEvent *>(&enter), &drop }) {
            QApplication::sendEvent(field, event);
            QCOMPARE(event->isAccepted() ? int(event->dropAction()) : 0, action);
        }
        // A dropped file gives a native path; dropped text is taken as typed.
        const QString taken = dragged.contains("://") ? QDir::toNativeSeparators(path) : path;
        QCOMPARE(field->text(), action ? taken : QStringLiteral("before"));
    }

    // Arriving on a page, typing goes into its first field and Enter goes on as Next
    // (which leaves the log alone before Page2); Tab follows the reading order, and after
    // the last widget leaves the page (for the wizard's buttons). Screen readers' names:
    // tests/atspi/conversion.py.
    void keyboard_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QStringList>("order");
        // clang-format off
        QTest::newRow("Page0") << 0 << QStringList { "VDSPProjectEdit", "VDSPProjectBrowseBtn", "VDSPInstallDirEdit", "VDSPInstallBrowseBtn", "NorvikProjectEdit", "NorvikProjectBrowseBtn", "NorvikNameEdit" };
        QTest::newRow("Page1") << 1 << QStringList { "MsgPersonEdit", "MsgBrowseBtn", "AnalPersonEdit", "AnalBrowseBtn", "CmpPersonEdit", "CmpBrowseBtn" };
        QTest::newRow("Page2") << 2 << QStringList { "cppCheck", "ccCheck", "cxxCheck", "cCheck", "hCheck", "hhCheck", "hppCheck", "hxxCheck", "CustExtEdit" };
        // clang-format on
    }
    void keyboard()
    {
        QFETCH(int, page);
        QFETCH(QStringList, order);
        goToLastPage(*wizard, *work);
        wizard->restart();
        wizard->DetailsText->setPlainText(QStringLiteral("untouched"));
        QApplication::setActiveWindow(wizard.get());
        QVERIFY(QTest::qWaitForWindowActive(wizard.get()));
        for (int i = 0; i < page; ++i)
            pressNext(*wizard);
        QCOMPARE(QApplication::focusWidget()->objectName(), order.first());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(wizard->currentId(), page + 1);
        QCOMPARE(logText(*wizard) == "untouched", page < 2);
        wizard->back();
        wizard->findChild<QWidget *>(order.first())->setFocus();
        QStringList visited { QApplication::focusWidget()->objectName() };
        while (visited.size() < order.size() + 1) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QVERIFY2(!order.contains(visited.takeLast()), qPrintable(visited.join(' ')));
        QCOMPARE(visited, order);
    }

    // The form is drawn at fixed positions: a larger window would only add white. Windows
    // of their own (the completion popup, tool tips, boxes) show the form's font and the
    // program's mark: both are the application's.
    void windowSizeFontAndIcon()
    {
        const QSize designed = wizard->size();
        QVERIFY(designed.expandedTo(QSize(543, 486)) == designed);
        QCOMPARE(wizard->minimumSize(), designed);
        QCOMPARE(wizard->maximumSize(), designed);
        QVERIFY(!(wizard->windowFlags() & Qt::WindowMaximizeButtonHint));
        goToLastPage(*wizard, *work);
        wizard->resize(900, 700);
        QCOMPARE(wizard->size(), designed);
        QVERIFY(!wizard->Page3->geometry().isEmpty());
        // Every page's frame (the banner, the strip and both side lines) is drawn whole.
        QStringList cut;
        for (int page = 3; page >= 0; --page, wizard->back())
            for (QWidget *part : wizard->currentPage()->findChildren<QWidget *>(
                         QRegularExpression("^(pixmapLabel|line)")))
                if (!wizard->rect().contains(
                            QRect(part->mapTo(wizard.get(), QPoint(0, 0)), part->size())))
                    cut << part->objectName();
        QCOMPARE(cut, QStringList());
        const QFont form = wizard->font();
        QCOMPARE(form.pixelSize(), 10);
        QCOMPARE(QToolTip::font(), form);
        QCOMPARE(QMessageBox(wizard.get()).font(), form);
        QTest::keyClicks(wizard->VDSPProjectEdit, QStringLiteral("/"));
        QCOMPARE(wizard->VDSPProjectEdit->completer()->popup()->font(), form);
        QVERIFY(QApplication::windowIcon().availableSizes().contains(QSize(32, 32)));
    }

private:
    // Presses `button` and chooses `path` in the dialog that opens, or cancels it when
    // `path` is empty; returns the dialog as it opened: object name|caption|filters|start|mode.
    QString openAndAnswer(QPushButton *button, const QString &path)
    {
        QString opened;
        AnswerWhenShown<QFileDialog> answer([&opened, &path](QFileDialog *dialog) {
            opened = QStringList { dialog->objectName(), dialog->windowTitle(),
                                   dialog->nameFilters().join(','),
                                   dialog->directory().absolutePath(),
                                   QString::number(dialog->fileMode()) }
                             .join('|');
            if (path.isEmpty())
                return dialog->reject();
            const QFileInfo chosen(path);
            dialog->setDirectory(chosen.isDir() ? path : chosen.absolutePath());
            if (!chosen.isDir()) // typed into the name field, as a user would
                dialog->findChild<QLineEdit *>("fileNameEdit")->setText(chosen.fileName());
            static_cast<QDialog *>(dialog)->accept(); // the dialog's own Open
        });
        button->click();
        return opened;
    }
};

QTEST_MAIN(WizardTest)
#include "tst_wizard.moc"

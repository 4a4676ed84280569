// The wizard at start, its page checks, navigation, remembered inputs and the ways
// out.

#include "support.h"

namespace {

enum class Path { Empty, Existing, Missing };

} // namespace

Q_DECLARE_METATYPE(Path)

class WizardTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { work = std::make_unique<WorkingDirectory>(); }
    void cleanup()
    {
        work.reset();
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window was left behind");
    }

    void startState()
    {
        Tarnwell wizard;
        wizard.show();
        QCOMPARE(wizard.currentPage(), wizard.Page0);
        QVERIFY(!nextEnabled(wizard));
        QVERIFY(!wizard.testOption(QWizard::HaveHelpButton));
        QVERIFY(!wizard.button(QWizard::HelpButton)->isVisible());
        for (QLineEdit *field : wizard.findChildren<QLineEdit *>())
            QVERIFY(field->text().isEmpty());
        QCOMPARE(wizard.metaObject()->className(), "Tarnwell");
        QCOMPARE(wizard.metaObject()->superClass()->className(), "TarnwellBase");
        QCOMPARE(wizard.objectName(), QStringLiteral("TarnwellBase"));
        for (const auto which : { QWizard::NextButton, QWizard::BackButton, QWizard::CancelButton,
                                  QWizard::FinishButton }) {
            const QPalette palette = wizard.button(which)->palette();
            QCOMPARE(palette.color(QPalette::Button), QColor(Qt::white));
            QCOMPARE(palette.color(QPalette::Window), QColor(Qt::white));
        }
    }

    void endsThroughReject_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("Cancel button") << 0;
        QTest::newRow("Escape key") << 1;
        QTest::newRow("window closed") << 2;
    }
    void endsThroughReject()
    {
        QFETCH(int, way);
        Tarnwell wizard;
        wizard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wizard));
        QSignalSpy rejected(&wizard, &QDialog::rejected);
        QTimer::singleShot(0, &wizard, [&wizard, way] {
            if (way == 0)
                wizard.button(QWizard::CancelButton)->click();
            else if (way == 1)
                QTest::keyClick(&wizard, Qt::Key_Escape);
            else
                wizard.close();
        });
        // The application's event loop ends when its last window closes, as in main;
        // if it does not, the guard ends it with another code.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
        guard.start(10000);
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(rejected.size(), 1);
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Rejected));
    }

    void page0_data()
    {
        QTest::addColumn<Path>("install");
        QTest::addColumn<Path>("project");
        QTest::addColumn<Path>("destination");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("next");
        const Path e = Path::Existing, m = Path::Missing, z = Path::Empty;
        QTest::newRow("all good") << e << e << e << "app" << true;
        QTest::newRow("empty name blocks") << e << e << e << "" << false;
        QTest::newRow("name of blanks passes") << e << e << e << "  " << true;
        QTest::newRow("missing install") << m << e << e << "app" << false;
        QTest::newRow("missing project") << e << m << e << "app" << false;
        QTest::newRow("missing destination") << e << e << m << "app" << false;
        QTest::newRow("empty project") << e << z << e << "app" << false;
        QTest::newRow("all missing") << m << m << m << "" << false;
    }
    void page0()
    {
        QFETCH(Path, install);
        QFETCH(Path, project);
        QFETCH(Path, destination);
        QFETCH(QString, name);
        QFETCH(bool, next);
        Tarnwell wizard;
        wizard.show();
        const auto pathFor = [this](Path kind, const QString &existing) {
            return kind == Path::Empty      ? QString()
                    : kind == Path::Missing ? work->path(QStringLiteral("gone"))
                                            : existing;
        };
        // A directory serves as the project file; a file as the installation directory.
        wizard.VDSPInstallDirEdit->setText(pathFor(install, work->makeFile("install.txt")));
        wizard.VDSPProjectEdit->setText(pathFor(project, work->makeDirectory("project")));
        wizard.NorvikProjectEdit->setText(pathFor(destination, work->makeDirectory("out")));
        wizard.NorvikNameEdit->setText(name);
        QCOMPARE(nextEnabled(wizard), next);
        const auto colourFor = [](Path kind) {
            return kind == Path::Existing ? QColor(0, 0, 0) : QColor(255, 0, 0);
        };
        QCOMPARE(textColour(wizard.VDSPInstallDirEdit), colourFor(install));
        QCOMPARE(textColour(wizard.VDSPProjectEdit), colourFor(project));
        QCOMPARE(textColour(wizard.NorvikProjectEdit), colourFor(destination));
        // Relative names are taken against the working directory.
        wizard.VDSPProjectEdit->setText(QStringLiteral("project"));
        QCOMPARE(textColour(wizard.VDSPProjectEdit), QColor(0, 0, 0));
    }

    void deletedFolderTurnsRedOnKeyRelease()
    {
        Tarnwell wizard;
        wizard.show();
        wizard.VDSPInstallDirEdit->setText(work->makeDirectory("vdsp"));
        wizard.VDSPProjectEdit->setText(work->makeFile("app.dpj"));
        wizard.NorvikProjectEdit->setText(work->makeDirectory("out"));
        wizard.NorvikNameEdit->setText(QStringLiteral("app"));
        QVERIFY(nextEnabled(wizard));
        QVERIFY(QDir(work->path("out")).removeRecursively());
        QVERIFY(nextEnabled(wizard)); // nothing looks until a key is released
        // A key that changes nothing, released in another field, re-runs the check; the
        // key still reaches the field.
        wizard.NorvikNameEdit->setFocus();
        QTest::keyClick(wizard.NorvikNameEdit, Qt::Key_Left);
        QCOMPARE(textColour(wizard.NorvikProjectEdit), QColor(255, 0, 0));
        QVERIFY(!nextEnabled(wizard));
        QTest::keyClick(wizard.NorvikNameEdit, Qt::Key_X);
        QCOMPARE(wizard.NorvikNameEdit->text(), QStringLiteral("apxp"));
    }

    void page1_data()
    {
        QTest::addColumn<Path>("message");
        QTest::addColumn<Path>("analyser");
        QTest::addColumn<Path>("compiler");
        QTest::addColumn<bool>("next");
        const Path e = Path::Existing, m = Path::Missing, z = Path::Empty;
        QTest::newRow("all empty") << z << z << z << true;
        QTest::newRow("all good") << e << e << e << true;
        QTest::newRow("bad message, good compiler") << m << z << e << false;
        QTest::newRow("bad analyser alone") << z << m << z << false;
        QTest::newRow("bad analyser, others good") << e << m << e << false;
        QTest::newRow("bad compiler alone") << z << z << m << false;
        QTest::newRow("good analyser alone") << z << e << z << true;
    }
    void page1()
    {
        QFETCH(Path, message);
        QFETCH(Path, analyser);
        QFETCH(Path, compiler);
        QFETCH(bool, next);
        Tarnwell wizard;
        wizard.show();
        const QString good = work->makeFile("p.p_s");
        QLineEdit *const fields[]
                = { wizard.MsgPersonEdit, wizard.AnalPersonEdit, wizard.CmpPersonEdit };
        const Path kinds[] = { message, analyser, compiler };
        const QColor untouched = textColour(wizard.MsgPersonEdit);
        for (int i = 0; i < 3; ++i)
            fields[i]->setText(kinds[i] == Path::Empty              ? QString()
                                       : kinds[i] == Path::Existing ? good
                                                                    : work->path("none.p_c"));
        QCOMPARE(wizard.Page1->isComplete(), next);
        for (int i = 0; i < 3; ++i) {
            const QColor expected = kinds[i] == Path::Empty ? untouched
                    : kinds[i] == Path::Existing            ? QColor(0, 0, 0)
                                                            : QColor(255, 0, 0);
            QCOMPARE(textColour(fields[i]), expected);
        }
    }

    void analyserKeyReleaseRunsPage1Check()
    {
        Tarnwell wizard;
        wizard.show();
        const QString file = work->makeFile("a.p_a");
        wizard.AnalPersonEdit->setText(file);
        QVERIFY(wizard.Page1->isComplete());
        QFile::remove(file);
        QTest::keyClick(wizard.AnalPersonEdit, Qt::Key_End);
        QVERIFY(!wizard.Page1->isComplete());
        QCOMPARE(textColour(wizard.AnalPersonEdit), QColor(255, 0, 0));
    }

    void summaryOnLeavingPage2_data() { addExtensionRows(); }
    void summaryOnLeavingPage2()
    {
        QFETCH(QStringList, checked);
        QFETCH(QString, custom);
        QFETCH(QString, expected);
        Tarnwell wizard;
        wizard.show();
        for (const QString &extension : checked)
            extensionCheck(wizard, extension)->setChecked(true);
        wizard.CustExtEdit->setText(custom);
        wizard.MsgPersonEdit->setText(work->makeFile("m.p_s"));
        QVERIFY(!wizard.Page3->isComplete());
        goToLastPage(wizard, *work);
        const QString summary = QLatin1String("Visual DSP Project:\n") + work->path("app.dpj")
                + QLatin1String("\n\nNorvik / Norvik++ Project Directory:\n") + work->path("out")
                + QLatin1String("\n\nNorvik / Norvik++ Project Name:\napp\n\n"
                                "Message Personality:\n")
                + work->path("m.p_s")
                + QLatin1String("\n\nTamplate Analyser Personality:\n\n\n"
                                "Compiler Personality:\n\n\nFile Extensions:\n")
                + expected + QLatin1Char('\n');
        QCOMPARE(wizard.DetailsText->toPlainText() + QLatin1Char('\n'), summary + '\n');
        QVERIFY(wizard.button(QWizard::FinishButton)->isEnabled());
    }

    void backAndNextRebuildTheSummary()
    {
        Tarnwell wizard;
        wizard.show();
        wizard.cppCheck->setChecked(true);
        wizard.hCheck->setChecked(true);
        goToLastPage(wizard, *work);
        QVERIFY(wizard.DetailsText->toPlainText().endsWith("File Extensions:\ncpp,h\n"));
        wizard.back();
        QCOMPARE(wizard.currentPage(), wizard.Page2);
        // Back changes nothing.
        QVERIFY(wizard.DetailsText->toPlainText().endsWith("cpp,h\n"));
        wizard.cppCheck->setChecked(false);
        pressNext(wizard);
        QVERIFY(wizard.DetailsText->toPlainText().endsWith("File Extensions:\nh\n"));
    }

    void nextFromFirstPagesLeavesTheSummaryAlone()
    {
        Tarnwell wizard;
        wizard.show();
        const QString placeholder = wizard.DetailsText->toPlainText();
        wizard.cppCheck->setChecked(true);
        wizard.VDSPProjectEdit->setText(work->makeFile("app.dpj"));
        wizard.VDSPInstallDirEdit->setText(work->makeDirectory("vdsp"));
        wizard.NorvikProjectEdit->setText(work->makeDirectory("out"));
        wizard.NorvikNameEdit->setText(QStringLiteral("app"));
        pressNext(wizard);
        pressNext(wizard);
        QCOMPARE(wizard.currentPage(), wizard.Page2);
        QCOMPARE(wizard.DetailsText->toPlainText(), placeholder);
        QVERIFY(!wizard.Page3->isComplete());
        // Moving on by program goes through the same work as the button.
        static_cast<QWizard &>(wizard).next();
        QVERIFY(wizard.DetailsText->toPlainText().endsWith("File Extensions:\ncpp\n"));
    }

    void settingsAtStart_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QColor>("installColour");
        const QColor black(0, 0, 0), red(255, 0, 0);
        QTest::newRow("no file") << QByteArray() << QStringList { "", "", "", "" } << black;
        QTest::newRow("missing installation directory")
                << QByteArray("VDSP Installation Path:\n@/none\n\n")
                << QStringList { "@/none", "", "", "" } << red;
        QTest::newRow("all four") << QByteArray(
                "VDSP Installation Path:\n@/vdsp\n\nMessage Personality:\n@/m.p_s"
                "\n\nAnalyser Personality:\n@/gone.p_a\n\nCompiler Personality:\n"
                "@/c.p_c\n\n") << QStringList { "@/vdsp", "@/m.p_s", "@/gone.p_a", "@/c.p_c" }
                                  << black;
        QTest::newRow("compiler only") << QByteArray("Compiler Personality:\n@/c.p_c")
                                       << QStringList { "", "", "", "@/c.p_c" } << black;
    }
    void settingsAtStart()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, fields);
        QFETCH(QColor, installColour);
        work->makeDirectory("vdsp");
        work->makeFile("m.p_s");
        work->makeFile("c.p_c");
        // "@" stands for the working directory, which the file names in full.
        const QByteArray root = QFile::encodeName(work->path());
        if (!file.isEmpty())
            work->makeFile("settings.txt", QByteArray(file).replace('@', root));
        Tarnwell wizard;
        wizard.show();
        const QLineEdit *edits[] = { wizard.VDSPInstallDirEdit, wizard.MsgPersonEdit,
                                     wizard.AnalPersonEdit, wizard.CmpPersonEdit };
        for (int i = 0; i < 4; ++i)
            QCOMPARE(edits[i]->text(), QString(fields[i]).replace('@', work->path()));
        // Loaded values are checked like typed ones; Page0 still lacks its other fields.
        QCOMPARE(textColour(wizard.VDSPInstallDirEdit), installColour);
        QVERIFY(!nextEnabled(wizard));
        if (!fields[2].isEmpty()) {
            QCOMPARE(textColour(wizard.AnalPersonEdit), QColor(255, 0, 0));
            QVERIFY(!wizard.Page1->isComplete());
        }
    }

private:
    std::unique_ptr<WorkingDirectory> work;
};

QTEST_MAIN(WizardTest)
#include "tst_wizard.moc"

// Conversion runs with real child processes: fake converters (small shell scripts)
// first on the search path, in a fresh working directory per test.

#include "support.h"

#include <QProcess>

namespace {

const QString firstLine = QStringLiteral("Initialising Project Conversion ...\n");
const QString successLine = QStringLiteral("Project Converted Successfully!");
const QString startFailure = QStringLiteral(
        "Project Conversion could not be executed: Please ensure Movrak.exe is set on the path.\n");

// A fake converter that writes its arguments, separated by NUL bytes, to args.bin in
// the working directory, then runs `body`.
QByteArray recordingArguments(const QByteArray &body = "exit 0")
{
    return "printf '%s\\0' \"$@\" > args.bin\n" + body;
}

} // namespace

class ConversionTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        work = std::make_unique<WorkingDirectory>();
        path = std::make_unique<SearchPath>(work->makeDirectory(QStringLiteral("bin")));
        wizard = std::make_unique<Tarnwell>();
        wizard->show();
    }
    void cleanup()
    {
        wizard.reset();
        path.reset();
        work.reset();
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window was left behind");
    }

    void arguments_data()
    {
        QTest::addColumn<QStringList>("personalities");
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected");
        const QString w = QStringLiteral("@");
        QTest::newRow("five arguments at least")
                << QStringList { "", "", "" } << QStringList() << "app"
                << QStringList { "@/app.dpj", "@/out", "@/vdsp", "-pn", "app" };
        QTest::newRow("everything")
                << QStringList { "m.p_s", "a.p_a", "c.p_c" } << QStringList { "h", "cpp" } << "app"
                << QStringList { "@/app.dpj", "@/out",   "@/vdsp", "-pn",     "app",
                                 "-mp",       "@/m.p_s", "-ap",    "@/a.p_a", "-cp",
                                 "@/c.p_c",   "-ext",    "cpp,h" };
        QTest::newRow("compiler only, with blanks")
                << QStringList { "", "", "my cmp.p_c" } << QStringList() << "my app"
                << QStringList { "@/app.dpj", "@/out", "@/vdsp",      "-pn",
                                 "my app",    "-cp",   "@/my cmp.p_c" };
        // Nothing passes through a shell: each text arrives as it stands.
        const QString hostile = QStringLiteral("a;b $(touch pwned) `touch pwned` \"q\" 'x' && y\\");
        QTest::newRow("shell metacharacters")
                << QStringList { "", "", "" } << QStringList() << hostile
                << QStringList { "@/app.dpj", "@/out", "@/vdsp", "-pn", hostile };
    }
    void arguments()
    {
        QFETCH(QStringList, personalities);
        QFETCH(QStringList, checked);
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        writeFakeConverter(work->path("bin"), recordingArguments());
        QLineEdit *fields[]
                = { wizard->MsgPersonEdit, wizard->AnalPersonEdit, wizard->CmpPersonEdit };
        for (int i = 0; i < 3; ++i)
            if (!personalities[i].isEmpty())
                fields[i]->setText(work->makeFile(personalities[i]));
        for (const QString &extension : checked)
            extensionCheck(*wizard, extension)->setChecked(true);
        goToLastPage(*wizard, *work);
        wizard->NorvikNameEdit->setText(name);
        finishAndWait();
        QCOMPARE(recordedArguments(), expected.replaceInStrings("@", work->path()));
        QVERIFY(!QFile::exists(work->path("pwned")));
    }

    void extensionArgument_data() { addExtensionRows(); }
    void extensionArgument()
    {
        QFETCH(QStringList, checked);
        QFETCH(QString, custom);
        QFETCH(QString, expected);
        writeFakeConverter(work->path("bin"), recordingArguments());
        for (const QString &extension : checked)
            extensionCheck(*wizard, extension)->setChecked(true);
        wizard->CustExtEdit->setText(custom);
        goToLastPage(*wizard, *work);
        finishAndWait();
        const QStringList arguments = recordedArguments();
        QCOMPARE(arguments.size(), expected.isEmpty() ? 5 : 7);
        if (!expected.isEmpty())
            QCOMPARE(arguments.mid(5), QStringList({ "-ext", expected }));
    }

    void success()
    {
        writeFakeConverter(work->path("bin"), "printf 'step one\\nstep two\\n'\nexit 0");
        wizard->CmpPersonEdit->setText(work->makeFile("c.p_c"));
        goToLastPage(*wizard, *work);
        MessageBoxes boxes;
        finishAndWait();
        QCOMPARE(log(), firstLine + "step one\nstep two\n" + successLine);
        QCOMPARE(wizard->button(QWizard::CancelButton)->text(), QStringLiteral("Close"));
        QVERIFY(!wizard->button(QWizard::FinishButton)->isEnabled());
        QCOMPARE(wizard->currentPage(), wizard->Page3);
        QVERIFY(wizard->isVisible());
        QCOMPARE(boxes.seen, QStringList());
        QCOMPARE(work->read("settings.txt"),
                 QFile::encodeName("VDSP Installation Path:\n" + work->path("vdsp")
                                   + "\n\nCompiler Personality:\n" + work->path("c.p_c") + "\n\n"));
    }

    void successWithoutOutput()
    {
        writeFakeConverter(work->path("bin"), "exit 0");
        goToLastPage(*wizard, *work);
        finishAndWait();
        QCOMPARE(log(), firstLine + successLine);
    }

    void failureShowsTheBox()
    {
        writeFakeConverter(work->path("bin"), "printf 'cannot read project\\n'\nexit 1");
        goToLastPage(*wizard, *work);
        const QString cancelText = wizard->button(QWizard::CancelButton)->text();
        MessageBoxes boxes;
        finishAndWait();
        QCOMPARE(boxes.seen,
                 QStringList { "Tarnwell|Project Conversion Failed!\nPlease check the details log "
                               "and try again." });
        QCOMPARE(log(), firstLine + "cannot read project\n");
        QCOMPARE(wizard->button(QWizard::CancelButton)->text(), cancelText);
    }

    void crashIsNotReported()
    {
        writeFakeConverter(work->path("bin"), "printf 'working\\n'\nkill -SEGV $$");
        goToLastPage(*wizard, *work);
        MessageBoxes boxes;
        finishAndWait();
        QCOMPARE(log(), firstLine + "working\n");
        QCOMPARE(boxes.seen, QStringList());
        QVERIFY(wizard->button(QWizard::CancelButton)->text() != QLatin1String("Close"));
    }

    void converterThatCannotStart_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("not on the search path") << QString();
        QTest::newRow("on the path, not executable") << QStringLiteral("bin");
        // A converter in the working directory is never run by accident.
        QTest::newRow("only in the working directory") << QStringLiteral(".");
    }
    void converterThatCannotStart()
    {
        QFETCH(QString, where);
        if (!where.isEmpty()) {
            const QString file = writeFakeConverter(work->path(where), "touch ran\nexit 0");
            if (where == QLatin1String("bin"))
                QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        }
        SearchPath only(work->path("bin"), SearchPath::Only);
        goToLastPage(*wizard, *work);
        wizard->button(QWizard::FinishButton)->click();
        QTRY_COMPARE(log(), firstLine + startFailure);
        QVERIFY(!wizard->button(QWizard::FinishButton)->isEnabled());
        QTest::qWait(200);
        QVERIFY(!QFile::exists(work->path("ran")));
        QVERIFY(!QFile::exists(work->path("settings.txt")));
    }

    void outputShowsTheConvertersLines_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("lines");
        QTest::newRow("markup stays text")
                << QByteArray("printf '<b>x</b>\\n#include <stdio.h>\\n<a href=\"y\">y</a>\\n'")
                << "<b>x</b>\n#include <stdio.h>\n<a href=\"y\">y</a>\n";
        QTest::newRow("bytes above 0x7f as Latin-1") << QByteArray("printf '\\351t\\351 \\374\\n'")
                                                     << QString::fromLatin1("\xe9t\xe9 \xfc\n");
        QTest::newRow("line written in two pieces")
                << QByteArray("printf 'first half, '\nsleep 0.3\nprintf 'second half\\nnext\\n'")
                << "first half, second half\nnext\n";
        QTest::newRow("CR LF line ends")
                << QByteArray("printf 'one\\r\\ntwo\\r\\n'") << "one\ntwo\n";
        QTest::newRow("last line without line break")
                << QByteArray("printf 'a\\nlast'") << "a\nlast\n";
        QTest::newRow("empty lines kept") << QByteArray("printf '\\n\\nx\\n'") << "\n\nx\n";
        QTest::newRow("many chunks")
                << QByteArray("i=0\nwhile [ $i -lt 200 ]; do echo \"line $i\"; i=$((i+1)); done")
                << [] {
                       QString text;
                       for (int i = 0; i < 200; ++i)
                           text += QStringLiteral("line %1\n").arg(i);
                       return text;
                   }();
    }
    void outputShowsTheConvertersLines()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, lines);
        writeFakeConverter(work->path("bin"), script + "\nexit 0");
        goToLastPage(*wizard, *work);
        finishAndWait();
        QCOMPARE(log(), firstLine + lines + successLine);
    }

    void standardErrorIsNotShown()
    {
        writeFakeConverter(work->path("bin"), "echo out\necho err >&2\nexit 0");
        goToLastPage(*wizard, *work);
        finishAndWait();
        QCOMPARE(log(), firstLine + "out\n" + successLine);
    }

    void newRunStopsTheEarlierOne()
    {
        writeFakeConverter(work->path("bin"),
                           "case \"$5\" in\n"
                           "slow) echo 'old start'; sleep 3; echo 'old end'; exit 3;;\n"
                           "*) echo new; exit 0;;\n"
                           "esac");
        goToLastPage(*wizard, *work);
        wizard->NorvikNameEdit->setText(QStringLiteral("slow"));
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY(log().contains("old start"));
        const qint64 oldConverter = converter()->processId();
        MessageBoxes boxes;

        wizard->back();
        wizard->NorvikNameEdit->setText(QStringLiteral("fast"));
        pressNext(*wizard);
        finishAndWait();
        QCOMPARE(log(), firstLine + "new\n" + successLine);
        QTRY_VERIFY(!processExists(oldConverter));
        QTest::qWait(300);
        QCOMPARE(log(), firstLine + "new\n" + successLine);
        QCOMPARE(boxes.seen, QStringList());
        QCOMPARE(wizard->findChildren<QProcess *>().size(), 1);
    }

    void destroyingTheWizardStopsTheConverter()
    {
        writeFakeConverter(work->path("bin"), "echo started\nexec sleep 30");
        goToLastPage(*wizard, *work);
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY(log().contains("started"));
        const qint64 pid = converter()->processId();
        wizard.reset();
        QVERIFY(!processExists(pid));
        QVERIFY(!QFile::exists(work->path("settings.txt")));
    }

    void standInConverterEndToEnd()
    {
        SearchPath converter(standInConverterDirectory());
        wizard->cppCheck->setChecked(true);
        wizard->MsgPersonEdit->setText(work->makeFile("m.p_s"));
        goToLastPage(*wizard, *work);
        finishAndWait();
        const QString log = this->log();
        QVERIFY2(log.startsWith(firstLine + "Movrak stand-in converter\n"), qPrintable(log));
        QVERIFY(log.contains("Using message personality " + work->path("m.p_s") + "\n"));
        QVERIFY(log.contains("Taking over files with the extensions: cpp\n"));
        QVERIFY(log.endsWith("Project app written.\n" + successLine));
    }

    void standInConverterChecksItsArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("too few") << QStringList { "a", "b", "c", "-pn" } << 2 << "usage:";
        QTest::newRow("no -pn") << QStringList { "@/app.dpj", "@", "@", "-x", "n" } << 2
                                << "usage:";
        QTest::newRow("unknown option")
                << QStringList { "@/app.dpj", "@", "@", "-pn", "n", "-zz", "v" } << 2 << "usage:";
        QTest::newRow("option without value")
                << QStringList { "@/app.dpj", "@", "@", "-pn", "n", "-mp" } << 2 << "usage:";
        QTest::newRow("missing project")
                << QStringList { "@/none.dpj", "@", "@", "-pn", "n" } << 1 << "Error: project";
        QTest::newRow("missing personality")
                << QStringList { "@/app.dpj", "@", "@", "-pn", "n", "-cp", "@/none" } << 1
                << "Error: compiler personality";
        QTest::newRow("good") << QStringList { "@/app.dpj", "@", "@", "-pn", "n", "-ext", "c" } << 0
                              << "Project n written.";
    }
    void standInConverterChecksItsArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        work->makeFile("app.dpj");
        QProcess converter;
        converter.start(QDir(standInConverterDirectory()).filePath(converterProgram),
                        arguments.replaceInStrings("@", work->path()));
        QVERIFY(converter.waitForFinished());
        QCOMPARE(converter.exitStatus(), QProcess::NormalExit);
        QCOMPARE(converter.exitCode(), exitCode);
        const QString printed
                = converter.readAllStandardOutput() + converter.readAllStandardError();
        QVERIFY2(printed.contains(output), qPrintable(printed));
    }

private:
    QString log() const { return wizard->DetailsText->toPlainText(); }
    QProcess *converter() const { return latestConverter(*wizard); }

    void finishAndWait() { ::finishAndWait(*wizard, *work); }

    QStringList recordedArguments() const
    {
        QByteArray bytes = work->read("args.bin");
        bytes.chop(1);
        QStringList arguments;
        for (const QByteArray &argument : bytes.split('\0'))
            arguments << QFile::decodeName(argument);
        return arguments;
    }

    std::unique_ptr<WorkingDirectory> work;
    std::unique_ptr<SearchPath> path;
    std::unique_ptr<Tarnwell> wizard;
};

QTEST_MAIN(ConversionTest)
#include "tst_conversion.moc"

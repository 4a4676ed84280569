// The converter on Windows, against the stand-in Movrak.exe steered by its switches:
// where it is found, the arguments it gets, stopping what it started, its output, and
// settings.txt in letters the ANSI code page lacks. (tst_conversion covers the same on
// POSIX with shell scripts, process groups and signals.)

#include "app/settings.h"
#include "support.h"

#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>

class WindowsTest : public WizardTestCase
{
    Q_OBJECT

private slots:
    // Only a program file on the search path's absolute folders is ever started: a batch
    // file would run through cmd.exe, which takes the user's text for commands, and
    // the working directory and the program's own folder, which Windows's own search
    // tries first, are not searched.
    void foundOnTheSearchPathOnly_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("lastLine");
        // clang-format off
        QTest::newRow("a batch file earlier on the path") << "cmd first" << successLine;
        QTest::newRow("only batch files on the path") << "cmd only" << notExecutedLine;
        QTest::newRow("one in the working directory, . and the drive on the path") << "working directory" << notExecutedLine;
        QTest::newRow("one beside the program") << "program folder" << notExecutedLine;
        // clang-format on
    }
    void foundOnTheSearchPathOnly()
    {
        QFETCH(QString, layout);
        QFETCH(QString, lastLine);
        AnswerWhenShown<QMessageBox> closer([](QMessageBox *box) { box->accept(); });
        const QString batches = work->makeDirectory("batches");
        for (const char *name : { "Movrak.cmd", "Movrak.bat" })
            work->makeFile(QStringLiteral("batches/") + name,
                           "@echo ran> \"%~dp0ran.txt\"\r\n@echo batch file ran\r\n");
        QString path = QDir::toNativeSeparators(batches);
        if (layout == "cmd first")
            path += ";" + QDir::toNativeSeparators(standInDirectory);
        const QString standIn = QDir(standInDirectory).filePath("Movrak.exe");
        const QString besideProgram = QCoreApplication::applicationDirPath() + "/Movrak.exe";
        if (layout == "working directory") {
            QFile::copy(standIn, "Movrak.exe");
            path += ";.;" + QDir::currentPath().left(2)
                    + ";"; // ".", and "C:": its drive's current folder
        } else if (layout == "program folder") {
            QFile::copy(standIn, besideProgram);
        }
        const auto removeCopy = qScopeGuard([&] { QFile::remove(besideProgram); });
        const Environment onlyThese(
                "PATH", QFile::encodeName(path) + ";" + qgetenv("SystemRoot") + "\\system32");
        goToLastPage(*wizard, *work);
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY2(logText(*wizard).endsWith(lastLine), qPrintable(logText(*wizard)));
        QVERIFY(!QFile::exists(work->path("batches/ran.txt")));
    }

    // Every argument arrives as the field holds it, as the converter's C runtime parses
    // its command line.
    void argumentsArriveExactly()
    {
        const auto path = converterFirstOnPath(standInDirectory);
        const Environment record("MOVRAK_ARGS_FILE", QFile::encodeName(work->path("args")));
        goToLastPage(*wizard, *work);
        const QString install
                = QDir::toNativeSeparators(work->makeDirectory("VisualDSP 5.0")) + "\\";
        const QString name = QString::fromUtf8("a \"q\" & b %PATH% ^ | < é Ж 日本 \\\"x\\\\");
        wizard->VDSPInstallDirEdit->setText(install);
        wizard->NorvikNameEdit->setText(name);
        QVERIFY(finishAndWait(*wizard));
        const QStringList arguments = QString::fromUtf8(work->read("args")).split('\n');
        QCOMPARE(arguments.mid(2, 3), QStringList({ install, QStringLiteral("-pn"), name }));
    }

    // Stopping a run ends the converter and what it started (its job), and nothing else.
    void stoppingEndsTheJob_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("a new summary") << "summary";
        QTest::newRow("wizard destroyed") << "destroy";
    }
    void stoppingEndsTheJob()
    {
        QFETCH(QString, how);
        const auto path = converterFirstOnPath(standInDirectory);
        const Environment sleep("MOVRAK_SLEEP_MS", "60000");
        QProcess bystander; // another Movrak.exe, not the wizard's, with no grandchild
        bystander.start(QDir(standInDirectory).filePath("Movrak.exe"), {});
        QVERIFY(bystander.waitForStarted());
        const Environment grandchild("MOVRAK_GRANDCHILD", "60");
        goToLastPage(*wizard, *work);
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY(logText(*wizard).contains("grandchild "));
        const qint64 helper
                = logText(*wizard).section("grandchild ", 1).section('\n', 0, 0).toLongLong();
        const qint64 converter = wizard->conversion()->process()->processId();
        QVERIFY(processLives(converter) && processLives(helper));
        stop(how);
        QTRY_VERIFY(!processLives(converter) && !processLives(helper));
        QCOMPARE(bystander.state(), QProcess::Running);
        bystander.kill();
        bystander.waitForFinished();
    }

    // Windows programs end lines with CR LF, and write in the console's code page what
    // is not UTF-8: each line shows as one line, in its letters.
    void outputLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        // clang-format off
        QTest::newRow("CR LF") << QByteArray("one\\r\\ntwo\\r\\n\\r\\nthree") << "one\ntwo\n\nthree\n";
        QTest::newRow("the console's code page (437, 850)") << QByteArray("r\\x82sum\\x82 \\x9a\\r\\n") << QString::fromUtf8("résumé Ü\n");
        // clang-format on
    }
    void outputLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        if (QByteArray(QTest::currentDataTag()).contains("437") && GetOEMCP() != 437
            && GetOEMCP() != 850)
            QSKIP("the system's OEM code page is neither 437 nor 850");
        const auto path = converterFirstOnPath(standInDirectory);
        const Environment output("MOVRAK_BYTES", bytes);
        const Environment exitCode("MOVRAK_EXIT_CODE", "0");
        goToLastPage(*wizard, *work);
        QVERIFY(finishAndWait(*wizard));
        QCOMPARE(logText(*wizard), firstLine + shown + successLine);
    }

    // A path outside the ANSI code page comes back whole from settings.txt, and a file
    // that an older program wrote in that code page still reads.
    void settingsKeepEveryLetter()
    {
        const QString install = QString::fromUtf8("C:\\Журнал 日本\\é");
        QCOMPARE(writeSettingsFile("settings.txt", settingsText(install, "", "", "")),
                 SettingsWrite::Saved);
        QCOMPARE(readSettingsFile("settings.txt").installDirectory, install);
        if (GetACP() != 1252)
            QSKIP("the system's ANSI code page is not 1252");
        const QByteArray old("VDSP Installation Path:\r\nC:\\Caf\xe9\r\n");
        QCOMPARE(parseSettings(old).installDirectory, QString::fromUtf8("C:\\Café"));
    }
};

QTEST_MAIN(WindowsTest)
#include "tst_windows.moc"

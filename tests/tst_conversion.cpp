// Conversion runs end to end, against the stand-in converter and shell scripts: the
// arguments, the output in the log, every outcome, and stopping a converter.

#include "support.h"

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

const QString abnormalLine("Project Conversion did not complete: Movrak ended abnormally.");
const QString failedLine("Project Conversion Failed!");

// Starts `sleep 60` as the leader of a process group whose id is `id`, as the kernel
// may do once `id` is free again; null where the next id cannot be chosen (not root).
std::unique_ptr<QProcess> groupLeaderWithId(qint64 id)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Another program on the machine may start in between and take the id.
        QFile nextId(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
        if (!nextId.open(QIODevice::WriteOnly) || nextId.write(QByteArray::number(id - 1)) < 0
            || !nextId.flush())
            return nullptr;
        auto process = std::make_unique<QProcess>();
        process->setChildProcessModifier([] { ::setpgid(0, 0); });
        process->start(QStringLiteral("sleep"), { QStringLiteral("60") });
        // One that has another id goes with its QProcess, killed and reaped.
        if (process->waitForStarted() && process->processId() == id)
            return process;
    }
    return nullptr;
}

// A child process that holds a read lease on `path`, as a Samba server with kernel
// oplocks does while a Windows client has the file open: it ignores the lease break
// (SIGIO), so a writer that waits for it waits fs.lease-break-time (45 s). 0 on failure.
pid_t leaseHolder(const QString &path)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return 0;
    const QByteArray name = QFile::encodeName(path);
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGIO, SIG_IGN);
        const int file = ::open(name.constData(), O_RDONLY);
        const char held = file >= 0 && ::fcntl(file, F_SETLEASE, F_RDLCK) == 0;
        if (::write(ready[1], &held, 1) == 1)
            ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char held = 0;
    const bool told = child > 0 && ::read(ready[0], &held, 1) == 1;
    ::close(ready[0]);
    if (told && held)
        return child;
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return 0;
}

class ConversionTest : public WizardTestCase
{
    Q_OBJECT

private slots:
    // Each choice arrives as one argument, blanks, non-ASCII and shell syntax included,
    // without the line breaks pasted with it (they would split its entry in
    // settings.txt); what the converter writes to standard error is not kept (it may be
    // endless).
    void arguments()
    {
        const auto path = converterFirstOnPath(standInDirectory);
        const Environment record("MOVRAK_ARGS_FILE", QFile::encodeName(work->path("args")));
        const Environment flood("MOVRAK_STDERR_BYTES", "100000");
        wizard->MsgPersonEdit->setText(work->makeFile("m ü.p_s").replace(" ü", "\r\n ü"));
        wizard->CmpPersonEdit->setText(work->makeFile("c.p_c"));
        wizard->cppCheck->setChecked(true);
        wizard->hCheck->setChecked(true);
        goToLastPage(*wizard, *work);
        wizard->NorvikNameEdit->setText("a;b\r $(touch x)\n `touch y` 'q\" && c\\");
        QVERIFY(finishAndWait(*wizard));
        QCOMPARE(QString::fromUtf8(work->read("args")),
                 QStringLiteral("@/app.dpj\n@/out\n@/vdsp\n-pn\na;b $(touch x) `touch y` 'q\" && "
                                "c\\\n-mp\n@/m ü.p_s\n-cp\n@/c.p_c\n-ext\ncpp,h\n")
                         .replace('@', QDir::currentPath()));
        QCOMPARE(wizard->conversion()->process()->readAllStandardError(), QByteArray());
    }

    // How each run ends: what the log shows last; a box for a failure only, Close for a
    // success only; settings.txt written.
    void outcomes_data()
    {
        // Empty: the stand-in converter, whose installation directory goes before Finish.
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("logEnd");
        // clang-format off
        QTest::newRow("stand-in explains a missing directory in the log") << QByteArray() << "Error: installation directory @/vdsp not found\n" + failedLine;
        QTest::newRow("success without output") << QByteArray("exit 0") << firstLine + successLine;
        QTest::newRow("failure code") << QByteArray("echo half done; exit 3") << "half done\n" + failedLine;
        QTest::newRow("crash by a signal") << QByteArray("echo working; kill -SEGV $$") << "working\n" + abnormalLine;
        QTest::newRow("killed from outside") << QByteArray("(sleep 0.2; kill -KILL $$) & exec sleep 60") << firstLine + abnormalLine;
        QTest::newRow("a helper holds the output open") << QByteArray("(sleep 60; echo late) & echo quick") << "quick\n" + successLine;
        QTest::newRow("output reaches the log as lines of text") << QByteArray("printf '<b>not bold</b> <a href=x>x</a>\\r\\n'\nprintf 'caf\\303\\251\\ncaf\\351\\n\\nhal'; sleep 0.2; printf 'f\\n'\nprintf 'to stderr\\n' >&2\nprintf 'carriage\\rreturn\\n'; printf 'no line end'") << firstLine + "<b>not bold</b> <a href=x>x</a>\ncafé\ncafé\n\nhalf\ncarriage\nreturn\nno line end\n" + successLine;
        // clang-format on
    }
    void outcomes()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, logEnd);
        if (!script.isEmpty())
            writeScriptConverter(work->path("bin"), script);
        const auto path
                = converterFirstOnPath(script.isEmpty() ? standInDirectory : work->path("bin"));
        QStringList boxes;
        // The box is the wizard's child, centred on it.
        AnswerWhenShown<QMessageBox> closer([&boxes, this](QMessageBox *shown) {
            const QPoint offCentre = shown->geometry().center() - wizard->geometry().center();
            boxes << shown->windowTitle() + '|' + shown->text()
                            + (shown->parentWidget() == wizard.get() ? "" : "|not the wizard's")
                            + (offCentre.manhattanLength() <= 2 ? "" : "|off centre");
            shown->accept();
        });
        goToLastPage(*wizard, *work);
        if (script.isEmpty())
            QVERIFY(QDir("vdsp").removeRecursively());
        // A helper that keeps the output open (for 60 s) does not hold the outcome back.
        QVERIFY(finishAndWait(*wizard));
        QVERIFY2(logText(*wizard).endsWith(QString(logEnd).replace('@', QDir::currentPath())),
                 qPrintable(logText(*wizard)));
        const QString box("Tarnwell|" + failedLine
                          + "\nPlease check the details log and try again.");
        QCOMPARE(boxes.join(""), logEnd.endsWith(failedLine) ? box : QString());
        QCOMPARE(wizard->button(QWizard::CancelButton)->text(),
                 logEnd.endsWith(successLine) ? "Close" : "Cancel");
        QVERIFY(work->read("settings.txt").startsWith("VDSP Installation Path:\n"));
    }

    void converterThatCannotStart_data()
    {
        QTest::addColumn<QString>("where");
        // clang-format off
        QTest::newRow("not on the search path") << QString();
        QTest::newRow("on the path, not executable") << QStringLiteral("bin");
        QTest::newRow("only in the working directory") << QStringLiteral(".");
        // clang-format on
    }
    void converterThatCannotStart()
    {
        QFETCH(QString, where);
        const Environment path("PATH", QFile::encodeName(work->makeDirectory("bin")));
        if (!where.isEmpty()) {
            writeScriptConverter(where, "exit 0");
            if (where == "bin")
                QFile::setPermissions("bin/Movrak", QFile::ReadOwner | QFile::WriteOwner);
        }
        goToLastPage(*wizard, *work);
        wizard->button(QWizard::FinishButton)->click();
        QTRY_COMPARE(logText(*wizard), firstLine + notExecutedLine);
        QVERIFY(!wizard->button(QWizard::FinishButton)->isEnabled());
        wizard.reset(); // which waits for any settings write it asked for
        QVERIFY(!QFile::exists("settings.txt"));
    }

    // However and whenever a run is stopped, even before its start is reported, the
    // converter and everything it started go, and nothing of it reaches the log, the
    // buttons, a box or settings.txt.
    void stopping_data()
    {
        QTest::addColumn<QString>("how");
        // clang-format off
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("window closed") << "close";
        QTest::newRow("wizard destroyed") << "destroy";
        QTest::newRow("Back and Next: a new summary") << "summary";
        QTest::newRow("a new summary before the start is reported") << "early summary";
        QTest::newRow("Back alone: only a look") << "back";
        // clang-format on
    }
    void stopping()
    {
        QFETCH(QString, how);
        writeScriptConverter(work->path("bin"),
                             "sleep 60 & echo $! > helper; echo running\n"
                             "until [ -e go ]; do sleep 0.05; done; echo late; exit 0");
        const auto path = converterFirstOnPath(work->path("bin"));
        const bool summarised = how.endsWith("summary");
        goToLastPage(*wizard, *work);
        const QString summary = logText(*wizard);
        wizard->button(QWizard::FinishButton)->click();
        if (how.startsWith("early")) {
            // The event loop is held up: the converter's start is not yet reported when
            // its helper already runs.
            QDeadlineTimer deadline(20000);
            while (work->read("helper").trimmed().isEmpty() && !deadline.hasExpired())
                QThread::msleep(5);
            QCOMPARE(wizard->conversion()->process()->state(), QProcess::Starting);
        } else {
            QTRY_VERIFY(logText(*wizard).contains("running"));
        }
        const qint64 converter = wizard->conversion()->process()->processId();
        const qint64 helper = work->read("helper").trimmed().toLongLong();
        QVERIFY(processLives(converter) && processLives(helper));
        QPointer<QProcess> process = wizard->conversion()->process();
        QSignalSpy ended(wizard->conversion(), &ConverterRun::ended);

        stop(how);

        if (how == "back") { // Back alone is only a look
            QSignalSpy reported(wizard.get(), &Tarnwell::runReported);
            work->makeFile("go");
            QVERIFY(reported.wait(20000));
            QVERIFY(logText(*wizard).endsWith("late\n" + successLine));
            QVERIFY(processLives(helper));
            return;
        }
        QTRY_VERIFY(!processLives(converter) && !processLives(helper));
        QTRY_VERIFY(process.isNull()); // reaped
        QCOMPARE(ended.size(), 0); // a stopped run has no end of its own
        QVERIFY(!QFile::exists("settings.txt"));
        if (how == "destroy")
            return;
        QCOMPARE(logText(*wizard), summarised ? summary : firstLine + "running\n");
        QCOMPARE(wizard->isVisible(), summarised); // Cancel and close end the wizard
        QCOMPARE(wizard->button(QWizard::CancelButton)->text(), QStringLiteral("Cancel"));
        QCOMPARE(wizard->button(QWizard::FinishButton)->isEnabled(), summarised);
        // A new run after a stopped one shows only its own output.
        if (summarised) {
            writeScriptConverter(work->path("bin"), "echo second");
            QVERIFY(finishAndWait(*wizard));
            QCOMPARE(logText(*wizard), firstLine + "second\n" + successLine);
        }
    }

    // A wizard closed after its converter failed, while the log still catches up with
    // the output, shows no box; the settings are written all the same.
    void noBoxOnceClosed()
    {
        writeScriptConverter(work->path("bin"), "echo half done; exit 1");
        const auto path = converterFirstOnPath(work->path("bin"));
        int boxes = 0;
        AnswerWhenShown<QMessageBox> closer([&boxes](QMessageBox *shown) {
            ++boxes;
            shown->accept();
        });
        goToLastPage(*wizard, *work);
        QSignalSpy reported(wizard.get(), &Tarnwell::runReported);
        // Closed right after the wizard has taken the end, before the event loop runs
        // again: the log has not shown the end yet, whatever the machine's speed.
        bool closedBeforeShown = false;
        connect(wizard->conversion(), &ConverterRun::ended, this, [&] {
            closedBeforeShown = reported.isEmpty() && !logText(*wizard).endsWith(failedLine);
            wizard->button(QWizard::CancelButton)->click();
        });
        wizard->button(QWizard::FinishButton)->click();
        QVERIFY(reported.wait(20000));
        QVERIFY(closedBeforeShown);
        QCOMPARE(boxes, 0);
        QVERIFY(logText(*wizard).endsWith("half done\n" + failedLine));
        QVERIFY(QFile::exists("settings.txt"));
    }

    // In a folder that others can write (mode 777, not sticky, so the kernel does not
    // guard links), what another user left as settings.txt costs the user neither a
    // file nor a moment of the window: their link is never written through, a file
    // they hold under a lease is not waited for. The user's own link is followed.
    void settingsInASharedFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("logLine");
        const QString othersLink(
                "settings.txt not saved: it is a link that belongs to another user");
        // clang-format off
        QTest::newRow("another user's link to a file of the user's") << "link" << othersLink;
        QTest::newRow("another user's link to nothing") << "dangling" << othersLink;
        QTest::newRow("another user's file under a lease") << "leased" << "settings.txt not saved: another program holds it open";
        QTest::newRow("a FIFO") << "fifo" << "settings.txt not saved: it is not a regular file";
        QTest::newRow("the user's own link, followed") << "own link" << "";
        // clang-format on
    }
    void settingsInASharedFolder()
    {
        QFETCH(QString, kind);
        QFETCH(QString, logLine);
        constexpr uid_t nobody = 65534;
        const bool others = kind == "link" || kind == "dangling" || kind == "leased";
        if (others && ::geteuid() != 0)
            QSKIP("giving a file to another user needs root");
        QVERIFY(QFile::setPermissions(".", QFile::Permissions(0x7777)));
        const QString mine = work->makeDirectory("home") + "/profile";
        if (kind != "dangling")
            work->makeFile("home/profile", "mine\n");
        if (kind == "leased")
            work->makeFile("settings.txt", "theirs\n");
        else if (kind == "fifo")
            QCOMPARE(::mkfifo("settings.txt", 0666), 0);
        else
            QVERIFY(QFile::link(mine, "settings.txt"));
        if (others)
            QCOMPARE(::lchown("settings.txt", nobody, nobody), 0);
        const pid_t holder = kind == "leased" ? leaseHolder("settings.txt") : 0;
        if (kind == "leased" && !holder)
            QSKIP("this file system takes no leases");
        const auto release = qScopeGuard([holder] {
            if (holder && ::kill(holder, SIGKILL) == 0)
                ::waitpid(holder, nullptr, 0);
        });
        const auto path = converterFirstOnPath(standInDirectory);
        goToLastPage(*wizard, *work);
        // A writer that waited for the lease would get the file once the kernel broke it
        // (after 45 s), and write it: its content below tells.
        QVERIFY(finishAndWait(*wizard));
        QTRY_VERIFY(logText(*wizard).endsWith((successLine + '\n' + logLine).trimmed()));
        // On disk: the user's files as they were, another user's file as it was, the
        // link still a link.
        const QByteArray saved = work->read("home/profile");
        QCOMPARE(QFileInfo::exists(mine), kind != "dangling");
        QVERIFY(kind == "own link" ? saved.startsWith("VDSP Installation Path:\n")
                                   : saved == (kind == "dangling" ? "" : "mine\n"));
        if (kind == "leased")
            QCOMPARE(work->read("settings.txt"), QByteArray("theirs\n"));
        QCOMPARE(QFileInfo("settings.txt").isSymLink(), kind != "leased" && kind != "fifo");
        QCOMPARE(QDir().entryList({ "settings.txt.*" }, QDir::Files | QDir::Hidden), {});
        wizard->button(QWizard::CancelButton)->click();
        QVERIFY(!wizard->isVisible());
    }

    // No signal reaches a program that has since been given the id of a converter that
    // ended on its own (process ids are reused).
    void stopsReachOnlyTheConvertersOwn_data()
    {
        QTest::addColumn<QString>("how");
        // clang-format off
        QTest::newRow("a new summary after the end") << "summary";
        QTest::newRow("closed after the end") << "close";
        QTest::newRow("wizard destroyed after the end") << "destroy";
        // clang-format on
    }
    void stopsReachOnlyTheConvertersOwn()
    {
        QFETCH(QString, how);
        const auto path = converterFirstOnPath(work->path("bin"));
        writeScriptConverter(work->path("bin"), "echo $$ > pid");
        goToLastPage(*wizard, *work);
        QVERIFY(finishAndWait(*wizard));
        const std::unique_ptr<QProcess> impostor
                = groupLeaderWithId(work->read("pid").trimmed().toLongLong());
        if (!impostor)
            QSKIP("choosing the next process id needs root (/proc/sys/kernel/ns_last_pid)");
        stop(how);
        QTest::qWait(100);
        QCOMPARE(impostor->state(), QProcess::Running); // and goes with its QProcess
    }
};

QTEST_MAIN(ConversionTest)
#include "tst_conversion.moc"

// Misbehaving converters, hostile output and a settings file that cannot be written:
// the wizard keeps working, loses nothing it may keep, and never hangs or crashes.

#include "support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace {

const QString firstLine = QStringLiteral("Initialising Project Conversion ...\n");
const QString successLine = QStringLiteral("Project Converted Successfully!");
const QString failureBox = QStringLiteral(
        "Tarnwell|Project Conversion Failed!\nPlease check the details log and try again.");

// Peak resident memory of this process so far, in MiB (Linux).
double peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}

// Sets the stand-in converter's switches for the life of the object.
class ConverterSwitches
{
public:
    explicit ConverterSwitches(std::initializer_list<std::pair<const char *, QByteArray>> values)
    {
        for (const auto &[name, value] : values) {
            names << name;
            qputenv(name, value);
        }
    }
    ~ConverterSwitches()
    {
        for (const char *name : names)
            qunsetenv(name);
    }

private:
    QList<const char *> names;
};

} // namespace

class FaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        work = std::make_unique<WorkingDirectory>();
        path = std::make_unique<SearchPath>(standInConverterDirectory());
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

    // Kept first: it measures this process's peak memory.
    void standardErrorFloodStaysOutOfMemory()
    {
        ConverterSwitches flood { { "MOVRAK_STDERR_BYTES", QByteArray::number(100 << 20) },
                                  { "MOVRAK_EXIT_CODE", "0" } };
        goToLastPage(*wizard, *work);
        const double before = peakMegabytes();
        finishAndWait(*wizard, *work, 60000);
        QCOMPARE(log(), firstLine + successLine);
        const double growth = peakMegabytes() - before;
        QVERIFY2(growth < 40, qPrintable(QStringLiteral("peak grew by %1 MiB").arg(growth)));
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("switches");
        QTest::addColumn<QString>("expectedLog");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("crash by a signal")
                << QByteArray("MOVRAK_BYTES=half a line\\nand a bit;MOVRAK_CRASH=1")
                << firstLine + "half a line\nand a bit\n"
                << QStringList();
        QTest::newRow("exits at once, successfully")
                << QByteArray("MOVRAK_EXIT_CODE=0") << firstLine + successLine << QStringList();
        QTest::newRow("exits at once with a failure")
                << QByteArray("MOVRAK_EXIT_CODE=3") << firstLine << QStringList { failureBox };
        QTest::newRow("NUL bytes and invalid 8-bit text")
                << QByteArray("MOVRAK_BYTES=a\\x00b\\n\\xff\\xfe\\xc3(\\n;MOVRAK_EXIT_CODE=0")
                << firstLine + QString::fromLatin1("a\0b\n\xff\xfe\xc3(\n", 9) + successLine
                << QStringList();
    }
    void outcomes()
    {
        QFETCH(QByteArray, switches);
        QFETCH(QString, expectedLog);
        QFETCH(QStringList, boxes);
        for (const QByteArray &setting : switches.split(';')) {
            const int equals = setting.indexOf('=');
            qputenv(setting.left(equals).constData(), setting.mid(equals + 1));
        }
        goToLastPage(*wizard, *work);
        MessageBoxes seen;
        finishAndWait(*wizard, *work);
        for (const QByteArray &setting : switches.split(';'))
            qunsetenv(setting.left(setting.indexOf('=')).constData());
        QCOMPARE(log(), expectedLog);
        QCOMPARE(seen.seen, boxes);
    }

    void killedFromOutside()
    {
        ConverterSwitches sleep { { "MOVRAK_BYTES", "working\\n" },
                                  { "MOVRAK_SLEEP_MS", "30000" } };
        goToLastPage(*wizard, *work);
        MessageBoxes seen;
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY(log().contains("working"));
        QVERIFY(::kill(static_cast<pid_t>(converter()->processId()), SIGKILL) == 0);
        QTRY_VERIFY(QFile::exists(work->path("settings.txt")));
        QCOMPARE(log(), firstLine + "working\n");
        QCOMPARE(seen.seen, QStringList());
    }

    void hangsThenCancel()
    {
        ConverterSwitches sleep { { "MOVRAK_BYTES", "working\\n" },
                                  { "MOVRAK_SLEEP_MS", "60000" } };
        goToLastPage(*wizard, *work);
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY(log().contains("working"));
        const qint64 pid = converter()->processId();
        wizard->button(QWizard::CancelButton)->click();
        QVERIFY(!wizard->isVisible());
        // Gone and reaped: a zombie would still answer kill(pid, 0).
        QTRY_VERIFY(!processExists(pid));
    }

    void grandchildKeepsTheOutputOpen()
    {
        ConverterSwitches switches { { "MOVRAK_GRANDCHILD", "60" }, { "MOVRAK_EXIT_CODE", "0" } };
        goToLastPage(*wizard, *work);
        QElapsedTimer clock;
        clock.start();
        finishAndWait(*wizard, *work);
        const QStringList rows = log().split('\n');
        QCOMPARE(rows.size(), 3);
        QVERIFY(rows[1].startsWith("grandchild "));
        const qint64 grandchild = rows[1].section(' ', 1).toLongLong();
        QVERIFY(processExists(grandchild));
        ::kill(static_cast<pid_t>(grandchild), SIGKILL);
        QCOMPARE(rows[2], successLine);
        QVERIFY2(clock.elapsed() < 30000, "the wizard waited for the grandchild");
    }

    void threeMillionLines()
    {
        ConverterSwitches lines { { "MOVRAK_LINES", "3000000" },
                                  { "MOVRAK_FLUSH", "end" },
                                  { "MOVRAK_EXIT_CODE", "0" } };
        goToLastPage(*wizard, *work);
        finishAndWait(*wizard, *work, 600000);
        QVERIFY(wizard->button(QWizard::CancelButton)->text() == QLatin1String("Close"));
        const QString text = log();
        QVERIFY(text.startsWith(firstLine + "... "));
        const QString lastLine = QStringLiteral("003000000 ")
                + QStringLiteral("converting source files of the project, one line of progress")
                          .leftJustified(69);
        QVERIFY(text.endsWith(lastLine + '\n' + successLine));
        const qsizetype shown = text.count('\n') - 2;
        QVERIFY2(shown >= 150000 && shown <= 200000, qPrintable(QString::number(shown)));
        const qint64 dropped = text.section('\n', 1, 1).section(' ', 1, 1).toLongLong();
        QCOMPARE(dropped + shown, 3000000);
    }

    void twentyMegabyteLine()
    {
        ConverterSwitches line { { "MOVRAK_LONG_LINE", QByteArray::number(20 << 20) },
                                 { "MOVRAK_BYTES", "\\nafter\\n" },
                                 { "MOVRAK_EXIT_CODE", "0" } };
        goToLastPage(*wizard, *work);
        finishAndWait(*wizard, *work, 120000);
        // MOVRAK_BYTES comes first: an empty line, "after", then the long line.
        const QString cut = QString(10000, QLatin1Char('x'))
                + QStringLiteral(" ... (%1 more characters not shown)").arg((20 << 20) - 10000);
        QCOMPARE(log(), firstLine + "\nafter\n" + cut + '\n' + successLine);
    }

    void lineBreaksNeverReachTheSettingsFile()
    {
        writeFakeConverter(work->path("bin"), "exit 0");
        SearchPath fake(work->path("bin"));
        goToLastPage(*wizard, *work);
        const QString install = wizard->VDSPInstallDirEdit->text();
        // As pasted: a path copied with its line end, and one with a break inside.
        wizard->VDSPInstallDirEdit->setText(install + "\r\n");
        wizard->MsgPersonEdit->setText(QStringLiteral("/a\nMessage Personality:\n/evil"));
        QCOMPARE(wizard->VDSPInstallDirEdit->text(), install);
        QCOMPARE(wizard->MsgPersonEdit->text(), QStringLiteral("/aMessage Personality:/evil"));
        QCOMPARE(textColour(wizard->VDSPInstallDirEdit), QColor(0, 0, 0));
        wizard->back();
        pressNext(*wizard);
        finishAndWait(*wizard, *work);
        QCOMPARE(work->read("settings.txt"),
                 QFile::encodeName("VDSP Installation Path:\n" + install
                                   + "\n\nMessage Personality:\n/aMessage Personality:/evil\n\n"));
    }

    void settingsFileIsADirectory()
    {
        work->makeDirectory("settings.txt");
        wizard = std::make_unique<Tarnwell>();
        wizard->show();
        goToLastPage(*wizard, *work);
        MessageBoxes seen;
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY(log().endsWith(successLine));
        QTest::qWait(100);
        QVERIFY(QFileInfo(work->path("settings.txt")).isDir());
        QCOMPARE(seen.seen, QStringList());
    }

    void settingsFileIsReadOnly()
    {
#ifdef Q_OS_WIN
        QSKIP("needs POSIX permissions");
#else
        if (::geteuid() == 0) {
            // Root writes through any permission: run this test as nobody.
            if (QStandardPaths::findExecutable("setpriv").isEmpty())
                QSKIP("running as root without setpriv: cannot test as another user");
            QProcess child;
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.setWorkingDirectory(QDir::tempPath());
            child.start("setpriv",
                        { "--reuid=65534", "--regid=65534", "--clear-groups",
                          QCoreApplication::applicationFilePath(), "settingsFileIsReadOnly" });
            QVERIFY(child.waitForFinished(120000));
            const QByteArray output = child.readAll();
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                     output.constData());
            QVERIFY2(output.contains("PASS   : FaultsTest::settingsFileIsReadOnly()"),
                     output.constData());
            return;
        }
        const QByteArray old("VDSP Installation Path:\n/old\n\n");
        const QString file = work->makeFile("settings.txt", old);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        wizard = std::make_unique<Tarnwell>();
        wizard->show();
        QCOMPARE(wizard->VDSPInstallDirEdit->text(), QStringLiteral("/old"));
        goToLastPage(*wizard, *work);
        MessageBoxes seen;
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY(log().endsWith(successLine));
        QTest::qWait(100);
        QCOMPARE(work->read("settings.txt"), old);
        QCOMPARE(seen.seen, QStringList());
#endif
    }

    void diskFull()
    {
#ifdef Q_OS_WIN
        QSKIP("needs a small file system of its own");
#else
        const QString disk = work->makeDirectory("disk");
        if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP(qPrintable("cannot mount a small tmpfs here (needs root): "
                             + QString::fromLocal8Bit(strerror(errno))));
        struct Unmount
        {
            QString disk;
            ~Unmount() { ::umount(QFile::encodeName(disk).constData()); }
        } unmount { disk };
        const QByteArray old("VDSP Installation Path:\n/old\n\n");
        {
            QFile settings(disk + "/settings.txt");
            QVERIFY(settings.open(QIODevice::WriteOnly));
            settings.write(old);
        }
        {
            QFile filler(disk + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size() && filler.flush()) { }
        }
        {
            QFile check(disk + "/settings.txt");
            QVERIFY(check.open(QIODevice::ReadOnly));
            QCOMPARE(check.readAll(), old);
        }
        QDir::setCurrent(disk);
        wizard = std::make_unique<Tarnwell>();
        wizard->show();
        goToLastPage(*wizard, *work);
        wizard->VDSPInstallDirEdit->setText(work->path("vdsp") + QString(3000, 'y'));
        wizard->VDSPInstallDirEdit->setText(work->path("vdsp"));
        MessageBoxes seen;
        wizard->button(QWizard::FinishButton)->click();
        QTRY_VERIFY(log().endsWith(successLine));
        QTest::qWait(100);
        QDir::setCurrent(work->path());
        QFile settings(disk + "/settings.txt");
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QCOMPARE(settings.readAll(), old);
        QCOMPARE(QDir(disk).entryList(QDir::Files), QStringList({ "filler", "settings.txt" }));
        QCOMPARE(seen.seen, QStringList());
#endif
    }

private:
    QString log() const
    {
        return wizard->DetailsText->toPlainText();
    }

    QProcess *converter() const
    {
        return latestConverter(*wizard);
    }

    std::unique_ptr<WorkingDirectory> work;
    std::unique_ptr<SearchPath> path;
    std::unique_ptr<Tarnwell> wizard;
};

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"

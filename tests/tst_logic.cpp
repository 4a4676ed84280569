// The logic that needs no widgets: extension list, summary, argument list, the
// settings format and the cutting of converter output into lines.

#include "app/commandline.h"
#include "app/linebreaks.h"
#include "app/outputlines.h"
#include "app/settings.h"
#include "support.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTextBoundaryFinder>
#include <QThread>

#include <csignal>
#include <cstdlib>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Output bytes that are not UTF-8 as the log reads them: Latin-1, one character per
// byte, or on Windows in the console's (OEM) code page.
QString legacyText(const QByteArray &bytes)
{
#ifdef Q_OS_WIN
    QString text(bytes.size() * 2, Qt::Uninitialized);
    text.resize(::MultiByteToWideChar(CP_OEMCP, 0, bytes.constData(), int(bytes.size()),
                                      reinterpret_cast<wchar_t *>(text.data()), int(text.size())));
    return text;
#else
    return QString::fromLatin1(bytes);
#endif
}

class LogicTest : public QObject
{
    Q_OBJECT

public:
    // The child of settingsWriter(no thread to be had): asks for a write and ends.
    static void initMain()
    {
        if (qEnvironmentVariableIsEmpty("TARNWELL_ASK_A_WRITE"))
            return;
        int argc = 1;
        char name[] = "tst_logic";
        char *argv[] = { name, nullptr };
        const QCoreApplication application(argc, argv);
        SettingsWriter().write("settings.txt", ::settingsText("/c", "", "", ""),
                               [](SettingsWrite) {});
        std::exit(0);
    }

private slots:
    void extensionList_data()
    {
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QString>("custom");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("nothing") << QStringList() << QString() << QString();
        QTest::newRow("all eight, cpp first") << QStringList { "hxx", "hpp", "hh", "h", "c", "cxx", "cc", "cpp" } << QString() << QStringLiteral("cpp,cc,cxx,c,h,hh,hpp,hxx");
        QTest::newRow("one comma removed only") << QStringList { "hxx" } << QStringLiteral("asm,,") << QStringLiteral("hxx,asm,");
        QTest::newRow("blank kept") << QStringList { "hxx" } << QStringLiteral(" s") << QStringLiteral("hxx, s");
        QTest::newRow("custom only") << QStringList() << QStringLiteral("inc") << QStringLiteral("inc");
    }
    void extensionList()
    {
        QFETCH(QStringList, checked);
        QFETCH(QString, custom);
        QFETCH(QString, expected);
        std::array<bool, fixedExtensions.size()> boxes {};
        for (std::size_t i = 0; i < fixedExtensions.size(); ++i)
            boxes[i] = checked.contains(QLatin1String(fixedExtensions[i]));
        QCOMPARE(fileExtensionList(boxes, custom), expected);
    }

    // The rest of the argument list: tst_conversion, tst_windows.
    void argumentsOfEmptyInputs()
    {
        QCOMPARE(converterArguments(ConversionInputs()), QStringList({ "", "", "", "-pn", "" }));
    }

    void settingsText_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("expected");
        // clang-format off
        QTest::newRow("all four") << QStringList { "/vdsp", "/m.p_s", "/a.p_a", "/c.p_c" } << QByteArray("VDSP Installation Path:\n/vdsp\n\n" "Message Personality:\n/m.p_s\n\n" "Analyser Personality:\n/a.p_a\n\n" "Compiler Personality:\n/c.p_c\n\n");
        QTest::newRow("all empty") << QStringList { "", "", "", "" } << QByteArray("VDSP Installation Path:\n\n\n");
        QTest::newRow("compiler only") << QStringList { "", "", "", "c d" } << QByteArray("VDSP Installation Path:\n\n\n" "Compiler Personality:\nc d\n\n");
        // clang-format on
    }
    void settingsText()
    {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, expected);
        QCOMPARE(encodeSettings(::settingsText(fields[0], fields[1], fields[2], fields[3])),
                 expected);
    }

    void parseSettings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("empty file") << QByteArray() << "-|-|-|-";
        QTest::newRow("as written") << QByteArray("VDSP Installation Path:\n/vdsp\n\nMessage Personality:\n/m\n\nAnalyser Personality:\n/a\n\nCompiler Personality:\n/c\n\n") << "/vdsp|/m|/a|/c";
        QTest::newRow("compiler only") << QByteArray("Compiler Personality:\n/c") << "-|-|-|/c";
        QTest::newRow("key on last line") << QByteArray("Message Personality:\n/m\nCompiler Personality:\n") << "-|/m|-|";
        QTest::newRow("key on last line without line feed") << QByteArray("Compiler Personality:") << "-|-|-|";
        QTest::newRow("later wins") << QByteArray("Message Personality:\n/one\nMessage Personality:\n/two\n") << "-|/two|-|-";
        QTest::newRow("trailing blank or other case is no key") << QByteArray("Message Personality: \n/m\nmessage personality:\n/n\n") << "-|-|-|-";
        QTest::newRow("unrecognised key, next line read as a key") << QByteArray("compiler personality:\nMessage Personality:\n/m\n") << "-|/m|-|-";
        QTest::newRow("value equal to a key") << QByteArray("Message Personality:\nCompiler Personality:\n/c\n") << "-|Compiler Personality:|-|-";
        QTest::newRow("other order, other lines between") << QByteArray("# note\nCompiler Personality:\n/c\nxx\nAnalyser Personality:\n/a\n\nMessage Personality:\n/m\nVDSP Installation Path:\n/v\n") << "/v|/m|/a|/c";
        QTest::newRow("CR LF") << QByteArray("VDSP Installation Path:\r\n/vdsp\r\n\r\nMessage Personality:\r\n/m\r\n\r\n") << "/vdsp|/m|-|-";
        QTest::newRow("empty value line") << QByteArray("VDSP Installation Path:\n\n\n") << "|-|-|-";
        QTest::newRow("NUL byte kept") << QByteArray("Message Personality:\n/a\0b\n", 26) << QString::fromLatin1("-|/a\0b|-|-", 10);
        // clang-format on
    }
    void parseSettings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        const RememberedInputs inputs = ::parseSettings(file);
        QStringList entries; // "-" for an entry the file does not hold
        for (const auto &entry : { inputs.installDirectory, inputs.messagePersonality,
                                   inputs.analyserPersonality, inputs.compilerPersonality })
            entries << entry.value_or(QStringLiteral("-"));
        QCOMPARE(entries.join('|'), expected);
    }

    // settings.txt where it cannot simply be replaced: a write that fails part way (a
    // full disk) keeps the old file; a folder that takes no new files gets it written in
    // place; a file shared on purpose keeps its mode, and another user's file its owner.
    void writeSettingsFile_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("saved");
        // clang-format off
        QTest::newRow("a full disk") << "full" << false;
        QTest::newRow("no such folder") << "no folder" << false;
        QTest::newRow("a folder that takes no new files") << "closed folder" << true;
        QTest::newRow("a group-writable file") << "mode 664" << true;
        QTest::newRow("another user's file") << "others" << true;
        // clang-format on
    }
    void writeSettingsFile()
    {
#ifndef Q_OS_UNIX
        QSKIP("POSIX only: rlimits, file owners and modes");
#else
        QFETCH(QString, where);
        QFETCH(bool, saved);
        constexpr uid_t nobody = 65534;
        const uid_t user = ::geteuid();
        if (where == "others" && user != 0)
            QSKIP("giving the file to another user needs root");
        const mode_t previousMask = ::umask(022);
        const auto restoreMask = qScopeGuard([previousMask] { ::umask(previousMask); });
        WorkingDirectory work;
        const QString folder = work.makeDirectory(QStringLiteral("shared"));
        const QByteArray old("VDSP Installation Path:\n/old\n\n");
        QString path = work.makeFile(QStringLiteral("shared/settings.txt"), old);
        const QString text = ::settingsText(QString(100000, QLatin1Char('x')), "", "", "");
        rlimit previousLimit {};
        getrlimit(RLIMIT_FSIZE, &previousLimit);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        bool refused = true;
        if (where == "no folder") {
            path = work.path(QStringLiteral("gone/settings.txt"));
        } else if (where.startsWith("full")) { // the write fails part way
            const rlimit limit { 16, previousLimit.rlim_max };
            setrlimit(RLIMIT_FSIZE, &limit);
        } else if (where == "mode 664") {
            QCOMPARE(::chmod(qPrintable(path), 0664), 0);
        } else if (where == "others") {
            QCOMPARE(::chown(qPrintable(path), nobody, nobody), 0);
        } else if (where == "closed folder") {
            // Root writes anywhere: the write runs as the owner of the two, without the
            // power to override file permissions, which setfsuid() drops.
            QFile::setPermissions(work.path("."), QFile::Permissions(0x7711));
            QFile::setPermissions(path, QFile::Permissions(0x6666));
            QFile::setPermissions(folder, QFile::Permissions(0x5555));
            if (user == 0) // the file stays ours, writable by all
                QCOMPARE(::chown(qPrintable(folder), nobody, nobody), 0);
            ::setfsuid(user == 0 ? nobody : user);
            refused = !QFile(folder + "/probe").open(QIODevice::WriteOnly);
        }
        const SettingsWrite written = ::writeSettingsFile(path, text);
        ::setfsuid(user);
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        std::signal(SIGXFSZ, previousHandler);
        QFile::setPermissions(folder, QFile::Permissions(0x7755));
        QVERIFY2(refused, "the folder still takes new files");
        QCOMPARE(written, saved ? SettingsWrite::Saved : SettingsWrite::Failed);
        QCOMPARE(work.read(QStringLiteral("shared/settings.txt")),
                 saved ? encodeSettings(text) : old);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList { "settings.txt" });
        struct stat status;
        QCOMPARE(::stat(qPrintable(folder + "/settings.txt"), &status), 0);
        QCOMPARE(status.st_mode & 0777,
                 mode_t(where == "mode 664"                ? 0664
                                : where == "closed folder" ? 0666
                                                           : 0644));
        QCOMPARE(status.st_uid, where == "others" ? nobody : user);
#endif
    }

    // settings.txt is written away from the window's thread, one write at a time: the
    // last one asked is what stays, what became of each is told in the thread that
    // asked, in the order asked, and a writer destroyed first still writes them all
    // (it tells no one: whoever asked may be gone). Where no thread can be had, a write
    // is made all the same.
    void settingsWriter_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("kept until told") << "kept";
        QTest::newRow("destroyed at once") << "destroyed";
        QTest::newRow("no thread to be had") << "no thread";
    }
    void settingsWriter()
    {
        QFETCH(QString, how);
        WorkingDirectory work;
        QStringList told;
        if (how == "no thread") {
#if !defined(Q_OS_LINUX) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
            QSKIP("Linux only, and the sanitizers need more address space than is left");
#else
            // This program again, where a thread's stack (as large as the stack limit)
            // does not fit in the address space allowed: no thread can be created. A
            // writer that waits for a thread it never got waits for ever.
            const Environment ask("TARNWELL_ASK_A_WRITE", "1");
            QProcess child;
            child.start("prlimit",
                        { "--stack=4398046511104", "--as=2199023255552",
                          QCoreApplication::applicationFilePath() });
            QVERIFY(child.waitForFinished(30000));
            QCOMPARE(child.exitCode(), 0);
#endif
        } else {
            auto writer = std::make_unique<SettingsWriter>();
            for (const QString value : { "/a", "/b", "/c" }) {
                writer->write("settings.txt", ::settingsText(value, "", "", ""),
                              [&told, value](SettingsWrite written) {
                                  told << value + (written == SettingsWrite::Saved ? "" : " failed")
                                                  + (QThread::currentThread() == qApp->thread()
                                                             ? ""
                                                             : " elsewhere");
                              });
            }
            if (how == "kept")
                QTRY_COMPARE(told.size(), 3);
            writer.reset();
            QCoreApplication::processEvents();
        }
        const QStringList all { "/a", "/b", "/c" };
        QCOMPARE(told, how == "kept" ? all : QStringList());
        QCOMPARE(work.read("settings.txt"), encodeSettings(::settingsText("/c", "", "", "")));
        QCOMPARE(QDir().entryList(QDir::Files | QDir::Hidden), QStringList { "settings.txt" });
    }

    // settings.txt is read before any window shows: whatever lies there, reading it
    // must neither block nor read without end.
    void readSettingsFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("link to a regular file") << "link" << "/v";
        QTest::newRow("no file") << "none" << "";
        QTest::newRow("entry past 64 KB in a sparse 1 GB file") << "sparse" << "";
        QTest::newRow("link to /dev/zero") << "zero" << "";
        QTest::newRow("FIFO") << "fifo" << "";
        // clang-format on
    }
    void readSettingsFile()
    {
#ifndef Q_OS_UNIX
        QSKIP("POSIX only: rlimits, file owners, FIFOs and devices");
#else
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        WorkingDirectory work;
        const QByteArray entry("VDSP Installation Path:\n/v\n");
        if (kind == "link") {
            QFile::link(work.makeFile("real.txt", entry), "settings.txt");
        } else if (kind == "sparse") {
            QFile file(work.makeFile("settings.txt"));
            QVERIFY(file.open(QIODevice::ReadWrite) && file.resize(qint64(1) << 30));
            QVERIFY(file.seek(100000) && file.write('\n' + entry) == entry.size() + 1);
        } else if (kind == "zero") {
            QFile::link("/dev/zero", "settings.txt");
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo("settings.txt", 0600), 0);
            // A reader that blocks in open() waits here until the test times out.
        }
        QCOMPARE(::readSettingsFile("settings.txt").installDirectory.value_or(QString()), expected);
#endif
    }

    void outputLines_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("rest");
        QTest::addColumn<int>("maxLength");
        const int usual = OutputLines::defaultMaxLineLength;
        // clang-format off
        QTest::newRow("CR LF split between chunks") << QByteArrayList { "a\r\nb\r", "\nc" } << QStringList { "a", "b" } << QStringLiteral("c") << usual;
        QTest::newRow("CR at the end of the output kept") << QByteArrayList { "a\r" } << QStringList {} << QStringLiteral("a\r") << usual;
        QTest::newRow("lone CR kept") << QByteArrayList { "a\rb\n" } << QStringList { "a\rb" } << QString() << usual;
        QTest::newRow("UTF-8 split between chunks") << QByteArrayList { "caf\xc3", "\xa9\n" } << QStringList { "café" } << QString() << usual;
        QTest::newRow("Latin-1, NUL kept") << QByteArrayList { QByteArray("caf\xe9\0x\n", 7) } << QStringList { legacyText(QByteArray("caf\xe9\0x", 6)) } << QString() << usual;
        QTest::newRow("each line decoded alone") << QByteArrayList { "caf\xe9\ncaf\xc3\xa9\n\xc3\xa9\xe9" } << QStringList { legacyText("caf\xe9"), "café" } << legacyText("\xc3\xa9\xe9") << usual;
        const QString note = QStringLiteral(" ... (%1 more characters not shown)");
        QTest::newRow("at the limit, CR LF") << QByteArrayList { "0123456789\r\n" } << QStringList { "0123456789" } << QString() << 10;
        QTest::newRow("one more") << QByteArrayList { "0123456789a\nb\n" } << QStringList { "0123456789" + note.arg(1), "b" } << QString() << 10;
        QTest::newRow("over chunks") << QByteArrayList { "01234", "56789abc", "def", "\r", "\nnext\n" } << QStringList { "0123456789" + note.arg(6), "next" } << QString() << 10;
        QTest::newRow("unfinished") << QByteArrayList { "0123456789", "0123456789" } << QStringList {} << "0123456789" + note.arg(10) << 10;
        // The limit counts characters, and a cut never splits one: "é" is two bytes, "€" three.
        QTest::newRow("UTF-8 over the limit, cut between characters") << QByteArrayList { "x", QByteArray("\xe2\x82\xac").repeated(40), "\r\n" } << QStringList { "x€€€€€€€€€" + note.arg(31) } << QString() << 10;
        QTest::newRow("Latin-1 over the limit") << QByteArrayList { QByteArray("\xe9").repeated(50) + "\n" } << QStringList { legacyText(QByteArray("\xe9").repeated(10)) + note.arg(40) } << QString() << 10;
        // clang-format on
    }
    void outputLines()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, lines);
        QFETCH(QString, rest);
        QFETCH(int, maxLength);
        OutputLines output(maxLength);
        QStringList actual;
        for (const QByteArray &chunk : chunks)
            actual += output.take(chunk);
        QCOMPARE(actual, lines);
        QCOMPARE(output.takeRest(), rest);
        QCOMPARE(output.takeRest(), QString());
    }

    // Where a line of ASCII may break, against QTextBoundaryFinder (which the log's
    // layout used before, and which finds what Qt's layout finds).
    void asciiLineBreaks_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("ascii");
        // clang-format off
        QTest::newRow("a path") << QStringList { "adding C:\\Program Files\\Tools 5.0\\src\\lib-x86\\file_1.c", "/usr/lib/x86_64-linux-gnu/libc.so.6" } << true;
        QTest::newRow("numbers hold together") << QStringList { "v1.2.3-rc4", "$(12.5%)", "-3,000.50", "(1)(2)", "1/2/3", "x=1<2>3~4", "+1e-5", "[10]$", "a1:2;3", "1 2 3" } << true;
        QTest::newRow("brackets and quotes") << QStringList { "f(a) [b] {c}", "( a)", "a (b", "'q' \"r\"", "say \"x\" y", "}{", "a)(b" } << true;
        QTest::newRow("blanks before, between, after") << QStringList { " a", "   (x", "a   ", "  ", " ", "a  b", " -1", "- -", "x !y" } << true;
        QTest::newRow("hyphens and bars") << QStringList { "a-b", "a--b", "-a", "a-1", "1-a", "a|b", "|a", "a-(b", "a- b", "$-1" } << true;
        QTest::newRow("one character") << QStringList { "a", "(", ")", "1", "-", "!", "\"" } << true;
        QTest::newRow("not ASCII: refused") << QStringList { "caf\u00e9 au lait", "a\tb", "a\x7f", "a\u2028b" } << false;
        // clang-format on
        // Every pair and triple of classes, in texts up to 14 characters long.
        const QString alphabet = QStringLiteral(
                " !\"#$%&'()*+,-./0123456789:;<=>?@AZ[\\]^_`az{|}~   0099aa--..(())");
        QRandomGenerator random(26);
        QStringList texts;
        for (int n = 0; n < 40000; ++n) {
            QString text(1 + random.bounded(14), Qt::Uninitialized);
            for (QChar &c : text)
                c = alphabet[random.bounded(alphabet.size())];
            texts += text;
        }
        QTest::newRow("random") << texts << true;
    }
    void asciiLineBreaks()
    {
        QFETCH(QStringList, texts);
        QFETCH(bool, ascii);
        for (const QString &text : texts) {
            QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
            QList<qsizetype> expected;
            for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
                expected += at;
            QVarLengthArray<bool, 64> breakBefore(text.size() + 1);
            std::fill(breakBefore.begin(), breakBefore.end(), true);
            QCOMPARE(::asciiLineBreaks(text, breakBefore.data()), ascii);
            if (!ascii) { // refused, and left as it was
                QVERIFY(std::all_of(breakBefore.begin(), breakBefore.end(),
                                    [](bool b) { return b; }));
                continue;
            }
            QList<qsizetype> actual;
            for (qsizetype at = 0; at <= text.size(); ++at)
                if (breakBefore[at])
                    actual += at;
            QVERIFY2(actual == expected, qPrintable(u'"' + text + u'"'));
        }
    }
    // The command line: what it asks for, the project file it gives the wizard, and a
    // piece of what it prints.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("projectFile");
        QTest::addColumn<QString>("printed");
        // clang-format off
        QTest::newRow("nothing") << QStringList { "tarnwell" } << "wizard" << "" << "";
        QTest::newRow("a relative path, as given") << QStringList { "tarnwell", "app.dpj" } << "wizard" << "app.dpj" << "";
        QTest::newRow("a path with blanks and a percent sign") << QStringList { "tarnwell", "/home/a b/100%.dpj" } << "wizard" << "/home/a b/100%.dpj" << "";
        QTest::newRow("a file URL, as a desktop passes it") << QStringList { "tarnwell", "file:///home/a%20b/app.dpj" } << "wizard" << "/home/a b/app.dpj" << "";
        QTest::newRow("a file URL in capitals") << QStringList { "tarnwell", "FILE:///srv/app.dpj" } << "wizard" << "/srv/app.dpj" << "";
        QTest::newRow("a web address is ignored") << QStringList { "tarnwell", "https://example.org/app.dpj" } << "wizard" << "" << "not a usable local file, ignored: https://example.org/app.dpj";
        QTest::newRow("a name with a line break is ignored") << QStringList { "tarnwell", "/p/a\nb.dpj" } << "wizard" << "" << "ignored: /p/a\nb.dpj";
        QTest::newRow("and so is a file URL with one") << QStringList { "tarnwell", "file:///p/a%0Ab.dpj" } << "wizard" << "" << "ignored: file:///p/a%0Ab.dpj";
#ifdef Q_OS_WIN // a share: a UNC path, given or as a file URL that names its host
        QTest::newRow("a UNC path, as given") << QStringList { "tarnwell", "\\\\host\\share\\app.dpj" } << "wizard" << "\\\\host\\share\\app.dpj" << "";
        QTest::newRow("a file URL of a share") << QStringList { "tarnwell", "file://host/share/a%20b.dpj" } << "wizard" << "//host/share/a b.dpj" << "";
#endif
        QTest::newRow("a Windows drive is no URL scheme") << QStringList { "tarnwell", "C:\\dsp\\app.dpj" } << "wizard" << "C:\\dsp\\app.dpj" << "";
        QTest::newRow("a name with a colon is no URL") << QStringList { "tarnwell", "board:rev2.dpj" } << "wizard" << "board:rev2.dpj" << "";
        QTest::newRow("a file starting with a dash, after --") << QStringList { "tarnwell", "--", "-old.dpj" } << "wizard" << "-old.dpj" << "";
        QTest::newRow("-h, with a project") << QStringList { "tarnwell", "app.dpj", "-h" } << "help" << "" << "[PROJECT.dpj]";
        QTest::newRow("an unknown option") << QStringList { "tarnwell", "--open", "a.dpj" } << "refused" << "" << "'open'";
        QTest::newRow("an unknown option before help") << QStringList { "tarnwell", "--open", "--help" } << "refused" << "" << "Try 'tarnwell --help'.";
        // clang-format on
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, answer);
        QFETCH(QString, projectFile);
        QFETCH(QString, printed);
        const CommandLine commandLine = parseCommandLine(arguments);
        const QStringList answers { "wizard", "help", "version", "refused" };
        QCOMPARE(answers.value(int(commandLine.action)), answer);
        // A file URL gives a native path (backslashes on Windows).
        QCOMPARE(QDir::toNativeSeparators(commandLine.projectFile),
                 QDir::toNativeSeparators(projectFile));
        QVERIFY2(commandLine.text.contains(printed), qPrintable(commandLine.text));
        QVERIFY(printed.isEmpty() ? commandLine.text.isEmpty() : commandLine.text.endsWith('\n'));
    }

    // The program answers --help and --version without a display, on standard output,
    // and ends; a mistake goes to standard error with a failure status.
    void programAnswers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error");
        // clang-format off
        QTest::newRow("--help") << QStringList { "--help" } << 0 << "Usage: " << "";
        QTest::newRow("--version") << QStringList { "app.dpj", "--version" } << 0 << "tarnwell " TARNWELL_VERSION "\n" << "";
        QTest::newRow("a Qt option first") << QStringList { "-platform", "offscreen", "-v" } << 0 << "tarnwell " TARNWELL_VERSION "\n" << "";
        QTest::newRow("two project files") << QStringList { "-platform", "offscreen", "a.dpj", "b.dpj" } << 1 << "" << "one project file at most";
        // clang-format on
    }
    void programAnswers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *display : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QLatin1String(display));
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(TARNWELL_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), status);
        // Windows's C runtime ends the lines it prints with CR LF.
        const QString printed = QString::fromLocal8Bit(program.readAllStandardOutput())
                                        .replace(QLatin1String("\r\n"), QLatin1String("\n"));
        const QString complaint = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(output.isEmpty() ? printed.isEmpty() : printed.startsWith(output),
                 qPrintable(printed));
        QVERIFY2(complaint.contains(error), qPrintable(complaint));
    }
};

QTEST_MAIN(LogicTest)
#include "tst_logic.moc"

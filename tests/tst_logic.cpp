// The logic that needs no widgets: extension list, summary, argument list, the
// settings format and the cutting of converter output into lines.

#include "app/conversion.h"
#include "app/outputlines.h"
#include "app/settings.h"
#include "app/tarnwell.h"
#include "support.h"

#include <QTest>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#endif

Q_DECLARE_METATYPE(RememberedInputs)
Q_DECLARE_METATYPE(ConversionInputs)

namespace {

ConversionInputs exampleInputs()
{
    ConversionInputs inputs;
    inputs.projectFile = QStringLiteral("C:\\dsp\\app.dpj");
    inputs.destinationDirectory = QStringLiteral("C:\\out");
    inputs.installDirectory = QStringLiteral("C:\\VisualDSP");
    inputs.projectName = QStringLiteral("app");
    inputs.compilerPersonality = QStringLiteral("C:\\p\\cmp.p_c");
    inputs.fileExtensions = QStringLiteral("cpp,h,asm");
    return inputs;
}

RememberedInputs remembered(std::optional<QString> install, std::optional<QString> message,
                            std::optional<QString> analyser, std::optional<QString> compiler)
{
    return { std::move(install), std::move(message), std::move(analyser), std::move(compiler) };
}

} // namespace

class LogicTest : public QObject
{
    Q_OBJECT

private slots:
    void extensionList_data() { addExtensionRows(); }
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

    void summary()
    {
        const QString expected = QStringLiteral("Visual DSP Project:\nC:\\dsp\\app.dpj\n\n"
                                                "Norvik / Norvik++ Project Directory:\nC:\\out\n\n"
                                                "Norvik / Norvik++ Project Name:\napp\n\n"
                                                "Message Personality:\n\n\n"
                                                "Tamplate Analyser Personality:\n\n\n"
                                                "Compiler Personality:\nC:\\p\\cmp.p_c\n\n"
                                                "File Extensions:\ncpp,h,asm\n");
        QCOMPARE(conversionSummary(exampleInputs()), expected);
        QCOMPARE(expected.count(QLatin1Char('\n')), 20);
    }

    void arguments_data()
    {
        QTest::addColumn<ConversionInputs>("inputs");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("everything empty")
                << ConversionInputs() << QStringList { "", "", "", "-pn", "" };
        ConversionInputs example = exampleInputs();
        QTest::newRow("compiler personality and extensions")
                << example
                << QStringList {
                       "C:\\dsp\\app.dpj", "C:\\out", "C:\\VisualDSP", "-pn", "app", "-cp",
                       "C:\\p\\cmp.p_c",   "-ext",    "cpp,h,asm"
                   };
        example.messagePersonality = QStringLiteral("m.p_s");
        example.analyserPersonality = QStringLiteral(" ");
        example.fileExtensions.clear();
        QTest::newRow("all personalities, blank kept, no extensions")
                << example << QStringList { "C:\\dsp\\app.dpj",
                                            "C:\\out",
                                            "C:\\VisualDSP",
                                            "-pn",
                                            "app",
                                            "-mp",
                                            "m.p_s",
                                            "-ap",
                                            " ",
                                            "-cp",
                                            "C:\\p\\cmp.p_c" };
    }
    void arguments()
    {
        QFETCH(ConversionInputs, inputs);
        QFETCH(QStringList, expected);
        QCOMPARE(converterArguments(inputs), expected);
    }

    void settingsText_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("all four") << QStringList { "/vdsp", "/m.p_s", "/a.p_a", "/c.p_c" }
                                  << QByteArray("VDSP Installation Path:\n/vdsp\n\n"
                                                "Message Personality:\n/m.p_s\n\n"
                                                "Analyser Personality:\n/a.p_a\n\n"
                                                "Compiler Personality:\n/c.p_c\n\n");
        QTest::newRow("all empty")
                << QStringList { "", "", "", "" } << QByteArray("VDSP Installation Path:\n\n\n");
        QTest::newRow("compiler only") << QStringList { "", "", "", "c d" }
                                       << QByteArray("VDSP Installation Path:\n\n\n"
                                                     "Compiler Personality:\nc d\n\n");
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
        QTest::addColumn<RememberedInputs>("expected");
        QTest::newRow("empty file") << QByteArray() << RememberedInputs();
        QTest::newRow("as written")
                << QByteArray("VDSP Installation Path:\n/vdsp\n\nMessage Personality:\n/m\n\n"
                              "Analyser Personality:\n/a\n\nCompiler Personality:\n/c\n\n")
                << remembered("/vdsp", "/m", "/a", "/c");
        QTest::newRow("compiler only")
                << QByteArray("Compiler Personality:\n/c") << remembered({}, {}, {}, "/c");
        QTest::newRow("key on last line")
                << QByteArray("Message Personality:\n/m\nCompiler Personality:\n")
                << remembered({}, "/m", {}, QString());
        QTest::newRow("key on last line without line feed")
                << QByteArray("Compiler Personality:") << remembered({}, {}, {}, QString());
        QTest::newRow("later wins")
                << QByteArray("Message Personality:\n/one\nMessage Personality:\n/two\n")
                << remembered({}, "/two", {}, {});
        QTest::newRow("trailing blank or other case is no key")
                << QByteArray("Message Personality: \n/m\nmessage personality:\n/n\n")
                << RememberedInputs();
        QTest::newRow("unrecognised key, next line read as a key")
                << QByteArray("compiler personality:\nMessage Personality:\n/m\n")
                << remembered({}, "/m", {}, {});
        QTest::newRow("value equal to a key")
                << QByteArray("Message Personality:\nCompiler Personality:\n/c\n")
                << remembered({}, "Compiler Personality:", {}, {});
        QTest::newRow("other order, other lines between")
                << QByteArray("# note\nCompiler Personality:\n/c\nxx\nAnalyser Personality:\n/a\n"
                              "\nMessage Personality:\n/m\nVDSP Installation Path:\n/v\n")
                << remembered("/v", "/m", "/a", "/c");
        QTest::newRow("CR LF") << QByteArray(
                "VDSP Installation Path:\r\n/vdsp\r\n\r\nMessage Personality:\r\n"
                "/m\r\n\r\n") << remembered("/vdsp", "/m", {}, {});
        QTest::newRow("empty value line")
                << QByteArray("VDSP Installation Path:\n\n\n") << remembered(QString(), {}, {}, {});
        QTest::newRow("NUL byte kept") << QByteArray("Message Personality:\n/a\0b\n", 26)
                                       << remembered({}, QString::fromLatin1("/a\0b", 4), {}, {});
    }
    void parseSettings()
    {
        QFETCH(QByteArray, file);
        QFETCH(RememberedInputs, expected);
        const RememberedInputs actual = ::parseSettings(file);
        QCOMPARE(actual.installDirectory, expected.installDirectory);
        QCOMPARE(actual.messagePersonality, expected.messagePersonality);
        QCOMPARE(actual.analyserPersonality, expected.analyserPersonality);
        QCOMPARE(actual.compilerPersonality, expected.compilerPersonality);
    }

    void settingsRoundTrip_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("plain") << QStringList { "/v", "/m", "/a", "/c" };
        QTest::newRow("blanks and keys as values")
                << QStringList { " ", "Compiler Personality:", "VDSP Installation Path:", "x " };
        QTest::newRow("some empty") << QStringList { "", "", "/a", "" };
        QTest::newRow("non-ASCII") << QStringList { "/Prüfung", "/日本", "", "C:\\x\\" };
    }
    void settingsRoundTrip()
    {
        QFETCH(QStringList, fields);
        const RememberedInputs read = ::parseSettings(
                encodeSettings(::settingsText(fields[0], fields[1], fields[2], fields[3])));
        // An empty personality is not written, so it reads back as absent.
        const auto back = [](const std::optional<QString> &value) { return value.value_or(""); };
        QCOMPARE(read.installDirectory, std::optional<QString>(fields[0]));
        QCOMPARE(back(read.messagePersonality), fields[1]);
        QCOMPARE(back(read.analyserPersonality), fields[2]);
        QCOMPARE(back(read.compilerPersonality), fields[3]);
    }

    void settingsFileKeptOnFailure_data()
    {
        QTest::addColumn<int>("size");
        // Small writes wait in a buffer, large ones go straight to the file: both fail.
        QTest::newRow("small") << 100;
        QTest::newRow("large") << 100000;
    }
    void settingsFileKeptOnFailure()
    {
        QFETCH(int, size);
        WorkingDirectory work;
        const QByteArray old("VDSP Installation Path:\n/old\n\n");
        work.makeFile(QStringLiteral("settings.txt"), old);
        const QString text = ::settingsText(QString(size, QLatin1Char('x')), "", "", "");
#ifndef Q_OS_WIN
        // A file-size limit makes the write fail part way, as a full disk would.
        struct sigaction ignore = {}, previousAction = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previousAction);
        rlimit previousLimit;
        getrlimit(RLIMIT_FSIZE, &previousLimit);
        rlimit limit = previousLimit;
        limit.rlim_cur = 16;
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool written = writeSettingsFile(QStringLiteral("settings.txt"), text);
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        sigaction(SIGXFSZ, &previousAction, nullptr);
        QVERIFY(!written);
        QCOMPARE(work.read(QStringLiteral("settings.txt")), old);
        QCOMPARE(QDir(work.path()).entryList(QDir::Files), QStringList { "settings.txt" });
#else
        Q_UNUSED(text);
#endif
        // A directory in the file's place is left alone.
        work.makeDirectory(QStringLiteral("d/settings.txt"));
        QVERIFY(!writeSettingsFile(QStringLiteral("d/settings.txt"), QStringLiteral("x")));
        QVERIFY(QFileInfo(work.path(QStringLiteral("d/settings.txt"))).isDir());
    }

    void outputLines_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("rest");
        QTest::newRow("nothing") << QByteArrayList {} << QStringList {} << QString();
        QTest::newRow("one line") << QByteArrayList { "a\n" } << QStringList { "a" } << QString();
        QTest::newRow("empty lines kept")
                << QByteArrayList { "\n\na\n" } << QStringList { "", "", "a" } << QString();
        QTest::newRow("split line joined")
                << QByteArrayList { "hal", "f and ", "half\nnext" }
                << QStringList { "half and half" } << QStringLiteral("next");
        QTest::newRow("CR LF") << QByteArrayList { "a\r\nb\r\n" } << QStringList { "a", "b" }
                               << QString();
        QTest::newRow("CR LF split between chunks")
                << QByteArrayList { "a\r", "\nb" } << QStringList { "a" } << QStringLiteral("b");
        QTest::newRow("lone CR kept")
                << QByteArrayList { "a\rb\n" } << QStringList { "a\rb" } << QString();
        QTest::newRow("Latin-1 and NUL")
                << QByteArrayList { QByteArray("\xe9\0x\n", 4) }
                << QStringList { QString::fromLatin1("\xe9\0x", 3) } << QString();
        QTest::newRow("markup stays text")
                << QByteArrayList { "<b>x</b>\n#include <stdio.h>\n" }
                << QStringList { "<b>x</b>", "#include <stdio.h>" } << QString();
    }
    void outputLines()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, lines);
        QFETCH(QString, rest);
        OutputLines output;
        QStringList actual;
        for (const QByteArray &chunk : chunks)
            actual += output.take(chunk);
        QCOMPARE(actual, lines);
        QCOMPARE(output.takeRest(), rest);
        QCOMPARE(output.takeRest(), QString());
    }

    void longLinesAreCut_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("rest");
        const QString note = QStringLiteral(" ... (%1 more characters not shown)");
        QTest::newRow("at the limit")
                << QByteArrayList { "0123456789\n" } << QStringList { "0123456789" } << QString();
        QTest::newRow("at the limit, CR LF")
                << QByteArrayList { "0123456789\r\n" } << QStringList { "0123456789" } << QString();
        QTest::newRow("one more") << QByteArrayList { "0123456789a\nb\n" }
                                  << QStringList { "0123456789" + note.arg(1), "b" } << QString();
        QTest::newRow("one more, CR LF") << QByteArrayList { "0123456789a\r\n" }
                                         << QStringList { "0123456789" + note.arg(1) } << QString();
        QTest::newRow("over chunks")
                << QByteArrayList { "01234", "56789abc", "def", "\r", "\nnext\n" }
                << QStringList { "0123456789" + note.arg(6), "next" } << QString();
        QTest::newRow("unfinished") << QByteArrayList { "0123456789", "0123456789" }
                                    << QStringList {} << "0123456789" + note.arg(10);
    }
    void longLinesAreCut()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, lines);
        QFETCH(QString, rest);
        OutputLines output(10);
        QStringList actual;
        for (const QByteArray &chunk : chunks)
            actual += output.take(chunk);
        QCOMPARE(actual, lines);
        QCOMPARE(output.takeRest(), rest);
    }

    void toBackslashes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("forward") << "C:/dsp/proj"
                                 << "C:\\dsp\\proj";
        QTest::newRow("already backslashes") << "C:\\dsp\\proj"
                                             << "C:\\dsp\\proj";
        QTest::newRow("mixed, trailing") << "/a\\b/ C/"
                                         << "\\a\\b\\ C\\";
        QTest::newRow("empty") << ""
                               << "";
    }
    void toBackslashes()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(Tarnwell::toBackslashes(path), expected);
    }
};

QTEST_MAIN(LogicTest)
#include "tst_logic.moc"

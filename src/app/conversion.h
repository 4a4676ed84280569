#pragma once

#include <QString>
#include <QStringList>

#include <array>

// What the user chose over the wizard's pages, as plain values.
struct ConversionInputs
{
    QString projectFile;
    QString destinationDirectory;
    QString installDirectory;
    QString projectName;
    QString messagePersonality;
    QString analyserPersonality;
    QString compilerPersonality;
    QString fileExtensions;
};

// The fixed extensions offered on the extensions page, in the order in which they
// enter the list (not alphabetical: cpp always comes first).
inline constexpr std::array<const char *, 8> fixedExtensions
        = { "cpp", "cc", "cxx", "c", "h", "hh", "hpp", "hxx" };

// The comma-separated extension list: each checked fixed extension followed by a
// comma, then the custom text as typed, then one trailing comma removed (one only).
// `checked` follows the order of fixedExtensions.
QString fileExtensionList(const std::array<bool, fixedExtensions.size()> &checked,
                          const QString &customExtensions);

// The summary shown on the last page before a run; it ends with a line feed.
QString conversionSummary(const ConversionInputs &inputs);

// The converter's arguments (without the program name). Empty texts are passed for
// the five leading arguments; the optional pairs only when their value is not empty.
QStringList converterArguments(const ConversionInputs &inputs);

// `text` without its line feeds and carriage returns.
QString withoutLineBreaks(QString text);

// Whether `text` holds a line feed or a carriage return.
inline bool hasLineBreak(QStringView text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// The converter's program file: on Windows only the program itself, never a batch
// file of that name (cmd.exe would take the user's text in its arguments for
// commands), nor anything PATHEXT would add.
#ifdef Q_OS_WIN
inline constexpr char converterProgram[] = "Movrak.exe";
#else
inline constexpr char converterProgram[] = "Movrak";
#endif

// The converter's full path, found in the absolute folders of `searchPath` (PATH's
// value) only, in their order: a relative entry (".", an empty one) would find a
// converter lying in the working directory. Empty when none is found.
QString findConverter(const QString &searchPath);

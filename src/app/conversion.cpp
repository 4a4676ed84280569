#include "conversion.h"

#include <QDir>
#include <QStandardPaths>

QString fileExtensionList(const std::array<bool, fixedExtensions.size()> &checked,
                          const QString &customExtensions)
{
    QString list;
    for (std::size_t i = 0; i < fixedExtensions.size(); ++i) {
        if (checked[i])
            list += QLatin1String(fixedExtensions[i]) + QLatin1Char(',');
    }
    list += customExtensions;
    if (list.endsWith(QLatin1Char(',')))
        list.chop(1);
    return list;
}

QString conversionSummary(const ConversionInputs &inputs)
{
    return QLatin1String("Visual DSP Project:\n") + inputs.projectFile
            + QLatin1String("\n\nNorvik / Norvik++ Project Directory:\n")
            + inputs.destinationDirectory + QLatin1String("\n\nNorvik / Norvik++ Project Name:\n")
            + inputs.projectName + QLatin1String("\n\nMessage Personality:\n")
            + inputs.messagePersonality + QLatin1String("\n\nTamplate Analyser Personality:\n")
            + inputs.analyserPersonality + QLatin1String("\n\nCompiler Personality:\n")
            + inputs.compilerPersonality + QLatin1String("\n\nFile Extensions:\n")
            + inputs.fileExtensions + QLatin1Char('\n');
}

QStringList converterArguments(const ConversionInputs &inputs)
{
    QStringList arguments = { inputs.projectFile, inputs.destinationDirectory,
                              inputs.installDirectory, QStringLiteral("-pn"), inputs.projectName };
    const auto addOptional = [&arguments](const char *option, const QString &value) {
        if (!value.isEmpty())
            arguments << QLatin1String(option) << value;
    };
    addOptional("-mp", inputs.messagePersonality);
    addOptional("-ap", inputs.analyserPersonality);
    addOptional("-cp", inputs.compilerPersonality);
    addOptional("-ext", inputs.fileExtensions);
    return arguments;
}

QString withoutLineBreaks(QString text)
{
    text.remove(QLatin1Char('\n'));
    text.remove(QLatin1Char('\r'));
    return text;
}

QString findConverter(const QString &searchPath)
{
    QStringList folders;
    for (const QString &folder : searchPath.split(QDir::listSeparator(), Qt::SkipEmptyParts)) {
#ifdef Q_OS_WIN
        // "C:" or "C:tools" passes for absolute in Qt but names a folder relative to the
        // drive's current one (the working directory); "\tools" hangs on the current
        // drive. Only "X:\..." and UNC paths name one folder.
        const bool absolute
                = (folder.size() >= 3 && folder.at(1) == QLatin1Char(':')
                   && (folder.at(2) == QLatin1Char('\\') || folder.at(2) == QLatin1Char('/')))
                || folder.startsWith(QLatin1String("\\\\"))
                || folder.startsWith(QLatin1String("//"));
#else
        const bool absolute = QDir::isAbsolutePath(folder);
#endif
        if (absolute)
            folders << folder;
    }
    // With folders given, Qt looks in them alone, and on Windows a name that already
    // ends in .exe gets no other suffix.
    return folders.isEmpty()
            ? QString()
            : QStandardPaths::findExecutable(QLatin1String(converterProgram), folders);
}

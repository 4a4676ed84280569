#include "commandline.h"

#include "conversion.h"
#include "pathfields.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QUrl>

namespace {

// A URL names a scheme before "://"; a scheme of one letter is a Windows drive.
bool isUrl(const QString &argument)
{
    const QString scheme = QUrl(argument).scheme();
    return scheme.size() > 1 && QStringView(argument).mid(scheme.size()).startsWith(u"://");
}

CommandLine refused(const QString &reason)
{
    return { CommandLine::Action::Refuse, QString(),
             QStringLiteral("tarnwell: %1\nTry 'tarnwell --help'.\n").arg(reason) };
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
            "CommandLine",
            "Turns a VisualDSP project into a Norvik / Norvik++ analyser project: a wizard "
            "that runs the converter Movrak, which must be on the search path."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(
            QStringLiteral("project"),
            QCoreApplication::translate("CommandLine",
                                        "The VisualDSP project file (.dpj) to start with, "
                                        "as a path or a file URL."),
            QStringLiteral("[PROJECT.dpj]"));

    // As Qt's own QCommandLineParser::process(): a mistake first, then help, then version.
    if (!parser.parse(arguments))
        return refused(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        return { CommandLine::Action::PrintHelp, QString(), parser.helpText() };
    if (parser.isSet(version))
        return { CommandLine::Action::PrintVersion, QString(),
                 QStringLiteral("tarnwell " TARNWELL_VERSION "\n") };

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return refused(QCoreApplication::translate("CommandLine", "one project file at most."));
    if (positional.isEmpty())
        return {};
    const QString &project = positional.first();
    // Taken like a file dropped on the field: a URL that names no local file is refused,
    // and the wizard starts without it (a desktop that passed it shows no terminal).
    // So is a name with a line break, which the field (one line) would make another.
    const QString path = isUrl(project) ? localPathOfUrl(QUrl(project)) : project;
    if (path.isEmpty() || hasLineBreak(path))
        return { CommandLine::Action::OpenWizard, QString(),
                 QStringLiteral("tarnwell: not a usable local file, ignored: %1\n").arg(project) };
    return { CommandLine::Action::OpenWizard, path, QString() };
}

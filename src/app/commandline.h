#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of the program.
struct CommandLine
{
    enum class Action { OpenWizard, PrintHelp, PrintVersion, Refuse };

    Action action = Action::OpenWizard;
    // The project file the wizard starts with; empty when none was given.
    QString projectFile;
    // The help or version text (for standard output), or why the command line is
    // refused or an argument ignored (for standard error); ends in a line break.
    QString text;
};

// Reads `arguments` (the program's name first, Qt's own options already taken out):
// `tarnwell [PROJECT.dpj]`, where the project may also be given as a file URL, as a
// desktop passes it; --help and --version.
CommandLine parseCommandLine(const QStringList &arguments);

#include "commandline.h"
#include "tarnwell.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

int answer(const CommandLine &commandLine)
{
    const bool refused = commandLine.action == CommandLine::Action::Refuse;
    std::fputs(commandLine.text.toLocal8Bit().constData(), refused ? stderr : stdout);
    return refused ? EXIT_FAILURE : EXIT_SUCCESS;
}

bool answeredWithoutWindow(const CommandLine &commandLine)
{
    return commandLine.action == CommandLine::Action::PrintHelp
            || commandLine.action == CommandLine::Action::PrintVersion;
}

} // namespace

int main(int argc, char **argv)
{
    // Also the window's X11 class, which the desktop entry names in StartupWMClass;
    // otherwise it would follow the name the program file was started by.
    QCoreApplication::setApplicationName(QStringLiteral("tarnwell"));

    // Help and version need no window system: they are answered before one is asked
    // for, so that they work without a display. (Qt's own options, such as -platform,
    // are only taken out by QApplication: with one of them, the answer waits for it.)
    QStringList given;
    for (int i = 0; i < argc; ++i)
        given << QString::fromLocal8Bit(argv[i]);
    if (answeredWithoutWindow(parseCommandLine(given))) {
        QCoreApplication application(argc, argv);
        return answer(parseCommandLine(QCoreApplication::arguments()));
    }

#ifdef SIGXFSZ
    // Under a file-size limit, a write past it ends the program by default: it is to
    // fail like any other, so that settings.txt is left as the write leaves it.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication application(argc, argv);
    // Names the desktop entry, so that a Wayland compositor matches the window to it.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARNWELL_APP_ID));
    const CommandLine commandLine = parseCommandLine(QCoreApplication::arguments());
    if (commandLine.action != CommandLine::Action::OpenWizard)
        return answer(commandLine);
    std::fputs(commandLine.text.toLocal8Bit().constData(), stderr);

    Tarnwell wizard;
    if (!commandLine.projectFile.isEmpty())
        wizard.setProjectFile(commandLine.projectFile);
    wizard.show();
    return application.exec();
}

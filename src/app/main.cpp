#include "commandline.h"
#include "tarnwell.h"

#include <QApplication>
#include <QMessageBox>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
// A GUI program has no console of its own: what it prints goes nowhere unless its
// output is redirected (a pipe, a file: left as they are) or it joins the console of
// the terminal it was typed in. Started from Explorer there is none.
bool joinTerminal()
{
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output && output != INVALID_HANDLE_VALUE && ::GetFileType(output) != FILE_TYPE_UNKNOWN)
        return true;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS))
        return false;
    return std::freopen("CONOUT$", "w", stdout) && std::freopen("CONOUT$", "w", stderr);
}

bool hasTerminal()
{
    static const bool joined = joinTerminal();
    return joined;
}
#else
bool hasTerminal()
{
    return true;
}
#endif

int answer(const CommandLine &commandLine)
{
    const bool refused = commandLine.action == CommandLine::Action::Refuse;
    if (hasTerminal()) {
        std::fputs(commandLine.text.toLocal8Bit().constData(), refused ? stderr : stdout);
        std::fflush(refused ? stderr : stdout);
    } else { // in a box, for which main() made a QApplication
        QMessageBox box(refused ? QMessageBox::Warning : QMessageBox::Information,
                        QStringLiteral("Tarnwell"), commandLine.text.trimmed());
        box.exec();
    }
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
        if (!hasTerminal()) { // started from Explorer: the answer shows in a box
            QApplication application(argc, argv);
            return answer(parseCommandLine(QCoreApplication::arguments()));
        }
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

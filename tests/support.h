#pragma once

// Shared by the tests: a temporary working directory, a search path with converters
// on it, answering modal dialogs, and a shown wizard to drive.

#include "app/converterrun.h"
#include "app/tarnwell.h"
#include "form/tarnwellpage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <functional>

#include <csignal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

const QString firstLine = QStringLiteral("Initialising Project Conversion ...\n");
const QString successLine = QStringLiteral("Project Converted Successfully!");
const QString notExecutedLine("Project Conversion could not be executed: Please ensure Movrak.exe "
                              "is set on the path.\n");

// A fresh temporary directory that is the working directory while the object lives;
// settings.txt is read and written there, and converters start there.
class WorkingDirectory
{
public:
    WorkingDirectory() : previous(QDir::currentPath()) { QDir::setCurrent(directory.path()); }
    ~WorkingDirectory() { QDir::setCurrent(previous); }

    QString path(const QString &name) const { return directory.filePath(name); }

    QString makeDirectory(const QString &name) const
    {
        QDir(directory.path()).mkpath(name);
        return path(name);
    }

    QString makeFile(const QString &name, const QByteArray &bytes = QByteArray()) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

    QByteArray read(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir directory;
    QString previous;
};

// Sets an environment variable for the object's life (the stand-in converter's
// switches, the search path).
class Environment
{
public:
    Environment(const char *name, const QByteArray &value) : name(name), previous(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~Environment() { qputenv(name, previous); }

private:
    const char *name;
    QByteArray previous;
};

// Puts `directory` first on PATH for the object's life.
inline Environment converterFirstOnPath(const QString &directory)
{
    return Environment("PATH",
                       QFile::encodeName(QDir::toNativeSeparators(directory))
                               + QDir::listSeparator().toLatin1() + qgetenv("PATH"));
}

const QString standInDirectory = QStringLiteral(TARNWELL_CONVERTER_DIR);

// Writes an executable shell script named like the converter into `directory`.
inline void writeScriptConverter(const QString &directory, const QByteArray &body)
{
    QDir().mkpath(directory);
    QFile file(QDir(directory).filePath(QLatin1String(converterProgram)));
    if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n" + body + '\n') < 0)
        qFatal("cannot write the script converter");
    file.setPermissions(file.permissions() | QFile::ExeOwner);
}

// Answers a modal dialog of class W as soon as it shows (and records its texts), so
// that the test, blocked in the dialog's exec(), goes on.
template<class W> class AnswerWhenShown : public QObject
{
public:
    explicit AnswerWhenShown(std::function<void(W *)> answer) : answer(std::move(answer))
    {
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = qobject_cast<W *>(watched);
        // After the show has been handled: exec() has entered its loop by then.
        if (event->type() == QEvent::Show && window && window->isWindow())
            QTimer::singleShot(0, this, [this, window = QPointer<W>(window)] {
                if (window)
                    answer(window);
            });
        return false;
    }

private:
    std::function<void(W *)> answer;
};

inline QString logText(Tarnwell &wizard)
{
    return wizard.DetailsText->toPlainText();
}

inline void pressNext(Tarnwell &wizard)
{
    wizard.button(QWizard::NextButton)->click();
}

// Fills Page0 with existing paths in `work` and moves on to Page3.
inline void goToLastPage(Tarnwell &wizard, const WorkingDirectory &work)
{
    wizard.VDSPProjectEdit->setText(work.makeFile(QStringLiteral("app.dpj")));
    wizard.VDSPInstallDirEdit->setText(work.makeDirectory(QStringLiteral("vdsp")));
    wizard.NorvikProjectEdit->setText(work.makeDirectory(QStringLiteral("out")));
    wizard.NorvikNameEdit->setText(QStringLiteral("app"));
    for (int page = 0; page < 3; ++page)
        pressNext(wizard);
    QCOMPARE(wizard.currentPage(), wizard.Page3);
}

// Presses Finish and waits until the run's outcome is reported.
inline bool finishAndWait(Tarnwell &wizard, int timeoutMs = 30000)
{
    QSignalSpy reported(&wizard, &Tarnwell::runReported);
    wizard.button(QWizard::FinishButton)->click();
    return reported.wait(timeoutMs);
}

// Whether a process lives (a zombie, which only waits to be reaped, does not).
inline bool processLives(qint64 pid)
{
    if (pid <= 0) // kill(0, 0) asks about our own group
        return false;
#ifdef Q_OS_WIN
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    DWORD code = 0;
    const bool lives = process && ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    if (process)
        ::CloseHandle(process);
    return lives;
#else
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return ::kill(pid_t(pid), 0) == 0;
    const QByteArray fields = stat.readAll();
    return fields.mid(fields.lastIndexOf(')') + 2, 1) != "Z";
#endif
}

// Each test of the wizard starts in a fresh working directory with a wizard shown, and
// must leave no window behind.
class WizardTestCase : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        work = std::make_unique<WorkingDirectory>();
        wizard = std::make_unique<Tarnwell>();
        wizard->show();
    }
    void cleanup()
    {
        wizard.reset();
        work.reset();
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window was left behind");
    }

protected:
    // Stops a run as a user may: Cancel, the window closed, the wizard's end, Back, or
    // Back and Next to a new summary.
    void stop(const QString &how)
    {
        if (how == "cancel")
            wizard->button(QWizard::CancelButton)->click();
        else if (how == "close")
            wizard->close();
        else if (how == "destroy")
            wizard.reset();
        else
            wizard->back();
        if (how.endsWith("summary"))
            pressNext(*wizard);
    }

    std::unique_ptr<WorkingDirectory> work;
    std::unique_ptr<Tarnwell> wizard;
};

#pragma once

// Helpers shared by the tests: a temporary working directory, a search path with
// fake converters on it, answering modal dialogs, and driving the wizard.

#include "app/tarnwell.h"
#include "form/tarnwellpage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <functional>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/types.h>
#endif

// A fresh temporary directory that is the working directory while the object lives;
// settings.txt is read and written there.
class WorkingDirectory
{
public:
    WorkingDirectory() : previous(QDir::currentPath()) { QDir::setCurrent(directory.path()); }
    ~WorkingDirectory() { QDir::setCurrent(previous); }

    QString path(const QString &name = QString()) const
    {
        return name.isEmpty() ? directory.path() : directory.filePath(name);
    }

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

// Puts a directory first on PATH (or makes it the only entry) for the object's life.
class SearchPath
{
public:
    enum Mode { Prepend, Only };

    explicit SearchPath(const QString &directory, Mode mode = Prepend) : previous(qgetenv("PATH"))
    {
        const QByteArray first = QFile::encodeName(QDir::toNativeSeparators(directory));
        qputenv("PATH", mode == Only ? first : first + QDir::listSeparator().toLatin1() + previous);
    }
    ~SearchPath() { qputenv("PATH", previous); }

private:
    QByteArray previous;
};

// Writes an executable shell script named like the converter into `directory`.
inline QString writeFakeConverter(const QString &directory, const QByteArray &body)
{
    QDir().mkpath(directory);
    QFile file(QDir(directory).filePath(QLatin1String(converterProgram)));
    if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n" + body + "\n") < 0)
        qFatal("cannot write the fake converter");
    file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeUser);
    return file.fileName();
}

// The folder of the stand-in converter that the build makes.
inline QString standInConverterDirectory()
{
    return QStringLiteral(TARNWELL_CONVERTER_DIR);
}

// Calls `answer` with the first visible window of class W (and, if given, object
// name) once it shows; for modal dialogs, which block the test's own code.
template<class W> class WhenShown : public QObject
{
public:
    explicit WhenShown(std::function<void(W *)> answer, const QString &objectName = QString())
        : answer(std::move(answer)), objectName(objectName)
    {
        connect(&poll, &QTimer::timeout, this, [this] { look(); });
        poll.start(10);
    }

    int answered = 0;

private:
    void look()
    {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            auto *found = qobject_cast<W *>(window);
            if (found && found->isVisible()
                && (objectName.isEmpty() || found->objectName() == objectName)) {
                // An answer that does not close the window would otherwise be tried
                // for ever: after three tries the window is closed and the test fails
                // on `answered`.
                if (++answered > 3)
                    found->close();
                else
                    answer(found);
                return;
            }
        }
    }

    std::function<void(W *)> answer;
    QString objectName;
    QTimer poll;
};

// Records every message box that shows and closes it, as a user would.
struct MessageBoxes
{
    QStringList seen;
    WhenShown<QMessageBox> closer { [this](QMessageBox *box) {
        seen << box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
    } };
};

// The wizard's state as the tests look at it.
inline bool nextEnabled(Tarnwell &wizard)
{
    return wizard.button(QWizard::NextButton)->isEnabled();
}

inline QColor textColour(const QLineEdit *field)
{
    return field->palette().color(QPalette::Text);
}

// The process of the wizard's latest run.
inline QProcess *latestConverter(Tarnwell &wizard)
{
    const auto processes = wizard.findChildren<QProcess *>();
    return processes.isEmpty() ? nullptr : processes.last();
}

inline void pressNext(Tarnwell &wizard)
{
    wizard.button(QWizard::NextButton)->click();
}

// Fills Page0 with existing paths under `work` and moves on to Page3.
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

// Presses Finish and waits for the end of the run, which writes settings.txt.
inline void finishAndWait(Tarnwell &wizard, const WorkingDirectory &work, int timeoutMs = 20000)
{
    QFile::remove(work.path(QStringLiteral("settings.txt")));
    wizard.button(QWizard::FinishButton)->click();
    QVERIFY(!wizard.button(QWizard::FinishButton)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(work.path(QStringLiteral("settings.txt"))), timeoutMs);
}

inline QCheckBox *extensionCheck(Tarnwell &wizard, const QString &extension)
{
    return wizard.findChild<QCheckBox *>(extension + QLatin1String("Check"));
}

// The extension table: which boxes are checked, the custom text, the list it gives.
inline void addExtensionRows()
{
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<QString>("custom");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing") << QStringList() << QString() << QString();
    QTest::newRow("all eight") << QStringList { "hxx", "hpp", "hh", "h", "c", "cxx", "cc", "cpp" }
                               << QString() << QStringLiteral("cpp,cc,cxx,c,h,hh,hpp,hxx");
    QTest::newRow("trailing comma")
            << QStringList { "hxx" } << QStringLiteral("asm,s,") << QStringLiteral("hxx,asm,s");
    QTest::newRow("one comma removed only")
            << QStringList { "hxx" } << QStringLiteral("asm,,") << QStringLiteral("hxx,asm,");
    QTest::newRow("blank kept") << QStringList { "hxx" } << QStringLiteral(" s")
                                << QStringLiteral("hxx, s");
    QTest::newRow("custom only") << QStringList() << QStringLiteral("inc") << QStringLiteral("inc");
    QTest::newRow("cpp first") << QStringList { "cc", "cpp" } << QString()
                               << QStringLiteral("cpp,cc");
}

// Whether a process of this id still exists (a zombie counts as existing).
inline bool processExists(qint64 pid)
{
#ifndef Q_OS_WIN
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
#else
    Q_UNUSED(pid);
    return false;
#endif
}

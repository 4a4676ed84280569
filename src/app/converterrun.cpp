#include "converterrun.h"

#include <utility>

#ifdef Q_OS_UNIX
#include <csignal>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <tlhelp32.h>
#endif

namespace {

// Kills the converter and everything it started: on POSIX the process group it leads,
// on Windows the job it was put in. A helper it started (a compiler, a script) would
// otherwise live on.
//
// Trap: process ids are reused. The group's id is the converter's, and it is ours only
// while the converter has not been reaped (a zombie still holds it); QProcess reaps it
// before it reports the end, and from then on the id may name another user's program.
// So a process that is no longer running is never signalled. (A job is a handle of
// ours, not an id, but it too is let go once the converter has ended.)
void killAll(QProcess *process, qint64 processGroup, void *job)
{
    if (process->state() == QProcess::NotRunning)
        return;
#ifdef Q_OS_UNIX
    if (processGroup > 0)
        ::kill(-static_cast<pid_t>(processGroup), SIGKILL);
#else
    Q_UNUSED(processGroup);
#endif
#ifdef Q_OS_WIN
    if (job)
        ::TerminateJobObject(job, 1);
#else
    Q_UNUSED(job);
#endif
    process->kill();
}

#ifdef Q_OS_WIN
// Puts the process, started suspended, into a new job, and lets it run. Whatever it
// starts from then on is in the job too; TerminateJobObject() ends them all. Without a
// job (the system refuses one) it runs all the same, as a lone process. QProcess keeps
// the main thread's handle to itself, so the thread is found by the process's id: a
// process that has not run yet has that one thread only. `resumed` tells whether it
// runs now.
void *runInJob(qint64 processId, bool *resumed)
{
    *resumed = false;
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    HANDLE process = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId));
    if (job && !(process && ::AssignProcessToJobObject(job, process))) {
        ::CloseHandle(job);
        job = nullptr;
    }
    if (process)
        ::CloseHandle(process);
    HANDLE threads = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(threads, &entry); more;
         more = ::Thread32Next(threads, &entry)) {
        if (entry.th32OwnerProcessID != DWORD(processId))
            continue;
        if (HANDLE thread = ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
            *resumed = ::ResumeThread(thread) != DWORD(-1) || *resumed;
            ::CloseHandle(thread);
        }
    }
    if (threads != INVALID_HANDLE_VALUE)
        ::CloseHandle(threads);
    return job;
}

void closeJob(void *job)
{
    if (job)
        ::CloseHandle(job);
}
#else
void closeJob(void *) { }
#endif

} // namespace

ConverterRun::ConverterRun(QObject *parent) : QObject(parent) { }

ConverterRun::~ConverterRun()
{
    if (!converter)
        return;
    converter->disconnect(this);
    killAll(converter, processGroup, job);
    closeJob(job);
    converter->waitForFinished();
    delete converter;
}

void ConverterRun::start(const QString &program, const QStringList &arguments)
{
    stop();
    currentOutcome = Outcome::Running;

    converter = new QProcess(this);
    connect(converter, &QProcess::readyReadStandardOutput, this, &ConverterRun::readOutput);
    connect(converter, &QProcess::finished, this, &ConverterRun::converterFinished);
    connect(converter, &QProcess::errorOccurred, this, &ConverterRun::converterError);
    converter->setStandardErrorFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
    // The converter leads a process group of its own, so that stopping it reaches
    // everything it starts. This runs in the child between fork and exec.
    converter->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
#ifdef Q_OS_WIN
    // Started suspended, so that it is in its job before it can start anything.
    converter->setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->flags |= CREATE_SUSPENDED;
    });
#endif
    if (program.isEmpty()) {
        converterError(QProcess::FailedToStart);
        return;
    }
    converter->start(program, arguments);
    // The group is known from the moment the process exists, not only once its start
    // has been reported: a stop before that (a busy event loop) still reaches its
    // helpers. The parent makes the group too (as shells do), so that it exists even
    // before the child has run its own setpgid().
    processGroup = converter->processId();
#ifdef Q_OS_UNIX
    if (processGroup > 0)
        ::setpgid(static_cast<pid_t>(processGroup), static_cast<pid_t>(processGroup));
#endif
#ifdef Q_OS_WIN
    bool resumed = true;
    if (processGroup > 0)
        job = runInJob(processGroup, &resumed);
    // A converter that cannot be let run would hold the run up for ever: it ends as
    // one that did not complete.
    if (!resumed)
        converter->kill();
#endif
}

void ConverterRun::stop()
{
    if (converter) {
        // Detached before it is killed: its end, its last output and any error it
        // reports later go nowhere. It stays a child of this object until the event
        // loop has reaped it, so that it never outlives the wizard as a zombie.
        QProcess *stopped = std::exchange(converter, nullptr);
        stopped->disconnect(this);
        if (stopped->state() == QProcess::NotRunning)
            stopped->deleteLater();
        else
            connect(stopped, &QProcess::finished, stopped, &QObject::deleteLater);
        killAll(stopped, std::exchange(processGroup, 0), job);
        closeJob(std::exchange(job, nullptr));
    }
    output = OutputLines();
    lines.clear();
    currentOutcome = Outcome::NotStarted;
}

QStringList ConverterRun::takeLines()
{
    return std::exchange(lines, QStringList());
}

void ConverterRun::readOutput()
{
    const QStringList read = output.take(converter->readAllStandardOutput());
    if (read.isEmpty())
        return;
    lines += read;
    emit linesReady();
}

void ConverterRun::converterFinished()
{
    // Reaped: the id is no longer the converter's. Helpers it left behind live on, as
    // they would after a shell ran it.
    processGroup = 0;
    closeJob(std::exchange(job, nullptr));
    readOutput();
    const QString lastLine = output.takeRest();
    if (!lastLine.isEmpty()) {
        lines << lastLine;
        emit linesReady();
    }
    if (converter->exitStatus() != QProcess::NormalExit)
        currentOutcome = Outcome::EndedAbnormally;
    else
        currentOutcome = converter->exitCode() == 0 ? Outcome::Succeeded : Outcome::Failed;
    emit ended();
}

void ConverterRun::converterError(QProcess::ProcessError error)
{
    // A crash or a kill also reports an error; finished() tells of those.
    if (error != QProcess::FailedToStart)
        return;
    currentOutcome = Outcome::NotStarted;
    emit failedToStart();
}

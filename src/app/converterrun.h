#pragma once

#include "outputlines.h"

#include <QObject>
#include <QProcess>
#include <QStringList>

// One run of the converter at a time, without widgets: starts the program, cuts its
// standard output into lines, and stops and reaps it.
//
// A run that is replaced or stopped is detached first: none of its output, its end or
// its errors can reach the run that follows, however late they arrive. Stopping kills
// everything the converter started as well (on POSIX it leads a process group of its
// own, on Windows it runs in a job object), so no helper of a stopped converter lives on. A
// converter that has ended on its own is never signalled again: its id may belong to another
// program by then.
class ConverterRun : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Running, NotStarted, Succeeded, Failed, EndedAbnormally };
    Q_ENUM(Outcome)

    explicit ConverterRun(QObject *parent = nullptr);
    // Stops a converter that still runs and waits until it is gone.
    ~ConverterRun() override;

    // Stops any earlier run and starts `program`; an empty program name is a start
    // failure. Standard error goes nowhere: it is neither shown nor kept in memory.
    void start(const QString &program, const QStringList &arguments);

    // Stops the current run, if any: no signal of it is emitted from here on.
    void stop();

    // The complete lines read since the last call.
    QStringList takeLines();

    Outcome outcome() const { return currentOutcome; }
    // The process of the current run; null before the first run and after stop().
    QProcess *process() const { return converter; }

signals:
    // Complete lines are waiting in takeLines().
    void linesReady();
    // The program could not be started (never ran, or was not found).
    void failedToStart();
    // The run is over: outcome() tells how. Every line has been made ready before.
    void ended();

private:
    void readOutput();
    void converterFinished();
    void converterError(QProcess::ProcessError error);

    QProcess *converter = nullptr;
    // The converter's process id, which is also its process group's (POSIX).
    qint64 processGroup = 0;
    // The job object that holds the converter and what it starts (Windows).
    void *job = nullptr;
    OutputLines output;
    QStringList lines;
    Outcome currentOutcome = Outcome::NotStarted;
};

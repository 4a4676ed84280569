// Streaming benchmark for the details log, and a start-up benchmark.
//
//   tarnwell_bench run [--repeat R] [--sizes 10000,100000,1000000]
//                      [--modes buffered,line,trickle,mixed,paths]
//                      (a mode is how the lines are written, buffered, a line per write
//                      or trickling, and their shape after a dash: "line-paths"; mixed:
//                      lines of 12 to 200 bytes; paths: Windows paths of 82 to 280 bytes,
//                      most wider than the log; scripts: Cyrillic, Greek, Japanese and
//                      Hebrew lines; alone, a shape is written buffered; mode
//                      long, not run unless asked: one line of that many bytes)
//   tarnwell_bench case <wizard|plaintext|process> <lines> <buffered|line|trickle|mixed|long>
//   tarnwell_bench startup <wizard|peer>
//   tarnwell_bench replace [small lines] [big lines]
//   tarnwell_bench completion [--entries N] [--repeat R]
//
// `run` starts one process per case (so that peak memory is that case's own), repeats
// each case R times and prints the medians as a table, with the ratios of the wizard
// to a QPlainTextEdit fed the same output. `case` runs one case and prints one line of
// results. The converter is the stand-in built with the project, told through its
// environment to write N numbered lines of 80 bytes. `completion` types a path, one
// key every 100 ms, into the project file field while its folder holds N entries
// (100,000 unless told), and prints the longest stall of the event loop after each key.

#include "app/tarnwell.h"
#include "form/tarnwellpage.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWizard>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include <dlfcn.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int tickMs = 10;
const QString successLine = QStringLiteral("Project Converted Successfully!");

struct Result
{
    double seconds = 0; // from Finish (or start) to the last line shown
    double maxStallMs = 0; // longest lateness of a 10 ms timer
    double p99StallMs = 0; // its 99th percentile
    double peakMegabytes = 0; // peak resident memory of the process
    double cpuSeconds = 0; // CPU time of the GUI process during the run
    double scrollMs = 0; // longest stall while the log is scrolled through afterwards
    bool linesInOrder = false;
    double replacedMegabytes = 0; // resident memory once the log is replaced (cleared)
    double maxOwnStallMs = 0; // longest part of a lateness the GUI thread can have caused, or -1
};

double largest(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

double threadCpuMs()
{
    timespec run {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &run);
    return run.tv_sec * 1e3 + run.tv_nsec / 1e6;
}

// The CPU time this thread has spent in poll(), where the event loop waits for events.
thread_local double pollTimeMs = 0;

} // namespace

// Every poll() of the program (the event loop's wait among them) comes here, and is timed:
// on this virtual machine the kernel can run for milliseconds in it while the thread
// wakes (a trace caught it spinning in hrtimer_cancel() until another virtual core, taken
// away by the host, finished the timer), and that time counts as the thread's.
extern "C" int poll(pollfd *descriptors, nfds_t count, int timeoutMs)
{
    using Poll = int (*)(pollfd *, nfds_t, int);
    static const auto system = reinterpret_cast<Poll>(dlsym(RTLD_NEXT, "poll"));
    const double before = threadCpuMs();
    const int result = system(descriptors, count, timeoutMs);
    pollTimeMs += threadCpuMs() - before;
    return result;
}

namespace {

// How long the calling thread has run (to the nanosecond: the scheduler's own count lags
// behind while the thread runs), of that how long in poll(), and how long it has waited
// for a core while it could have run (the scheduler's count, if the kernel keeps one), in
// milliseconds.
struct ThreadTimes
{
    bool known = false;
    double runMs = 0;
    double pollMs = 0;
    double waitMs = 0;

    static ThreadTimes now()
    {
        ThreadTimes times;
        times.runMs = threadCpuMs();
        times.pollMs = pollTimeMs;
        QFile file(QStringLiteral("/proc/thread-self/schedstat"));
        if (file.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = file.readAll().split(' ');
            const qint64 waitNs = fields.value(1).toLongLong(&times.known);
            times.waitMs = waitNs / 1e6;
        }
        return times;
    }
};

// Measures how late a 10 ms timer fires: how long the event loop was kept from it.
//
// It also tells the part of each lateness that the program can have caused. A thread that
// sleeps until the timer is due is woken late by a busy or virtual machine now and then
// (here a bare QProcess reading a trickle is woken up to 35 ms late), and that is not the
// program's. The "own" lateness counts no more of it than the GUI thread ran since the
// last tick, outside the event loop's wait (poll()), and waited for a core (to its own
// threads, say, or the converter). It misses time the thread slept on the program's own
// threads (a join, a lock): the log joins its heap's worker only once that is done. It
// counts time in which the host took the virtual core away while the thread ran, which
// the guest cannot tell from running. Without the kernel's wait count it is unknown.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 now = clock.nsecsElapsed();
            const ThreadTimes times = ThreadTimes::now();
            const double late = std::max<double>(0, (now - last) / 1e6 - tickMs);
            lateness.push_back(late);
            ownLateness.push_back(std::min(late,
                                           times.runMs - lastTimes.runMs
                                                   - (times.pollMs - lastTimes.pollMs)
                                                   + times.waitMs - lastTimes.waitMs));
            ownKnown = ownKnown && times.known;
            last = now;
            lastTimes = times;
            if (onTick)
                onTick();
        });
    }
    void start()
    {
        clock.start();
        last = 0;
        lastTimes = ThreadTimes::now();
        ownKnown = lastTimes.known;
        lateness.clear();
        ownLateness.clear();
        timer.start(tickMs);
    }
    void stop() { timer.stop(); }
    double maximum() const { return largest(lateness); }
    // Negative if unknown.
    double ownMaximum() const { return ownKnown ? largest(ownLateness) : -1; }
    double percentile99() const
    {
        if (lateness.empty())
            return 0;
        std::vector<double> sorted = lateness;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, size_t(sorted.size() * 0.99))];
    }

    std::function<void()> onTick;

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    ThreadTimes lastTimes;
    bool ownKnown = false;
    std::vector<double> lateness;
    std::vector<double> ownLateness;
};

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
            + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const qint64 pages = statm.readAll().split(' ').value(1).toLongLong();
    return pages * double(sysconf(_SC_PAGESIZE)) / (1024 * 1024);
}

QString converterPath()
{
    return QDir(QStringLiteral(TARNWELL_CONVERTER_DIR)).filePath(QStringLiteral("Movrak"));
}

// Mode "long": one line of `lines` bytes without a line break, in place of the lines.
// Otherwise "<writing>[-<shape>]", or a shape alone, written buffered.
QString writingOf(const QString &mode)
{
    const QString writing = mode.section(QLatin1Char('-'), 0, 0);
    return writing == QLatin1String("mixed") || writing == QLatin1String("paths")
                    || writing == QLatin1String("scripts")
            ? QStringLiteral("buffered")
            : writing;
}

QString shapeOf(const QString &mode)
{
    return mode.contains(QLatin1Char('-')) ? mode.section(QLatin1Char('-'), 1)
            : writingOf(mode) == mode      ? QString()
                                           : mode;
}

void setConverterEnvironment(qint64 lines, const QString &mode)
{
    const bool longLine = mode == QLatin1String("long");
    const QString writing = writingOf(mode);
    qputenv("MOVRAK_LINES", QByteArray::number(longLine ? 0 : lines));
    qputenv("MOVRAK_LONG_LINE", QByteArray::number(longLine ? lines : 0));
    qputenv("MOVRAK_SHAPE", shapeOf(mode).toLatin1());
    qputenv("MOVRAK_FLUSH", writing == QLatin1String("buffered") ? "end" : "line");
    qputenv("MOVRAK_RATE", writing == QLatin1String("trickle") ? "20000" : "0");
    qputenv("MOVRAK_EXIT_CODE", "0");
}

// The line the stand-in writes as its n-th (1-based), without its line feed.
bool isLine(QStringView text, qint64 n, const QString &shape)
{
    if (shape == QLatin1String("scripts")) {
        static const QStringList scripts = {
            QStringLiteral("\u043a\u043e\u043c\u043f\u0438\u043b\u044f\u0446\u0438\u044f "
                           "\u0444\u0430\u0439\u043b\u0430 "
                           "\u0434\u0440\u0430\u0439\u0432\u0435\u0440\u0430"),
            QStringLiteral(
                    "\u03bc\u03b5\u03c4\u03b1\u03b3\u03bb\u03ce\u03c4\u03c4\u03b9\u03c3\u03b7 "
                    "\u03c4\u03bf\u03c5 \u03b1\u03c1\u03c7\u03b5\u03af\u03bf\u03c5"),
            QStringLiteral("\u30c9\u30e9\u30a4\u30d0\u306e\u30bd\u30fc\u30b9\u3092\u30b3\u30f3"
                           "\u30d1\u30a4\u30eb\u4e2d"),
            QStringLiteral("\u05e7\u05d5\u05de\u05e4\u05d9\u05dc\u05e6\u05d9\u05d4 \u05e9\u05dc "
                           "\u05e7\u05d5\u05d1\u05e5"),
        };
        return text.left(9).toLongLong() == n
                && text.mid(9) == QLatin1Char(' ') + scripts.at(n % 4);
    }
    const qsizetype length = shape == QLatin1String("mixed") ? 11 + n * 7919 % 189
            : shape == QLatin1String("paths")                ? 81 + n * 7919 % 199
                                                             : 79;
    return text.size() == length && text.left(9).toLongLong() == n
            && text.at(9) == QLatin1Char(' ');
}

// Checks that the log holds the first line, then the converter's lines in order (the
// newest ones, after a notice if older ones were dropped), then the outcome.
bool wizardLogInOrder(const QString &log, qint64 lines, const QString &mode)
{
    const QList<QStringView> rows = QStringView(log).split(QLatin1Char('\n'));
    if (rows.size() < 2 || rows.first() != QLatin1String("Initialising Project Conversion ...")
        || rows.last() != successLine)
        return false;
    if (mode == QLatin1String("long")) // shown cut short, with a note of what was left out
        return rows.size() == 3
                && rows.at(1).endsWith(QLatin1String(" more characters not shown)"));
    qsizetype first = 1;
    qint64 expected = 1;
    if (rows.size() - 2 < lines) {
        // "... N earlier lines not shown ..."
        const QStringView notice = rows.at(1);
        if (!notice.startsWith(QLatin1String("... ")))
            return false;
        expected = notice.mid(4).split(QLatin1Char(' ')).first().toLongLong() + 1;
        first = 2;
    }
    for (qsizetype i = first; i < rows.size() - 1; ++i, ++expected)
        if (!isLine(rows.at(i), expected, shapeOf(mode)))
            return false;
    return expected == lines + 1;
}

// The real wizard on its last page, in a temporary working directory, with the stand-in
// converter first on PATH.
class WizardRig
{
public:
    WizardRig()
    {
        QDir::setCurrent(work.path());
        QDir().mkpath(QStringLiteral("vdsp"));
        QDir().mkpath(QStringLiteral("out"));
        QFile(QStringLiteral("app.dpj")).open(QIODevice::WriteOnly);
        qputenv("PATH",
                QFile::encodeName(QFileInfo(converterPath()).path())
                        + QDir::listSeparator().toLatin1() + qgetenv("PATH"));
        // Made here, so that it reads settings.txt in its own working directory.
        wizard = std::make_unique<Tarnwell>();
        wizard->show();
        wizard->VDSPProjectEdit->setText(work.filePath(QStringLiteral("app.dpj")));
        wizard->VDSPInstallDirEdit->setText(work.filePath(QStringLiteral("vdsp")));
        wizard->NorvikProjectEdit->setText(work.filePath(QStringLiteral("out")));
        wizard->NorvikNameEdit->setText(QStringLiteral("bench"));
        for (int i = 0; i < 3; ++i)
            wizard->button(QWizard::NextButton)->click();
        QApplication::processEvents();
    }

    Result convert(qint64 lines, const QString &mode);

    // Back and Next: a new summary replaces the log. Returns the resident memory then.
    double replaceLog()
    {
        wizard->back();
        wizard->button(QWizard::NextButton)->click();
        QTest::qWait(100);
        return residentMegabytes();
    }

private:
    QTemporaryDir work;
    std::unique_ptr<Tarnwell> wizard;
};

Result WizardRig::convert(qint64 lines, const QString &mode)
{
    setConverterEnvironment(lines, mode);
    Result result;
    StallMeter meter;
    QElapsedTimer clock;
    QEventLoop loop;
    bool reported = false;
    QObject::connect(wizard.get(), &Tarnwell::runReported, &loop, [&reported] { reported = true; });
    meter.onTick = [&] {
        if (reported)
            loop.quit();
    };
    const double cpuBefore = cpuSeconds();
    meter.start();
    clock.start();
    wizard->button(QWizard::FinishButton)->click();
    loop.exec();
    result.seconds = clock.nsecsElapsed() / 1e9;
    result.cpuSeconds = cpuSeconds() - cpuBefore;
    result.maxStallMs = meter.maximum();
    result.maxOwnStallMs = meter.ownMaximum();
    result.p99StallMs = meter.percentile99();

    // Jumping through a large log after the run (the window keeps its size) must not
    // freeze it: what was never drawn is laid out then.
    meter.start();
    QScrollBar *bar = wizard->DetailsText->verticalScrollBar();
    for (const int value : { 0, bar->maximum() / 2, bar->maximum() }) {
        bar->setValue(value);
        QTest::qWait(50);
    }
    result.scrollMs = meter.maximum();
    meter.stop();

    result.linesInOrder = wizardLogInOrder(wizard->DetailsText->toPlainText(), lines, mode);
    result.peakMegabytes = peakMegabytes();
    return result;
}

Result runWizard(qint64 lines, const QString &mode)
{
    WizardRig rig;
    Result result = rig.convert(lines, mode);
    result.replacedMegabytes = rig.replaceLog();
    return result;
}

Result runBaseline(const QString &subject, qint64 lines, const QString &mode)
{
    setConverterEnvironment(lines, mode);
    std::optional<QPlainTextEdit> edit;
    if (subject == QLatin1String("plaintext")) {
        edit.emplace();
        edit->setReadOnly(true);
        edit->setUndoRedoEnabled(false);
        edit->resize(505, 340);
        edit->show();
    }
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    qint64 lineFeeds = 0;
    // The converter writes UTF-8, and a chunk may end inside a character.
    QStringDecoder utf8(QStringDecoder::Utf8);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
        const QByteArray chunk = process.readAllStandardOutput();
        lineFeeds += chunk.count('\n');
        if (edit)
            edit->appendPlainText(utf8.decode(chunk));
    });
    Result result;
    StallMeter meter;
    QElapsedTimer clock;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    const double cpuBefore = cpuSeconds();
    meter.start();
    clock.start();
    process.start(converterPath(), { "a", "b", "c", "-pn", "d" });
    loop.exec();
    result.seconds = clock.nsecsElapsed() / 1e9;
    result.cpuSeconds = cpuSeconds() - cpuBefore;
    result.maxStallMs = meter.maximum();
    result.maxOwnStallMs = meter.ownMaximum();
    result.p99StallMs = meter.percentile99();
    meter.stop();
    result.linesInOrder = lineFeeds == (mode == QLatin1String("long") ? 0 : lines);
    if (edit) {
        const QString text = edit->toPlainText();
        result.linesInOrder = result.linesInOrder
                && (mode == QLatin1String("long")
                            ? text.count(QLatin1Char('x')) == lines
                            : isLine(QStringView(text).left(text.indexOf(QLatin1Char('\n'))), 1,
                                     shapeOf(mode)));
    }
    result.peakMegabytes = peakMegabytes();
    if (edit) {
        edit->clear();
        QTest::qWait(100);
        result.replacedMegabytes = residentMegabytes();
    }
    return result;
}

int runCase(const QStringList &arguments)
{
    const QString subject = arguments.value(0);
    const qint64 lines = arguments.value(1).toLongLong();
    const QString mode = arguments.value(2);
    const Result r = subject == QLatin1String("wizard") ? runWizard(lines, mode)
                                                        : runBaseline(subject, lines, mode);
    std::printf("%.4f %.2f %.2f %.1f %.3f %.2f %d %.1f %.2f\n", r.seconds, r.maxStallMs,
                r.p99StallMs, r.peakMegabytes, r.cpuSeconds, r.scrollMs, r.linesInOrder ? 1 : 0,
                r.replacedMegabytes, r.maxOwnStallMs);
    return 0;
}

// Memory given back when a big log is replaced: a small run, then a big one, in one
// process, each followed by a new summary; prints the resident memory after each.
int runReplace(const QStringList &arguments)
{
    const qint64 small = arguments.value(0, QStringLiteral("10000")).toLongLong();
    const qint64 big = arguments.value(1, QStringLiteral("1000000")).toLongLong();
    WizardRig rig;
    rig.convert(small, QStringLiteral("buffered"));
    const double afterSmall = rig.replaceLog();
    const Result run = rig.convert(big, QStringLiteral("buffered"));
    const double afterBig = rig.replaceLog();
    std::printf("%.1f %.1f %.1f %d\n", afterSmall, afterBig, run.peakMegabytes,
                run.linesInOrder ? 1 : 0);
    return 0;
}

// Start-up: prints "ready" once the window has been painted and the event loop has
// run dry; the parent measures from its start() to that line.
int runStartup(const QString &subject)
{
    std::unique_ptr<QWidget> window;
    if (subject == QLatin1String("wizard")) {
        window = std::make_unique<Tarnwell>();
    } else {
        // The smallest honest peer: a classic four-page wizard, a sentence on each page.
        auto peer = std::make_unique<QWizard>();
        peer->setWizardStyle(QWizard::ClassicStyle);
        for (int page = 0; page < 4; ++page) {
            auto *wizardPage = new QWizardPage;
            new QLabel(QStringLiteral("Page %1 of a wizard that converts a project.").arg(page + 1),
                       wizardPage);
            peer->addPage(wizardPage);
        }
        window = std::move(peer);
    }
    struct PaintWatcher : QObject
    {
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && !painted) {
                painted = true;
                QTimer::singleShot(0, [] {
                    std::puts("ready");
                    std::fflush(stdout);
                    QCoreApplication::quit();
                });
            }
            return false;
        }
        bool painted = false;
    } watcher;
    window->installEventFilter(&watcher);
    window->show();
    return QApplication::exec();
}

// --- the orchestrator ------------------------------------------------------------------

struct Summary
{
    std::map<QString, std::vector<double>> values;
    bool allInOrder = true;
};

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::optional<Result> spawnCase(const QString &subject, qint64 lines, const QString &mode)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                { "case", subject, QString::number(lines), mode });
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return std::nullopt;
    const QStringList fields = QString::fromLatin1(child.readAllStandardOutput()).split(' ');
    if (fields.size() < 9)
        return std::nullopt;
    Result r;
    r.seconds = fields[0].toDouble();
    r.maxStallMs = fields[1].toDouble();
    r.p99StallMs = fields[2].toDouble();
    r.peakMegabytes = fields[3].toDouble();
    r.cpuSeconds = fields[4].toDouble();
    r.scrollMs = fields[5].toDouble();
    r.linesInOrder = fields[6].trimmed() == QLatin1String("1");
    r.replacedMegabytes = fields[7].toDouble();
    r.maxOwnStallMs = fields[8].toDouble();
    return r;
}

double startupMilliseconds(const QString &subject)
{
    QProcess child;
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), { "startup", subject });
    while (child.waitForReadyRead(10000))
        if (child.readAllStandardOutput().contains("ready"))
            break;
    const double elapsed = clock.nsecsElapsed() / 1e6;
    child.waitForFinished();
    return elapsed;
}

// Completion in a big folder: how long the event loop is held up after each key typed.
int runCompletion(const QStringList &arguments)
{
    qint64 entries = 100000;
    int repeat = 1;
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--entries"))
            entries = arguments[i + 1].toLongLong();
        else if (arguments[i] == QLatin1String("--repeat"))
            repeat = arguments[i + 1].toInt();
    }
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("many"));
    QDir().mkpath(folder);
    for (qint64 i = 0; i < entries; ++i)
        QFile(QStringLiteral("%1/name%2.dpj").arg(folder).arg(i, 6, 10, QLatin1Char('0')))
                .open(QIODevice::WriteOnly);
    // "name01" stands for name010000 to name019999 (of 100,000 names).
    const QString typed = folder + QStringLiteral("/name01");
    const qint64 expected = std::clamp<qint64>(entries - 10000, 0, 10000);
    std::printf("Completion: typing %s (one key every 100 ms) into the project file field, "
                "%lld entries in the folder\n\n",
                qPrintable(typed), entries);
    std::printf("| run | keys | max stall ms | median stall a key ms | keys over 50 ms | names "
                "ready after the folder's last \"/\" ms | completions |\n"
                "|---:|---:|---:|---:|---:|---:|---:|\n");
    std::vector<double> allWorst;
    for (int run = 1; run <= repeat; ++run) {
        Tarnwell wizard;
        wizard.show();
        QApplication::setActiveWindow(&wizard);
        if (!QTest::qWaitForWindowActive(&wizard))
            std::fprintf(stderr, "The window did not become active.\n");
        QLineEdit *field = wizard.VDSPProjectEdit;
        field->setFocus();
        StallMeter meter;
        QElapsedTimer clock;
        std::vector<double> perKey; // the longest stall in the 100 ms after each key
        double readyMs = -1;
        qint64 slashAt = -1;
        int next = 0;
        QEventLoop loop;
        QTimer keys;
        keys.setTimerType(Qt::PreciseTimer);
        QObject::connect(&keys, &QTimer::timeout, [&] {
            if (next > 0)
                perKey.back() = std::max(perKey.back(), meter.maximum());
            meter.start();
            QCompleter *completer = field->completer();
            if (next == typed.size()) {
                const bool ready = completer && completer->popup()->isVisible()
                        && completer->completionCount() == expected;
                if (ready && readyMs < 0)
                    readyMs = (clock.nsecsElapsed() - slashAt) / 1e6;
                // Half a second more after the names are shown, or ten seconds at most.
                if ((readyMs >= 0 && (clock.nsecsElapsed() - slashAt) / 1e6 > readyMs + 500)
                    || clock.elapsed() > 10000 + typed.size() * 100)
                    loop.quit();
                return;
            }
            QTest::keyClick(field, typed.at(next++).toLatin1());
            perKey.push_back(0);
            if (next == typed.lastIndexOf(QLatin1Char('/')) + 1)
                slashAt = clock.nsecsElapsed();
        });
        clock.start();
        meter.start();
        keys.start(100);
        loop.exec();
        meter.stop();
        // The last key's window runs until the names are shown and half a second more.
        perKey.back() = std::max(perKey.back(), meter.maximum());
        const double worst = *std::max_element(perKey.begin(), perKey.end());
        allWorst.push_back(worst);
        std::printf("| %d | %zu | %.1f | %.1f | %lld | %s | %lld |\n", run, perKey.size(), worst,
                    median(perKey),
                    qint64(std::count_if(perKey.begin(), perKey.end(),
                                         [](double stall) { return stall > 50; })),
                    readyMs < 0 ? "not within 10 s" : qPrintable(QString::number(readyMs, 'f', 0)),
                    field->completer() ? qint64(field->completer()->completionCount()) : 0);
        std::fflush(stdout);
    }
    std::printf("\nMedian of the runs' max stall: %.1f ms\n", median(allWorst));
    return 0;
}

int runAll(const QStringList &arguments)
{
    int repeat = 3;
    QList<qint64> sizes = { 10000, 100000, 1000000 };
    QStringList modes = { "buffered", "line", "trickle", "mixed", "paths" };
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--repeat"))
            repeat = arguments[i + 1].toInt();
        else if (arguments[i] == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString &size : arguments[i + 1].split(','))
                sizes << size.toLongLong();
        } else if (arguments[i] == QLatin1String("--modes"))
            modes = arguments[i + 1].split(',');
    }

    std::printf(
            "Medians of %d runs. time: Finish to last line shown; stall: lateness of a 10 ms "
            "timer;\nits own: of any run's stalls, the longest part in which the GUI thread ran "
            "(outside poll()) or waited for a core;\npeak: peak resident memory; "
            "cpu: GUI process CPU time;\nscroll: longest stall while jumping through the log "
            "after the run; after: resident memory\nonce the log is replaced (a new summary; "
            "the plain view cleared).\n\n",
            repeat);
    std::printf("| lines | mode | subject | time s | max stall ms | worst run's ms | its own ms "
                "| p99 stall ms | peak MB | cpu s | scroll ms | in order | time / plain | peak / "
                "plain | after MB |\n");
    std::printf("|---:|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|\n");
    std::map<QString, double> wizardTimeBySize;
    for (const QString &mode : modes) {
        for (const qint64 lines : sizes) {
            std::map<QString, Result> medians;
            for (const char *subject : { "process", "plaintext", "wizard" }) {
                std::vector<double> seconds, maxStall, p99, peak, cpu, scroll, replaced, own;
                bool inOrder = true;
                for (int run = 0; run < repeat; ++run) {
                    const auto r = spawnCase(QLatin1String(subject), lines, mode);
                    if (!r) {
                        inOrder = false;
                        continue;
                    }
                    seconds.push_back(r->seconds);
                    maxStall.push_back(r->maxStallMs);
                    own.push_back(r->maxOwnStallMs);
                    p99.push_back(r->p99StallMs);
                    peak.push_back(r->peakMegabytes);
                    cpu.push_back(r->cpuSeconds);
                    scroll.push_back(r->scrollMs);
                    replaced.push_back(r->replacedMegabytes);
                    inOrder = inOrder && r->linesInOrder;
                }
                Result m { median(seconds), median(maxStall), median(p99), median(peak),
                           median(cpu),     median(scroll),   inOrder,     median(replaced) };
                medians[QLatin1String(subject)] = m;
                const Result &plain = medians[QStringLiteral("plaintext")];
                const bool ratio = QLatin1String(subject) == QLatin1String("wizard");
                std::printf(
                        "| %lld | %s | %s | %.3f | %.1f | %.1f | %s | %.1f | %.0f | %.2f | %s | "
                        "%s | %s | %s | %s |\n",
                        lines, qPrintable(mode), subject, m.seconds, m.maxStallMs,
                        largest(maxStall),
                        own.empty() || *std::min_element(own.begin(), own.end()) < 0
                                ? "n/a"
                                : qPrintable(QString::asprintf("%.1f", largest(own))),
                        m.p99StallMs, m.peakMegabytes, m.cpuSeconds,
                        ratio ? qPrintable(QString::number(m.scrollMs, 'f', 1)) : "",
                        m.linesInOrder ? "yes" : "NO",
                        ratio ? qPrintable(QString::number(m.seconds / plain.seconds, 'f', 2)) : "",
                        ratio ? qPrintable(
                                QString::number(m.peakMegabytes / plain.peakMegabytes, 'f', 2))
                              : "",
                        m.replacedMegabytes > 0
                                ? qPrintable(QString::number(m.replacedMegabytes, 'f', 0))
                                : "");
                std::fflush(stdout);
            }
            wizardTimeBySize[mode + QString::number(lines)]
                    = medians[QStringLiteral("wizard")].seconds;
        }
        const double small = wizardTimeBySize[mode + QStringLiteral("100000")];
        const double large = wizardTimeBySize[mode + QStringLiteral("1000000")];
        if (small > 0 && large > 0)
            std::printf(
                    "| | %s | growth 1,000,000 / 100,000 lines | %.1f x | | | | | | | | | | | |\n",
                    qPrintable(mode), large / small);
    }

    std::vector<double> wizard, peer;
    // A start-up takes some 30 ms and varies by a third from one to the next: many runs.
    for (int run = 0; run < std::max(repeat, 21); ++run) {
        peer.push_back(startupMilliseconds(QStringLiteral("peer")));
        wizard.push_back(startupMilliseconds(QStringLiteral("wizard")));
    }
    std::printf("\nStart-up to painted and idle (median of %zu): wizard %.1f ms, four-page QWizard "
                "with a label a page %.1f ms, ratio %.2f\n",
                wizard.size(), median(wizard), median(peer), median(wizard) / median(peer));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == QLatin1String("case"))
        return runCase(arguments.mid(1));
    if (command == QLatin1String("startup"))
        return runStartup(arguments.value(1));
    if (command == QLatin1String("replace"))
        return runReplace(arguments.mid(1));
    if (command == QLatin1String("run"))
        return runAll(arguments.mid(1));
    if (command == QLatin1String("completion"))
        return runCompletion(arguments.mid(1));
    std::fprintf(stderr,
                 "usage: tarnwell_bench run [--repeat R] [--sizes a,b,c] [--modes m,n]\n"
                 "       tarnwell_bench case <wizard|plaintext|process> <lines> <mode>\n"
                 "       tarnwell_bench startup <wizard|peer>\n"
                 "       tarnwell_bench replace [small lines] [big lines]\n"
                 "       tarnwell_bench completion [--entries N] [--repeat R]\n");
    return 2;
}

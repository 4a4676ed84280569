#pragma once

#include "logheap.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

class LogLayout;
class QTextBrowser;
class QTextCursor;

// The details log of a conversion run, shown in the wizard's text browser.
//
// A converter can write millions of lines, and laying out text is by far the most
// expensive part of showing them. So the log
//  - adds text only as plain text (converter output is never read as markup);
//  - queues what arrives and adds it in passes of a few milliseconds, so the window
//    keeps answering however fast the converter writes;
//  - groups plain lines (printable Latin, Greek, Cyrillic) into paragraphs of up to
//    linesPerParagraph lines (joined by line separators), which halves the memory per
//    line and the time to add it. Any other line gets a paragraph of its own, so that
//    it is shown as in a paragraph of its own (its writing direction, its line breaks,
//    its height), and leaves the lines after it alone;
//  - lays out only what is on screen (LogLayout), and paints a flood at most once a
//    frame;
//  - keeps at most lineLimit of the converter's lines, and at most characterLimit
//    characters of them: past that the oldest are dropped in large batches, and one
//    line in their place says how many. Qt places text in fixed-point pixels that end
//    at 33,554,431; the limits keep the log far below that (about 2,600,000), and its
//    memory bounded. A reader who scrolled up keeps the line at the top of the view
//    while old lines go; one at the end follows it.
class DetailsLog : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        // Every drop makes Qt copy all the text it keeps into a new buffer, visiting each
        // piece of it (two a paragraph): at 200,000 lines that held the window up for
        // 10-20 ms, 50 ms with lines in other scripts (a paragraph each); at these limits
        // it stays under a frame.
        qint64 lines = 100000;
        qint64 characters = 100000 * 80;
        qint64 paragraphs = 32768;
        // Paragraphs removed by one pass at most. Removing one costs about a
        // microsecond (its layout, its place in the block tree): a flood that pushes out
        // everything shown would otherwise remove up to 32,768 of them at once.
        int paragraphsPerDrop = 8192;
    };

    // What stays of a limit when the oldest lines go: the newest three quarters.
    static qint64 kept(qint64 limit) { return limit * 3 / 4; }

    static constexpr int linesPerParagraph = 32;
    // A paragraph takes no more lines once it holds this many characters.
    static constexpr int charactersPerParagraph = 4096;
    // Longest stretch of one pass of adding text, in milliseconds: with the paint that
    // may follow it, within the half of a frame.
    static constexpr qint64 passBudgetMs = 6;
    // A run of lines of their own added in one edit of the document takes at most
    // this many characters and paragraphs.
    static constexpr int charactersPerEdit = 2048;
    static constexpr int paragraphsPerEdit = 64;
    // How long a trickle of output is gathered before it is shown, in milliseconds.
    static constexpr int gatherMs = 25;
    // A flood is painted at most once a frame (60 Hz), in milliseconds.
    static constexpr int frameMs = 16;

    explicit DetailsLog(QTextBrowser *view) : DetailsLog(view, Limits()) { }
    DetailsLog(QTextBrowser *view, Limits limits);
    ~DetailsLog() override;

    // Replaces whatever the view shows with `firstLine` (which ends with a line feed)
    // and forgets everything still queued, a pending whenShown() action included.
    void restart(const QString &firstLine);

    // Queues complete lines of converter output (without their line feeds).
    void appendLines(const QStringList &lines);

    // Queues `text`, to be added as it stands after everything queued before it.
    void appendText(const QString &text);

    // Calls `action` once everything queued so far is in the view (at once if it is).
    void whenShown(std::function<void()> action);

    // Whether everything queued is shown and every line due to go has gone.
    bool isIdle() const { return queue.empty() && !dropAllShown; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Gives the view the log's font and layout, at the first restart(): the text the
    // view shows until then needs neither, and setting them up took 4% of the start-up.
    void prepareView();
    // Shows `text` (which ends with a line feed) in place of what the view shows;
    // output still queued follows it.
    void replaceText(const QString &text);

    struct Entry
    {
        QByteArray text; // UTF-8: lines joined by line feeds, or text to add as it stands
        qint64 lines = 0; // 0 for text as it stands
        qint64 characters = 0; // in UTF-16, as shown
        bool full = false; // a line of its own: takes no more lines
    };
    struct Paragraph
    {
        qint64 lines;
        qint64 characters; // each line's with its line break
    };

    void schedule();
    void insertPass();
    // Lets the view paint at once whatever passes have added since it last did.
    void releasePaint();
    bool dropDue() const;
    void insertNext(QTextCursor &cursor);
    void dropOldest(qint64 lines, qint64 characters, qint64 paragraphCount = 0);
    void dropQueuedOverflow();
    void writeNotice(QTextCursor &cursor);
    // Makes the heap ready for the copy of the text that the next drop makes, when it is
    // `due` or what is queued brings it; false until the heap is.
    bool heapReadyForDrop(bool due);
    // Scrolls a reader who keeps a line at the top back to it, as far as the view goes.
    void showHeldTop();

    QTextBrowser *view;
    LogLayout *layout = nullptr;
    const Limits limits;
    LogHeap heap;
    int drops = 0; // of this run
    int heapWarmings = 0; // of this run: the drop last made ready for, counted from 1
    QTimer passTimer;
    // Passes of a flood come every few milliseconds, and each repaint lays out and draws
    // the lines shown: with paths that wrap, that was a third of the time of adding them.
    // So for a frame after the view painted, it paints nothing (its updates are
    // disabled), and at the frame's end it shows what the passes added meanwhile.
    QElapsedTimer sincePaint; // since the view last painted
    bool paintDue = false; // its updates are on again, and it has not painted since
    QTimer *paintTimer; // ends the frame in which passes were held back
    std::function<void()> afterShown;

    std::deque<Entry> queue;
    qint64 queuedLines = 0;
    qint64 queuedCharacters = 0;

    // The paragraphs of converter lines in the view, oldest first.
    std::deque<Paragraph> paragraphs;
    qint64 shownLines = 0;
    qint64 shownCharacters = 0;
    qint64 droppedLines = 0;
    // When what is queued pushes out everything shown, the shown paragraphs go over
    // several passes: the queued lines dropped meanwhile are counted in the notice only
    // once no older line is shown.
    bool dropAllShown = false;
    qint64 droppedFromQueue = 0;
    // The paragraph where output begins (where the notice of dropped lines stands).
    int firstOutputBlock = 0;
    bool hasNotice = false;
    // For a reader who scrolled up when old lines went: the paragraph to keep at the top
    // of the view, and how far into it the view starts; -1 when there is none. It is
    // held until the view can show it there (the lines below it may still be queued),
    // and let go when the reader scrolls.
    int heldTopBlock = -1;
    int heldTopOffset = 0;
};

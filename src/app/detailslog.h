#pragma once

#include <QObject>
#include <QStringList>

class QTextBrowser;

// The details log of a conversion run, shown in the wizard's text browser. It adds
// text only as plain text: converter output is never read as markup.
class DetailsLog : public QObject
{
    Q_OBJECT

public:
    explicit DetailsLog(QTextBrowser *view);

    // Replaces whatever the view shows with `firstLine`, which ends with a line feed.
    void restart(const QString &firstLine);

    // Adds complete lines, each followed by a line break.
    void appendLines(const QStringList &lines);

    // Adds `text` as it stands (a line feed in it breaks the line).
    void appendText(const QString &text);

private:
    QTextBrowser *view;
};

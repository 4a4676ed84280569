#pragma once

#include <QObject>

class QLineEdit;
class QUrl;

// The path on this machine that a file URL names (native separators); empty for
// anything else. On POSIX a URL with a host other than localhost names another
// machine's file and gives no path; on Windows it is a UNC path (\\host\share\...).
// Files dropped from a file manager and file URLs on the command line go through here.
QString localPathOfUrl(const QUrl &url);

// Path fields as a desktop user expects them: names complete as one types, and a file
// or folder dropped from a file manager lands in the field as its local path.
class PathFields : public QObject
{
    Q_OBJECT

public:
    enum class Kind { File, Folder };

    using QObject::QObject;

    void add(QLineEdit *field, Kind kind);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Made at the first key press in a path field, so that a start without typing never
    // reads a folder.
    void complete(QLineEdit *field, Kind kind);
};

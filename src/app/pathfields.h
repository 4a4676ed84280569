#pragma once

#include <QObject>

class QFileSystemModel;
class QLineEdit;
class QUrl;

// The local path that a URL names, in the platform's separators; empty for one that
// names no local file (a web address, a file inside an archive), which is refused.
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
    void complete(QLineEdit *field, Kind kind);
    QFileSystemModel *model(Kind kind);

    // One model for each kind, shared by the fields; made at the first key press in a
    // path field, so that a start without typing never reads a directory.
    QFileSystemModel *files = nullptr;
    QFileSystemModel *folders = nullptr;
};

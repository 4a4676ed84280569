#pragma once

#include <QObject>

class QLineEdit;

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

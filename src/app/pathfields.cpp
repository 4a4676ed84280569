#include "pathfields.h"

#include <QCompleter>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

QString localPathOfUrl(const QUrl &url)
{
    return url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : QString();
}

namespace {

constexpr char kindProperty[] = "tarnwellPathKind";

// The local path of the first URL that a drag carries; empty when the field refuses it.
QString droppedPath(const QMimeData *data)
{
    return data->hasUrls() ? localPathOfUrl(data->urls().value(0)) : QString();
}

} // namespace

void PathFields::add(QLineEdit *field, Kind kind)
{
    field->setProperty(kindProperty, int(kind));
    field->installEventFilter(this);
}

bool PathFields::eventFilter(QObject *watched, QEvent *event)
{
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!field)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
        if (!field->completer())
            complete(field, Kind(field->property(kindProperty).toInt()));
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // Taken here, before QLineEdit would insert the URL's text ("file:///...").
        auto *drag = static_cast<QDropEvent *>(event);
        if (droppedPath(drag->mimeData()).isEmpty())
            drag->ignore();
        else
            drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = droppedPath(drop->mimeData());
        if (path.isEmpty()) {
            drop->ignore();
        } else {
            field->setText(path);
            drop->acceptProposedAction();
        }
        return true;
    }
    default:
        return false;
    }
}

void PathFields::complete(QLineEdit *field, Kind kind)
{
    QFileSystemModel *names = model(kind);
    // The model reads a folder only when asked for it: the folder being typed is asked
    // for, so that its names are there to complete.
    connect(field, &QLineEdit::textEdited, names,
            [names](const QString &text) { names->index(QFileInfo(text).path()); });
    auto *completer = new QCompleter(names, field);
    completer->setCaseSensitivity(
#ifdef Q_OS_WIN
            Qt::CaseInsensitive
#else
            Qt::CaseSensitive
#endif
    );
    field->setCompleter(completer);
}

QFileSystemModel *PathFields::model(Kind kind)
{
    QFileSystemModel *&shared = kind == Kind::Folder ? folders : files;
    if (!shared) {
        shared = new QFileSystemModel(this);
        if (kind == Kind::Folder)
            shared->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
        shared->setRootPath(QString());
    }
    return shared;
}

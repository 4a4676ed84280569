#include "pathfields.h"

#include <QCompleter>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

namespace {

constexpr char kindProperty[] = "tarnwellPathKind";

// What a drag carries, as the path it lands as: the first URL's local path, or a path
// dragged as plain text (from a terminal or an editor), taken as if typed. Empty for
// what the field refuses: a web address, a file inside an archive, several lines.
QString droppedPath(const QMimeData *data)
{
    if (data->hasUrls())
        return localPathOfUrl(data->urls().value(0));
    if (!data->hasText())
        return QString();
    QString text = data->text();
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
        return QString();
    return text;
}

// A drop is taken as a copy (or a link), never as a move, whatever the source
// proposes: a file manager that is told its file was moved deletes it from its place.
bool acceptWithoutMoving(QDropEvent *drag)
{
    const Qt::DropActions offered = drag->possibleActions();
    if (offered & Qt::CopyAction)
        drag->setDropAction(Qt::CopyAction);
    else if (offered & Qt::LinkAction)
        drag->setDropAction(Qt::LinkAction);
    else
        return false;
    drag->accept();
    return true;
}

} // namespace

QString localPathOfUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return QString();
#ifdef Q_OS_WIN
    // file://host/share/p.dpj is the UNC path \\host\share\p.dpj.
    return QDir::toNativeSeparators(url.toLocalFile());
#else
    // Another host's file is not a path on this machine.
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return QString();
    QUrl local = url;
    local.setHost(QString());
    return local.toLocalFile();
#endif
}

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
        if (droppedPath(drag->mimeData()).isEmpty() || !acceptWithoutMoving(drag))
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = droppedPath(drop->mimeData());
        if (path.isEmpty() || !acceptWithoutMoving(drop))
            drop->ignore();
        else
            field->setText(path);
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

#include "pathfields.h"

#include "conversion.h"

#include <QCompleter>
#include <QDir>
#include <QDirIterator>
#include <QDropEvent>
#include <QFutureWatcher>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPromise>
#include <QStringListModel>
#include <QThreadPool>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

constexpr char kindProperty[] = "tarnwellPathKind";

// What a drag carries, as the path it lands as: the first URL's local path, or a path
// dragged as plain text (from a terminal or an editor), taken as if typed. Empty for
// what the field refuses: a web address, a file inside an archive, several lines.
QString droppedPath(const QMimeData *data)
{
    if (data->hasUrls()) {
        // A name with a line break would become another name in the field (one line).
        const QString path = localPathOfUrl(data->urls().value(0));
        return hasLineBreak(path) ? QString() : path;
    }
    if (!data->hasText())
        return QString();
    QString text = data->text();
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return hasLineBreak(text) ? QString() : text;
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

// The folder part of a typed path (up to its last separator, kept) and its name part.
// A relative folder stays as typed: it is read in the working directory, where the
// wizard resolves its paths.
std::pair<QString, QString> splitTypedPath(const QString &typed)
{
#ifdef Q_OS_WIN
    const qsizetype end
            = std::max(typed.lastIndexOf(QLatin1Char('/')), typed.lastIndexOf(QLatin1Char('\\')))
            + 1;
#else
    const qsizetype end = typed.lastIndexOf(QLatin1Char('/')) + 1;
#endif
    return { typed.left(end), typed.mid(end) };
}

// Completes the name part of a typed path against the names in its folder.
//
// QFileSystemModel is no help here: whatever thread reads a folder, it builds a node
// for every name and sorts them in the GUI thread, which froze the window for seconds
// in a folder of 10,000 files; and it completes absolute paths only. The names are
// read and sorted in a worker thread instead, and the completer searches them sorted
// (a binary search per key): nothing in the GUI thread grows with the folder but the
// popup's list, whose rows all have one height.
class PathCompleter : public QCompleter
{
public:
    PathCompleter(QLineEdit *field, PathFields::Kind kind)
        : QCompleter(field),
          filters(kind == PathFields::Kind::Folder
                          ? QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot
                          : QDir::AllEntries | QDir::AllDirs | QDir::NoDotAndDotDot)
    {
        setModel(&names);
        setCaseSensitivity(
#ifdef Q_OS_WIN
                Qt::CaseInsensitive
#else
                Qt::CaseSensitive
#endif
        );
        setModelSorting(caseSensitivity() == Qt::CaseSensitive
                                ? QCompleter::CaseSensitivelySortedModel
                                : QCompleter::CaseInsensitivelySortedModel);
        auto *list = new QListView;
        list->setUniformItemSizes(true);
        setPopup(list);
        connect(field, &QLineEdit::textEdited, this, &PathCompleter::typed);
        field->installEventFilter(this);
        connect(&listing, &QFutureWatcher<QStringList>::finished, this, &PathCompleter::listed);
    }

    QStringList splitPath(const QString &path) const override
    {
        return { splitTypedPath(path).second };
    }

    QString pathFromIndex(const QModelIndex &index) const override
    {
        return splitTypedPath(completionPrefix()).first + index.data().toString();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Names may have come and gone while the user was elsewhere.
        if (event->type() == QEvent::FocusIn)
            stale = true;
        return QCompleter::eventFilter(watched, event);
    }

private:
    void typed(const QString &text)
    {
        const QString folder = splitTypedPath(text).first;
        if (folder == listedFolder && !stale)
            return;
        // The old folder's names must not complete in the new one while it is read.
        if (folder != listedFolder)
            names.setStringList({});
        listedFolder = folder;
        stale = false;
        listing.cancel();
        listing.setFuture(
                listNames(QDir::current().absoluteFilePath(folder), filters, caseSensitivity()));
    }

    void listed()
    {
        if (listing.isCanceled() || listing.future().resultCount() == 0)
            return;
        names.setStringList(listing.result());
        // The names came after the keys: what is typed now is completed at once.
        auto *field = qobject_cast<QLineEdit *>(widget());
        if (field && field->hasFocus() && splitTypedPath(field->text()).first == listedFolder) {
            setCompletionPrefix(field->text());
            complete();
        }
    }

    static QFuture<QStringList> listNames(const QString &folder, QDir::Filters filters,
                                          Qt::CaseSensitivity sensitivity)
    {
        auto promise = std::make_shared<QPromise<QStringList>>();
        QFuture<QStringList> future = promise->future();
        QThreadPool::globalInstance()->start([promise, folder, filters, sensitivity] {
            promise->start();
            QStringList found;
            QDirIterator entries(folder, filters);
            while (entries.hasNext() && !promise->isCanceled())
                found << entries.nextFileInfo().fileName();
            // In the order the completer's binary search expects.
            std::sort(found.begin(), found.end(),
                      [sensitivity](const QString &a, const QString &b) {
                          return a.compare(b, sensitivity) < 0;
                      });
            promise->addResult(std::move(found));
            promise->finish();
        });
        return future;
    }

    const QDir::Filters filters;
    QStringListModel names;
    // The folder part, as typed, whose names `names` holds or `listing` reads.
    QString listedFolder;
    bool stale = true; // nothing read yet
    QFutureWatcher<QStringList> listing;
};

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
    field->setCompleter(new PathCompleter(field, kind));
}

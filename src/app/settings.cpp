#include "settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

QString settingsText(const QString &installDirectory, const QString &messagePersonality,
                     const QString &analyserPersonality, const QString &compilerPersonality)
{
    QString text;
    const auto addEntry = [&text](const char *key, const QString &value) {
        text += QLatin1String(key) + QLatin1Char('\n') + value + QLatin1String("\n\n");
    };
    addEntry(installDirectoryKey, installDirectory);
    if (!messagePersonality.isEmpty())
        addEntry(messagePersonalityKey, messagePersonality);
    if (!analyserPersonality.isEmpty())
        addEntry(analyserPersonalityKey, analyserPersonality);
    if (!compilerPersonality.isEmpty())
        addEntry(compilerPersonalityKey, compilerPersonality);
    return text;
}

RememberedInputs parseSettingsText(const QString &text)
{
    QStringView rest(text);
    // A final line feed ends the last line; it does not begin another one.
    if (rest.endsWith(QLatin1Char('\n')))
        rest.chop(1);
    const QList<QStringView> lines
            = rest.isEmpty() ? QList<QStringView>() : rest.split(QLatin1Char('\n'));
    const auto line = [&lines](qsizetype i) {
        QStringView l = lines.at(i);
        return l.endsWith(QLatin1Char('\r')) ? l.chopped(1) : l;
    };

    RememberedInputs inputs;
    const std::pair<const char *, std::optional<QString> RememberedInputs::*> keys[] = {
        { installDirectoryKey, &RememberedInputs::installDirectory },
        { messagePersonalityKey, &RememberedInputs::messagePersonality },
        { analyserPersonalityKey, &RememberedInputs::analyserPersonality },
        { compilerPersonalityKey, &RememberedInputs::compilerPersonality },
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView current = line(i);
        for (const auto &[key, entry] : keys) {
            if (current == QLatin1String(key)) {
                ++i;
                inputs.*entry = i < lines.size() ? line(i).toString() : QString();
                break;
            }
        }
    }
    return inputs;
}

RememberedInputs parseSettings(const QByteArray &bytes)
{
    // Written in UTF-8; a file that is not valid UTF-8 was written in the local 8-bit
    // code page (by an older program on Windows) and is read as such.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return parseSettingsText(text);
    QStringDecoder local(QStringConverter::System);
    return parseSettingsText(local(bytes));
}

QByteArray encodeSettings(const QString &text)
{
    // UTF-8 holds every path; Windows's ANSI code page would turn the letters it lacks
    // (Cyrillic on a Western system) into "?" and the path into another.
    QStringEncoder encode(QStringConverter::Utf8);
    return encode(text);
}

RememberedInputs readSettingsFile(const QString &path)
{
    // Read at start-up, before any window shows: a FIFO would block in open(), a
    // device such as /dev/zero never ends, and a huge file delays the window. Only a
    // regular file is read, and only as much as a settings file of ours can hold.
#ifdef Q_OS_UNIX
    const int descriptor
            = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return {};
    QFile file;
    struct stat status;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return {};
    }
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return {};
#else
    if (!QFileInfo(path).isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
#endif
    return parseSettings(file.read(maxSettingsFileBytes));
}

#ifdef Q_OS_UNIX
namespace {

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// Follows `path` through the links that are the user's own and gives what it ends at:
// a name that is no link (or nothing), or, where a link of another user's stands in
// the way, nothing. In a folder others can write, such a link may point at any of the
// user's files (~/.profile): writing through it would overwrite them. On Linux the
// link's owner and its target are read from one opened link, so another user cannot
// swap their link in between the look at the owner and the read of the target.
std::optional<QString> ownTarget(QString path)
{
    for (int hops = 0; hops < 40; ++hops) {
        QString target;
#ifdef O_PATH
        const int link = ::open(nativePath(path).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (link < 0)
            return path; // nothing there (or nothing to look at): no link
        struct stat status;
        char buffer[4096];
        ssize_t length = -1;
        const bool isLink = ::fstat(link, &status) == 0 && S_ISLNK(status.st_mode);
        const bool ours = isLink && status.st_uid == ::geteuid();
        if (ours)
            length = ::readlinkat(link, "", buffer, sizeof buffer);
        ::close(link);
        if (!isLink)
            return path;
        if (!ours || length <= 0 || length == ssize_t(sizeof buffer))
            return std::nullopt;
        target = QFile::decodeName(QByteArray(buffer, length));
        if (QDir::isRelativePath(target))
            target = QFileInfo(path).dir().filePath(target);
#else
        // Elsewhere the link is read between two looks at it.
        struct stat before, after;
        if (::lstat(nativePath(path).constData(), &before) != 0 || !S_ISLNK(before.st_mode))
            return path;
        if (before.st_uid != ::geteuid())
            return std::nullopt;
        target = QFileInfo(path).symLinkTarget();
        if (::lstat(nativePath(path).constData(), &after) != 0 || after.st_ino != before.st_ino
            || after.st_dev != before.st_dev || target.isEmpty())
            return std::nullopt;
#endif
        path = target;
    }
    return std::nullopt;
}

bool writeAll(int descriptor, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written
                = ::write(descriptor, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

// Writes the file that `checked` describes in place. O_NONBLOCK makes an open that a
// lease would hold up (a Samba server's oplock while a Windows client has the file
// open: up to fs.lease-break-time, 45 s) fail at once, and a FIFO swapped in since the
// check open without waiting for a reader; O_NOFOLLOW refuses a link swapped in. What
// was opened must then be the very file that was checked: only then is it truncated.
SettingsWrite writeInPlace(const QString &path, const struct stat &checked, const QByteArray &bytes)
{
    const int descriptor = ::open(nativePath(path).constData(),
                                  O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        if (errno == EWOULDBLOCK)
            return SettingsWrite::Held;
        if (errno == ELOOP)
            return SettingsWrite::OthersLink;
        return errno == ENXIO ? SettingsWrite::NotAFile : SettingsWrite::Failed;
    }
    struct stat opened;
    SettingsWrite result = SettingsWrite::Failed;
    if (::fstat(descriptor, &opened) != 0)
        result = SettingsWrite::Failed;
    else if (!S_ISREG(opened.st_mode))
        result = SettingsWrite::NotAFile;
    else if (opened.st_ino == checked.st_ino && opened.st_dev == checked.st_dev
             && ::ftruncate(descriptor, 0) == 0 && writeAll(descriptor, bytes))
        result = SettingsWrite::Saved;
    return ::close(descriptor) == 0 ? result : SettingsWrite::Failed;
}

// Replaces `path` as QSaveFile would (a new file beside it, renamed over it), but
// without following a link: QSaveFile resolves a link when it opens, and a link that
// another user swaps in after the check would be followed. rename() replaces the name
// itself. The new file takes the old one's permissions exactly (or 0666 less the
// umask), and is on disk before it takes the old one's place.
SettingsWrite replaceAtomically(const QString &path, const struct stat *existing,
                                const QByteArray &bytes)
{
    const mode_t mode = existing ? (existing->st_mode & 07777) : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString temporary = path + QLatin1Char('.')
                + QString::number(QRandomGenerator::global()->generate64(), 16)
                + QLatin1String(".tmp");
        const QByteArray name = nativePath(temporary);
        const int descriptor = ::open(name.constData(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (descriptor < 0 && errno == EEXIST)
            continue;
        if (descriptor < 0) {
            if (errno != EACCES && errno != EPERM && errno != EROFS)
                return SettingsWrite::Failed; // a full disk, a quota: the old file stays
            // A folder that takes no new files (a shared folder, a read-only one holding
            // a writable settings.txt) leaves no choice but to write the file in place,
            // as a plain writer would: the settings of the run are kept, at the risk of
            // a torn file if the write fails.
            return existing ? writeInPlace(path, *existing, bytes) : SettingsWrite::Failed;
        }
        const bool written = (!existing || ::fchmod(descriptor, mode) == 0)
                && writeAll(descriptor, bytes) && ::fsync(descriptor) == 0;
        if (::close(descriptor) == 0 && written
            && ::rename(name.constData(), nativePath(path).constData()) == 0)
            return SettingsWrite::Saved;
        ::unlink(name.constData());
        return SettingsWrite::Failed;
    }
    return SettingsWrite::Failed;
}

} // namespace

SettingsWrite writeSettingsFile(const QString &path, const QString &text)
{
    const std::optional<QString> target = ownTarget(path);
    if (!target)
        return SettingsWrite::OthersLink;
    const QByteArray bytes = encodeSettings(text);
    struct stat existing;
    if (::lstat(nativePath(*target).constData(), &existing) != 0)
        return errno == ENOENT ? replaceAtomically(*target, nullptr, bytes) : SettingsWrite::Failed;
    // A FIFO, a device or a directory in the file's place is not ours to replace.
    if (!S_ISREG(existing.st_mode))
        return SettingsWrite::NotAFile;
    // Replacing another user's file (in a folder shared with others) would make it ours,
    // and its owner could no longer save theirs: it is written in place, like a plain
    // writer would.
    if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
        return writeInPlace(*target, existing, bytes);
    // A file the user made read-only is kept as it is (rename() would not ask).
    if (::faccessat(AT_FDCWD, nativePath(*target).constData(), W_OK, AT_EACCESS) != 0)
        return SettingsWrite::Failed;
    return replaceAtomically(*target, &existing, bytes);
}
#else
SettingsWrite writeSettingsFile(const QString &path, const QString &text)
{
    // QSaveFile writes a temporary file and renames it over the old one on commit(),
    // so a failed write never leaves a half-written settings file behind. A folder
    // that takes no new files leaves no choice but to write the file in place.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isFile())
        return SettingsWrite::NotAFile;
    const QByteArray bytes = encodeSettings(text);
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return SettingsWrite::Failed;
    // Trap: small writes wait in QFileDevice's buffer, and commit() does not notice
    // when writing that buffer out fails (a full disk): it would then put an empty
    // file in place of the old one. So the buffer is flushed and checked first.
    if (file.write(bytes) != bytes.size() || !file.flush()
        || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return SettingsWrite::Failed;
    }
    return file.commit() ? SettingsWrite::Saved : SettingsWrite::Failed;
}
#endif

SettingsWriter::SettingsWriter(QObject *parent) : QObject(parent)
{
    thread.setObjectName(QStringLiteral("settings writer"));
    worker.moveToThread(&thread);
}

SettingsWriter::~SettingsWriter()
{
    // The end is queued behind the writes asked: they all run first. A completion posted
    // meanwhile goes with this object, never called.
    if (thread.isRunning()) {
        QMetaObject::invokeMethod(
                &worker, [this] { thread.quit(); }, Qt::QueuedConnection);
        thread.wait();
    }
}

void SettingsWriter::write(const QString &path, const QString &text,
                           std::function<void(SettingsWrite)> done)
{
    const auto tell = [this, done = std::move(done)](SettingsWrite result) {
        QMetaObject::invokeMethod(
                this, [done, result] { done(result); }, Qt::QueuedConnection);
    };
    // Trap: a thread that cannot be created (pthread_create() failing) only costs a
    // warning, and QThreadPool would keep the write queued for ever, and wait for it
    // for ever on destruction. QThread tells.
    if (!thread.isRunning())
        thread.start();
    if (!thread.isRunning()) {
        tell(writeSettingsFile(path, text));
        return;
    }
    QMetaObject::invokeMethod(
            &worker, [path, text, tell] { tell(writeSettingsFile(path, text)); },
            Qt::QueuedConnection);
}

QString settingsNotSavedLine(SettingsWrite write)
{
    switch (write) {
    case SettingsWrite::OthersLink:
        return QCoreApplication::translate(
                "Tarnwell", "settings.txt not saved: it is a link that belongs to another user");
    case SettingsWrite::Held:
        return QCoreApplication::translate("Tarnwell",
                                           "settings.txt not saved: another program holds it open");
    case SettingsWrite::NotAFile:
        return QCoreApplication::translate("Tarnwell",
                                           "settings.txt not saved: it is not a regular file");
    case SettingsWrite::Saved:
    case SettingsWrite::Failed:
        break;
    }
    return QString();
}

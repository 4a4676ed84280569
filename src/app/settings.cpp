#include "settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#ifdef Q_OS_UNIX
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
    QStringDecoder decode(QStringConverter::System);
    return parseSettingsText(decode(bytes));
}

QByteArray encodeSettings(const QString &text)
{
    QStringEncoder encode(QStringConverter::System);
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

bool writeSettingsFile(const QString &path, const QString &text)
{
    // QSaveFile writes a temporary file and renames it over the old one on commit(),
    // so a failed write never leaves a half-written settings file behind. It also
    // refuses to replace an existing file that is not writable. A folder that takes no
    // new files (a shared folder, a read-only one holding a writable settings.txt)
    // leaves no choice but to write the file in place, as a plain writer would: the
    // settings of the run are kept, at the risk of a torn file if the write fails.
    // A FIFO, a device or a directory in the file's place is not ours to replace.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isFile())
        return false;
    const QByteArray bytes = encodeSettings(text);
#ifdef Q_OS_UNIX
    // Replacing another user's file (in a folder shared with others) would make it ours,
    // and its owner could no longer save theirs: it is written in place, like a plain
    // writer would.
    if (existing.exists()
        && (existing.ownerId() != ::geteuid() || existing.groupId() != ::getegid())) {
        QFile inPlace(path);
        return inPlace.open(QIODevice::WriteOnly | QIODevice::Truncate)
                && inPlace.write(bytes) == bytes.size() && inPlace.flush();
    }
#endif
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Trap: small writes wait in QFileDevice's buffer, and commit() does not notice
    // when writing that buffer out fails (a full disk): it would then put an empty
    // file in place of the old one. So the buffer is flushed and checked first.
    if (file.write(bytes) != bytes.size() || !file.flush()
        || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

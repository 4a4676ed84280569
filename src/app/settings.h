#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <optional>

// settings.txt: key lines, each followed by exactly one value line. The writer puts
// an empty line after every value and writes LF line ends; the reader also takes
// CR LF. Text is written in UTF-8; a file that is not valid UTF-8 is read in the
// system's local 8-bit encoding (older files on Windows).
inline constexpr char installDirectoryKey[] = "VDSP Installation Path:";
inline constexpr char messagePersonalityKey[] = "Message Personality:";
inline constexpr char analyserPersonalityKey[] = "Analyser Personality:";
inline constexpr char compilerPersonalityKey[] = "Compiler Personality:";

inline constexpr char settingsFileName[] = "settings.txt";

// The four remembered inputs. On reading, a key that the file does not hold leaves
// its entry empty (std::nullopt), and the field keeps what it had.
struct RememberedInputs
{
    std::optional<QString> installDirectory;
    std::optional<QString> messagePersonality;
    std::optional<QString> analyserPersonality;
    std::optional<QString> compilerPersonality;

    friend bool operator==(const RememberedInputs &a, const RememberedInputs &b)
    {
        return a.installDirectory == b.installDirectory
                && a.messagePersonality == b.messagePersonality
                && a.analyserPersonality == b.analyserPersonality
                && a.compilerPersonality == b.compilerPersonality;
    }
};

// The text of a settings file. The installation directory is always written (also
// when empty); a personality only when it is not empty.
QString settingsText(const QString &installDirectory, const QString &messagePersonality,
                     const QString &analyserPersonality, const QString &compilerPersonality);

// Reads a settings text. Keys match whole lines exactly, letter case included; the
// line after a key is its value, never itself a key; a key on the last line gives an
// empty value; of two equal keys the later wins; other lines are skipped.
RememberedInputs parseSettingsText(const QString &text);

// The same on the file's bytes: UTF-8, or the system's local 8-bit text where they are
// not valid UTF-8.
RememberedInputs parseSettings(const QByteArray &bytes);
QByteArray encodeSettings(const QString &text);

// The most of settings.txt that is read: four entries of ours are far smaller.
inline constexpr qint64 maxSettingsFileBytes = 64 * 1024;

// Reads the file, at most maxSettingsFileBytes of it, and only if it is a regular file
// (or a link to one); anything else, or a file that cannot be read, gives no entries.
// Never blocks.
RememberedInputs readSettingsFile(const QString &path);

// What became of a write of settings.txt.
enum class SettingsWrite {
    Saved,
    Failed, // no permission, a full disk, no such folder
    OthersLink, // a link that belongs to another user: never written through
    Held, // another program holds the file and the write would wait for it (a lease)
    NotAFile, // a FIFO, a device or a directory in its place
};

// Replaces the file with `text` only if all of it can be written: on any error
// (no permission, disk full) an existing file keeps its bytes, and something other
// than a regular file in its place (a directory, a FIFO) is left alone. The user's own
// links are followed (and stay links); another user's link never is. Waits for no
// other program (a lease, a FIFO's reader), only for the disk: the new file is on it
// before it takes the old one's place.
SettingsWrite writeSettingsFile(const QString &path, const QString &text);

// Writes settings files away from the thread that asks. Putting a file on the disk
// waits for the disk, and at the end of a run that waited 80 ms while another program
// wrote a lot (longer on a network folder): the window would not answer meanwhile.
// Writes run one at a time, in the order asked; destroying the writer waits for every
// write asked, so closing the window loses none. Where no thread can be had (the user's
// process limit reached, no room for a thread's stack), the write is made at once in
// the thread that asks, as it was before it had one.
class SettingsWriter : public QObject
{
public:
    explicit SettingsWriter(QObject *parent = nullptr);
    ~SettingsWriter() override;

    // Writes as writeSettingsFile() does, then calls `done` with what became of it, in
    // this object's thread, unless the writer is gone by then.
    void write(const QString &path, const QString &text, std::function<void(SettingsWrite)> done);

private:
    QThread thread;
    // Lives in `thread`: the writes are queued to it, and its event loop runs them in
    // the order asked.
    QObject worker;
};

// The details log's line for settings refused for what the file is, or "" (saved, or
// failed for reasons the user need not hear of).
QString settingsNotSavedLine(SettingsWrite write);

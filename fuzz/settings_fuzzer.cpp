// libFuzzer target for the settings reader. Any bytes must be read without a crash or
// a sanitizer report, and the writer and the reader must agree: for any four field
// texts without line breaks, reading what is written gives them back.

#include "app/settings.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes
            = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const RememberedInputs read = parseSettings(bytes);
    (void)read;

    // Four field texts made from the same input, as a user could type them.
    QStringList fields = QString::fromUtf8(bytes).split(QChar(0x1f));
    fields.resize(4);
    for (QString &field : fields) {
        field.remove(QLatin1Char('\n'));
        field.remove(QLatin1Char('\r'));
    }
    const QString text = settingsText(fields[0], fields[1], fields[2], fields[3]);
    for (const RememberedInputs &back :
         { parseSettingsText(text), parseSettings(encodeSettings(text)) }) {
        check(back.installDirectory == fields[0]);
        check(back.messagePersonality.value_or(QString()) == fields[1]);
        check(back.analyserPersonality.value_or(QString()) == fields[2]);
        check(back.compilerPersonality.value_or(QString()) == fields[3]);
    }
    return 0;
}

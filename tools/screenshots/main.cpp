// Takes the README's screenshots: starts the real wizard offscreen in a copy of the
// sample project folder, fills the pages with sample values, grabs each page and the
// last page after a conversion by the stand-in converter.
//
//   tarnwell_screenshots [--replace] [--compare <folder>] <sample folder> <output folder>
//
// writes page0.png .. page3.png and page3-converted.png. Paths are relative to the
// sample folder, so the pictures show no path of the machine that took them. Pictures
// already in the output folder (the README's, in docs/) are replaced only when asked.
// With --compare, each picture is then compared pixel for pixel with the one of the
// same name in that folder, and the tool fails when any differs: the README's pictures
// cannot go stale. The rendering is the offscreen platform's software rasteriser with
// the fonts the project installs, so the same release draws the same pixels; a cursor
// that blinks would not, so it does not blink here.

#include "app/tarnwell.h"
#include "form/tarnwellpage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <cstdio>

namespace {

bool copyFolder(const QString &from, const QString &to)
{
    const QDir source(from);
    int copied = 0;
    QDirIterator it(source.absolutePath(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = QDir(to).filePath(source.relativeFilePath(file));
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(file, target))
            return false;
        ++copied;
    }
    return copied > 0;
}

bool save(QWidget &window, const QString &folder, const QString &name)
{
    QTest::qWait(50);
    const QString file = QDir(folder).filePath(name);
    if (!window.grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

// The names of the pictures in `taken` that differ from those of the same name in
// `expected` (or that `expected` lacks).
QStringList differing(const QStringList &names, const QString &taken, const QString &expected)
{
    QStringList different;
    for (const QString &name : names) {
        const QImage now(QDir(taken).filePath(name));
        const QImage before(QDir(expected).filePath(name));
        if (before.isNull()
            || now.convertToFormat(QImage::Format_ARGB32)
                    != before.convertToFormat(QImage::Format_ARGB32))
            different << name;
    }
    return different;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Takes a screenshot of each page of the wizard, offscreen, and of the last page "
            "after a conversion by the stand-in converter."));
    parser.addHelpOption();
    const QCommandLineOption replace(
            QStringLiteral("replace"),
            QStringLiteral("Replace pictures already in the output folder."));
    parser.addOption(replace);
    const QCommandLineOption compare(
            QStringLiteral("compare"),
            QStringLiteral("Fail when a picture differs from the one of the same name in "
                           "<folder>."),
            QStringLiteral("folder"));
    parser.addOption(compare);
    parser.addPositionalArgument(QStringLiteral("sample"),
                                 QStringLiteral("The sample folder (docs/sample)."));
    parser.addPositionalArgument(QStringLiteral("output"),
                                 QStringLiteral("The folder to write the pictures to."));
    parser.process(application);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        parser.showHelp(2);
    const QString output = QDir(arguments[1]).absolutePath();
    const QString expected
            = parser.isSet(compare) ? QDir(parser.value(compare)).absolutePath() : QString();
    const QStringList names = { QStringLiteral("page0.png"), QStringLiteral("page1.png"),
                                QStringLiteral("page2.png"), QStringLiteral("page3.png"),
                                QStringLiteral("page3-converted.png") };
    for (const QString &name : names) {
        const QString picture = QDir(output).filePath(name);
        if (!parser.isSet(replace) && QFileInfo::exists(picture)) {
            std::fprintf(stderr, "%s exists; give --replace to replace it\n", qPrintable(picture));
            return 2;
        }
    }
    QTemporaryDir work;
    if (!QDir().mkpath(output) || !copyFolder(arguments[0], work.path())) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(arguments[0]));
        return 1;
    }
    QDir::setCurrent(work.path());
    QApplication::setCursorFlashTime(0);
    qputenv("PATH",
            QFile::encodeName(QStringLiteral(TARNWELL_CONVERTER_DIR))
                    + QDir::listSeparator().toLatin1() + qgetenv("PATH"));

    Tarnwell wizard;
    wizard.show();
    if (!QTest::qWaitForWindowExposed(&wizard))
        return 1;
    wizard.VDSPProjectEdit->setText(QStringLiteral("project/app.dpj"));
    wizard.VDSPInstallDirEdit->setText(QStringLiteral("vdsp"));
    wizard.NorvikProjectEdit->setText(QStringLiteral("out"));
    wizard.NorvikNameEdit->setText(QStringLiteral("sample"));
    bool saved = save(wizard, output, QStringLiteral("page0.png"));
    wizard.button(QWizard::NextButton)->click();

    wizard.MsgPersonEdit->setText(QStringLiteral("personalities/message.p_s"));
    wizard.AnalPersonEdit->setText(QStringLiteral("personalities/analyser.p_a"));
    wizard.CmpPersonEdit->setText(QStringLiteral("personalities/compiler.p_c"));
    saved = save(wizard, output, QStringLiteral("page1.png")) && saved;
    wizard.button(QWizard::NextButton)->click();

    wizard.cppCheck->setChecked(true);
    wizard.cCheck->setChecked(true);
    wizard.hCheck->setChecked(true);
    wizard.CustExtEdit->setText(QStringLiteral("asm"));
    saved = save(wizard, output, QStringLiteral("page2.png")) && saved;
    wizard.button(QWizard::NextButton)->click();
    saved = save(wizard, output, QStringLiteral("page3.png")) && saved;

    wizard.button(QWizard::FinishButton)->click();
    if (!QTest::qWaitFor(
                [&wizard] {
                    return wizard.button(QWizard::CancelButton)->text() == QLatin1String("Close");
                },
                20000)) {
        std::fprintf(stderr, "the conversion did not end:\n%s\n",
                     qPrintable(wizard.DetailsText->toPlainText()));
        return 1;
    }
    saved = save(wizard, output, QStringLiteral("page3-converted.png")) && saved;
    if (!saved)
        return 1;
    if (expected.isEmpty())
        return 0;
    const QStringList different = differing(names, output, expected);
    for (const QString &name : different)
        std::fprintf(stderr, "%s differs from %s\n", qPrintable(QDir(output).filePath(name)),
                     qPrintable(QDir(expected).filePath(name)));
    if (!different.isEmpty())
        std::fprintf(stderr,
                     "The pictures are not what the program draws: look at them, and renew "
                     "them with\n  tarnwell_screenshots --replace docs/sample docs\n");
    return different.isEmpty() ? 0 : 1;
}

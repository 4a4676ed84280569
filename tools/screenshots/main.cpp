// Takes the README's screenshots: starts the real wizard offscreen in a copy of the
// sample project folder, fills the pages with sample values, grabs each page and the
// last page after a conversion by the stand-in converter.
//
//   tarnwell_screenshots [--replace] <sample folder> <output folder>
//
// writes page0.png .. page3.png and page3-converted.png. Paths are relative to the
// sample folder, so the pictures show no path of the machine that took them. Pictures
// already in the output folder (the README's, in docs/) are replaced only when asked.

#include "app/tarnwell.h"
#include "form/tarnwellpage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
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
    parser.addPositionalArgument(QStringLiteral("sample"),
                                 QStringLiteral("The sample folder (docs/sample)."));
    parser.addPositionalArgument(QStringLiteral("output"),
                                 QStringLiteral("The folder to write the pictures to."));
    parser.process(application);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        parser.showHelp(2);
    const QString output = QDir(arguments[1]).absolutePath();
    for (const char *name :
         { "page0.png", "page1.png", "page2.png", "page3.png", "page3-converted.png" }) {
        const QString picture = QDir(output).filePath(QLatin1String(name));
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
    return saved ? 0 : 1;
}

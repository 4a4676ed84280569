// Takes the README's screenshots: starts the real wizard offscreen in a copy of the
// sample project folder, fills the pages with sample values, grabs each page and the
// last page after a conversion by the stand-in converter.
//
//   tarnwell_screenshots <sample folder> <output folder>
//
// writes page0.png .. page3.png and page3-converted.png. Paths are relative to the
// sample folder, so the pictures show no path of the machine that took them.

#include "app/tarnwell.h"
#include "form/tarnwellpage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
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
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: tarnwell_screenshots <sample folder> <output folder>\n");
        return 2;
    }
    const QString output = QDir(arguments[2]).absolutePath();
    QTemporaryDir work;
    if (!QDir().mkpath(output) || !copyFolder(arguments[1], work.path())) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(arguments[1]));
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

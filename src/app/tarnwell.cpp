#include "tarnwell.h"

#include "conversion.h"
#include "converterrun.h"
#include "detailslog.h"
#include "form/tarnwellpage.h"
#include "pathfields.h"
#include "settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>

namespace {

const QColor black(0, 0, 0);
const QColor red(255, 0, 0);

void setTextColour(QLineEdit *field, const QColor &colour)
{
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, colour);
    field->setPalette(palette);
}

// Shows whether a path exists, in the field's text colour; returns whether it does.
bool markPath(QLineEdit *field)
{
    const bool exists = QFileInfo::exists(field->text());
    setTextColour(field, exists ? black : red);
    return exists;
}

} // namespace

Tarnwell::Tarnwell(QWidget *parent, const char *name, bool modal, Qt::WindowFlags fl)
    : TarnwellBase(parent, name, modal, fl), converterRun(new ConverterRun(this)),
      detailsLog(new DetailsLog(DetailsText)), settingsWriter(new SettingsWriter(this))
{
    Page0->setComplete(false);
    // Finish stays disabled until the user leaves Page2 with Next. No Help button:
    // QWizard shows one only with HaveHelpButton, which stays unset.
    Page3->setComplete(false);

    // A field is one line: a line break pasted into it (a path copied with its line
    // end) would split the entry in settings.txt and shift the entries after it.
    for (QLineEdit *field : findChildren<QLineEdit *>()) {
        connect(field, &QLineEdit::textChanged, field, [field](const QString &text) {
            if (hasLineBreak(text))
                field->setText(withoutLineBreaks(text));
        });
    }

    connect(VDSPInstallDirEdit, &QLineEdit::textChanged, this,
            &Tarnwell::Page0LineEdit_textchanged);
    connect(VDSPInstallBrowseBtn, &QPushButton::clicked, this,
            &Tarnwell::VDSPInstallBrowseBtn_clicked);
    connect(VDSPProjectBrowseBtn, &QPushButton::clicked, this,
            &Tarnwell::VDSPProjectBrowseBtn_clicked);
    connect(NorvikProjectBrowseBtn, &QPushButton::clicked, this,
            &Tarnwell::NorvikProjectBrowseBtn_clicked);
    connect(VDSPProjectEdit, &QLineEdit::textChanged, this, &Tarnwell::Page0LineEdit_textchanged);
    connect(NorvikProjectEdit, &QLineEdit::textChanged, this, &Tarnwell::Page0LineEdit_textchanged);
    connect(NorvikNameEdit, &QLineEdit::textChanged, this, &Tarnwell::Page0LineEdit_textchanged);
    connect(MsgBrowseBtn, &QPushButton::clicked, this, &Tarnwell::MsgBrowseBtn_clicked);
    connect(AnalBrowseBtn, &QPushButton::clicked, this, &Tarnwell::AnalBrowseBtn_clicked);
    connect(CmpBrowseBtn, &QPushButton::clicked, this, &Tarnwell::CmpBrowseBtn_clicked);
    connect(MsgPersonEdit, &QLineEdit::textChanged, this, &Tarnwell::Page1LineEdit_textchanged);
    connect(CmpPersonEdit, &QLineEdit::textChanged, this, &Tarnwell::Page1LineEdit_textchanged);
    // The template analyser personality takes part in the Page1 check like the other two.
    connect(AnalPersonEdit, &QLineEdit::textChanged, this, &Tarnwell::Page1LineEdit_textchanged);

    for (QLineEdit *field : { VDSPInstallDirEdit, VDSPProjectEdit, NorvikProjectEdit,
                              NorvikNameEdit, MsgPersonEdit, AnalPersonEdit, CmpPersonEdit })
        field->installEventFilter(this);

    auto *pathFields = new PathFields(this);
    for (QLineEdit *field : { VDSPProjectEdit, MsgPersonEdit, AnalPersonEdit, CmpPersonEdit })
        pathFields->add(field, PathFields::Kind::File);
    for (QLineEdit *field : { VDSPInstallDirEdit, NorvikProjectEdit })
        pathFields->add(field, PathFields::Kind::Folder);

    // The title bars and the task switcher show the program's own mark on every
    // platform (on Windows the program file carries it as well), on the wizard and on
    // every box and dialog it opens: the icon is the application's. Up to 64 pixels: a
    // window needs no more, and each size is decoded at start-up (256 pixels alone
    // cost more than the rest together).
    QIcon icon;
    for (const int size : { 16, 24, 32, 48, 64 })
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    // The completion popup, tool tips, menus and dialogs are windows of their own and
    // take the application's font, not the wizard's: the form's font is made the
    // application's, or they would show the desktop's, visibly larger than the form's
    // 10 pixels. (A dialog of the desktop's own, where the platform gives one, keeps
    // the desktop's font.)
    QApplication::setFont(font());

    // The form is drawn at fixed positions: a larger window would only add white
    // around it, so the window cannot be maximised; its size is fixed when it is first
    // shown (setVisible), once the wizard knows what its pages need.
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    // Qt gives a new page's focus to the first widget of the page's focus chain, which
    // follows the order of creation (the first Browse button on Page1, "*.cc" on
    // Page2). The first field in reading order takes it, so that typing fills it and
    // Enter does what the default button does.
    connect(this, &QWizard::currentIdChanged, this, [this] {
        const std::pair<QWizardPage *, QWidget *> firstFields[]
                = { { Page0, VDSPProjectEdit }, { Page1, MsgPersonEdit }, { Page2, cppCheck } };
        for (const auto &[page, field] : firstFields) {
            if (page == currentPage())
                field->setFocus();
        }
    });

    for (const WizardButton which : { NextButton, BackButton, CancelButton, FinishButton }) {
        QAbstractButton *wizardButton = button(which);
        wizardButton->setPalette(QPalette(QColor("white"), QColor("white")));
        QPalette palette = wizardButton->palette();
        palette.setColor(QPalette::Window, QColor("white"));
        wizardButton->setPalette(palette);
    }

    connect(converterRun, &ConverterRun::linesReady, this, &Tarnwell::readFromStdout);
    connect(converterRun, &ConverterRun::ended, this, &Tarnwell::processExit);
    connect(converterRun, &ConverterRun::failedToStart, this, &Tarnwell::reportStartFailure);

    // The root of the file system: "\" on Windows (the current drive), "/" elsewhere.
    browseDir = QString(QDir::separator());

    loadSettings();
}

Tarnwell::~Tarnwell()
{
    // A running converter is stopped and reaped before anything else goes: nothing of
    // it may reach a wizard half torn down.
    delete converterRun;
}

void Tarnwell::showEvent(QShowEvent *event)
{
    // What the pages, their frame and the buttons need is known only once QWizard has
    // laid out its first page, which it does on the first show: its size hint then
    // holds it (its minimum size does on Linux, not on Windows; its minimum size hint
    // is empty). The show event comes then, before the window is on screen. Fixed
    // earlier, in the constructor, the window was 20 pixels too narrow and cut off
    // every page's right edge.
    if (!sizeFixed) {
        setFixedSize(QSize(543, 486).expandedTo(sizeHint()));
        sizeFixed = true;
    }
    TarnwellBase::showEvent(event);
}

bool Tarnwell::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease) {
        if (watched == VDSPInstallDirEdit || watched == VDSPProjectEdit
            || watched == NorvikProjectEdit || watched == NorvikNameEdit) {
            Page0LineEdit_textchanged(QString());
            return false;
        }
        if (watched == MsgPersonEdit || watched == AnalPersonEdit || watched == CmpPersonEdit) {
            Page1LineEdit_textchanged(QString());
            return false;
        }
    }
    return TarnwellBase::eventFilter(watched, event);
}

void Tarnwell::setProjectFile(const QString &path)
{
    VDSPProjectEdit->setText(path);
}

QString Tarnwell::toBackslashes(const QString &path)
{
    QString result = path;
    result.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return result;
}

// Page checks -----------------------------------------------------------------------

void Tarnwell::Page0LineEdit_textchanged(const QString &)
{
    // Every path is re-coloured on every run, whichever field changed.
    const bool installGood = markPath(VDSPInstallDirEdit);
    const bool projectGood = markPath(VDSPProjectEdit);
    const bool destinationGood = markPath(NorvikProjectEdit);
    Page0->setComplete(installGood && projectGood && destinationGood
                       && !NorvikNameEdit->text().isEmpty());
}

void Tarnwell::Page1LineEdit_textchanged(const QString &)
{
    // The personalities are optional; each one given must exist. An empty field keeps
    // its colour.
    bool allGood = true;
    for (QLineEdit *field : { MsgPersonEdit, AnalPersonEdit, CmpPersonEdit }) {
        if (!field->text().isEmpty())
            allGood = markPath(field) && allGood;
    }
    Page1->setComplete(allGood);
}

void Tarnwell::next()
{
    // QWizard::next() is not virtual, and the Next button calls it directly. The work
    // of leaving Page2 therefore lives in validateCurrentPage(), which Qt calls on
    // every Next (and never on Back); this slot moves on the same way.
    TarnwellBase::next();
}

bool Tarnwell::validateCurrentPage()
{
    if (currentPage() == Page2)
        leavePage2();
    return TarnwellBase::validateCurrentPage();
}

void Tarnwell::leavePage2()
{
    // A new summary ends the run before it: its output and outcome would otherwise
    // land under the new choices, as if they had been converted.
    converterRun->stop();
    fileExtensions = fileExtensionList({ cppCheck->isChecked(), ccCheck->isChecked(),
                                         cxxCheck->isChecked(), cCheck->isChecked(),
                                         hCheck->isChecked(), hhCheck->isChecked(),
                                         hppCheck->isChecked(), hxxCheck->isChecked() },
                                       CustExtEdit->text());
    ++logRestarts;
    detailsLog->restart(conversionSummary(currentInputs()));
    Page3->setComplete(true);
}

ConversionInputs Tarnwell::currentInputs() const
{
    return { VDSPProjectEdit->text(),    NorvikProjectEdit->text(),
             VDSPInstallDirEdit->text(), NorvikNameEdit->text(),
             MsgPersonEdit->text(),      AnalPersonEdit->text(),
             CmpPersonEdit->text(),      fileExtensions };
}

// Settings ----------------------------------------------------------------------------

void Tarnwell::loadSettings()
{
    const RememberedInputs remembered = readSettingsFile(QLatin1String(settingsFileName));
    const std::pair<const std::optional<QString> &, QLineEdit *> entries[] = {
        { remembered.installDirectory, VDSPInstallDirEdit },
        { remembered.messagePersonality, MsgPersonEdit },
        { remembered.analyserPersonality, AnalPersonEdit },
        { remembered.compilerPersonality, CmpPersonEdit },
    };
    for (const auto &[value, field] : entries) {
        if (value)
            field->setText(*value);
    }
}

void Tarnwell::saveSettings()
{
    // A settings file that cannot be written only costs the user the remembered paths,
    // and the old file stays as it was: no box. One that is not saved because of what
    // lies in its place (another user's link, a file held open) is told in the log.
    const quint64 restarts = logRestarts;
    settingsWriter->write(QLatin1String(settingsFileName),
                          settingsText(VDSPInstallDirEdit->text(), MsgPersonEdit->text(),
                                       AnalPersonEdit->text(), CmpPersonEdit->text()),
                          [this, restarts](SettingsWrite write) {
                              if (restarts != logRestarts)
                                  return;
                              const QString notSaved = settingsNotSavedLine(write);
                              if (!notSaved.isEmpty())
                                  detailsLog->appendText(QLatin1Char('\n') + notSaved);
                              emit runReported();
                          });
}

// Browse dialogs ----------------------------------------------------------------------

void Tarnwell::VDSPInstallBrowseBtn_clicked()
{
    browseForDirectory(VDSPInstallDirEdit, tr("Specify the VisualDSP Installation Directory"));
}

void Tarnwell::VDSPProjectBrowseBtn_clicked()
{
    browseForFile(VDSPProjectEdit, tr("Select a VisualDSP Project"),
                  tr("VisualDSP Projects (*.dpj)"));
}

void Tarnwell::NorvikProjectBrowseBtn_clicked()
{
    browseForDirectory(NorvikProjectEdit,
                       tr("Select the Norvik/Norvik++ Project Destination Directory"));
}

void Tarnwell::MsgBrowseBtn_clicked()
{
    browseForFile(MsgPersonEdit, tr("Select a Message Personality"),
                  tr("Msg Personalities(*.p_s)"));
}

void Tarnwell::AnalBrowseBtn_clicked()
{
    browseForFile(AnalPersonEdit, tr("Select a Template Analyser Personality"),
                  tr("Analiser Personalities(*.p_a)"));
}

void Tarnwell::CmpBrowseBtn_clicked()
{
    browseForFile(CmpPersonEdit, tr("Select a Compiler Personality"),
                  tr("Cmp Personalities(*.p_c)"));
}

void Tarnwell::browseForDirectory(QLineEdit *field, const QString &caption)
{
    QFileDialog dialog(this, caption, browseDir);
    dialog.setObjectName(QStringLiteral("get existing directory"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() == QDialog::Accepted)
        takeDialogResult(field, dialog.selectedFiles().value(0));
}

void Tarnwell::browseForFile(QLineEdit *field, const QString &caption, const QString &filter)
{
    QFileDialog dialog(this, caption, browseDir, filter);
    dialog.setObjectName(QStringLiteral("open file dialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() == QDialog::Accepted)
        takeDialogResult(field, dialog.selectedFiles().value(0));
}

void Tarnwell::takeDialogResult(QLineEdit *field, const QString &path)
{
#ifdef Q_OS_WIN
    const QString result = toBackslashes(path);
#else
    const QString result = path;
#endif
    if (result.isEmpty())
        return;
    browseDir = result;
    field->setText(result);
}

// Conversion run ----------------------------------------------------------------------

void Tarnwell::accept()
{
    // One converter at a time: starting a run stops an earlier one that is still
    // going, and nothing of it reaches this one.
    ++logRestarts;
    detailsLog->restart(tr("Initialising Project Conversion ...\n"));
    // Only the search path is searched, and the program is started by its full path:
    // a converter lying in the working directory is never run by accident.
    converterRun->start(findConverter(qEnvironmentVariable("PATH")),
                        converterArguments(currentInputs()));
    Page3->setComplete(false);
}

void Tarnwell::reportStartFailure()
{
    detailsLog->appendText(tr("Project Conversion could not be executed: Please ensure "
                              "Movrak.exe is set on the path.\n"));
}

void Tarnwell::readFromStdout()
{
    detailsLog->appendLines(converterRun->takeLines());
}

void Tarnwell::processExit()
{
    readFromStdout();
    const ConverterRun::Outcome outcome = converterRun->outcome();
    if (outcome == ConverterRun::Outcome::Succeeded)
        detailsLog->appendText(tr("Project Converted Successfully!"));
    // The box goes once answered: the log keeps telling what happened.
    else if (outcome == ConverterRun::Outcome::Failed)
        detailsLog->appendText(tr("Project Conversion Failed!"));
    // A converter that crashed or was killed from outside would otherwise leave the
    // user waiting on a dead run.
    else if (outcome == ConverterRun::Outcome::EndedAbnormally)
        detailsLog->appendText(tr("Project Conversion did not complete: Movrak ended abnormally."));
    // The outcome is reported once the log shows all of the converter's output.
    detailsLog->whenShown([this, outcome] {
        if (outcome == ConverterRun::Outcome::Succeeded)
            setButtonText(CancelButton, tr("Close"));
        // The wizard's child: it opens centred on the wizard and stays above it; not
        // once the wizard is closed (Cancel while the log still caught up).
        else if (outcome == ConverterRun::Outcome::Failed && isVisible())
            QMessageBox::about(this, tr("Tarnwell"),
                               tr("Project Conversion Failed!\nPlease check the details log "
                                  "and try again."));
        saveSettings(); // reports the run once written
    });
}

void Tarnwell::reject()
{
    converterRun->stop();
    TarnwellBase::reject();
}

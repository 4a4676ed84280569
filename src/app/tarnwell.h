#pragma once

#include "conversion.h"
#include "form/tarnwellbase.h"

class ConverterRun;
class DetailsLog;
class SettingsWriter;

// The wizard: checks the pages, remembers inputs in settings.txt, fills fields from
// file dialogs and runs the converter with the user's choices.
class Tarnwell : public TarnwellBase
{
    Q_OBJECT

public:
    explicit Tarnwell(QWidget *parent = nullptr, const char *name = nullptr, bool modal = false,
                      Qt::WindowFlags fl = {});
    ~Tarnwell() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

    // The converter run, for those who wait on its signals.
    ConverterRun *conversion() const { return converterRun; }

    // Fills the project file field (from the command line), checked as if typed.
    void setProjectFile(const QString &path);

    // Turns every "/" of a path into "\"; nothing else changes.
    static QString toBackslashes(const QString &path);

public slots:
    void VDSPInstallBrowseBtn_clicked();
    void VDSPProjectBrowseBtn_clicked();
    void NorvikProjectBrowseBtn_clicked();
    void Page0LineEdit_textchanged(const QString &);
    void Page1LineEdit_textchanged(const QString &);
    void MsgBrowseBtn_clicked();
    void AnalBrowseBtn_clicked();
    void CmpBrowseBtn_clicked();
    void readFromStdout();
    void processExit();

signals:
    // A run's outcome is shown (in the log, the Cancel button or the box) and the
    // settings are written.
    void runReported();

protected slots:
    void next();
    void accept() override;
    void reject() override;

protected:
    bool validateCurrentPage() override;
    void showEvent(QShowEvent *event) override;

private:
    void loadSettings();
    void saveSettings();

    void leavePage2();
    ConversionInputs currentInputs() const;
    void browseForDirectory(QLineEdit *field, const QString &caption);
    void browseForFile(QLineEdit *field, const QString &caption, const QString &filter);
    void takeDialogResult(QLineEdit *field, const QString &path);
    void reportStartFailure();

    QString fileExtensions;
    // The converter of the latest run (its process: converterRun->process()).
    ConverterRun *converterRun;
    QString browseDir;

    DetailsLog *detailsLog;
    SettingsWriter *settingsWriter;
    // How often the log was begun anew (a new summary, a new run): a settings write
    // that ends after that belongs to a run the log no longer shows, and tells nothing.
    quint64 logRestarts = 0;
    bool sizeFixed = false;
};

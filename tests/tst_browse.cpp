// The six Browse buttons, driven through the real file dialogs.

#include "support.h"

#include <QFileDialog>
#include <QPushButton>

namespace {

// What a dialog showed when it opened.
struct Opened
{
    QString objectName;
    QString caption;
    QStringList filters;
    QString directory;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
};

} // namespace

class BrowseTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { work = std::make_unique<WorkingDirectory>(); }
    void cleanup()
    {
        work.reset();
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window was left behind");
    }

    void dialogs_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("objectName");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("choice");
        const QString directory = QStringLiteral("get existing directory");
        const QString file = QStringLiteral("open file dialog");
        QTest::newRow("installation")
                << "VDSPInstallBrowseBtn"
                << "VDSPInstallDirEdit" << directory
                << "Specify the VisualDSP Installation Directory" << QString() << "vdsp";
        QTest::newRow("project") << "VDSPProjectBrowseBtn"
                                 << "VDSPProjectEdit" << file << "Select a VisualDSP Project"
                                 << "VisualDSP Projects (*.dpj)"
                                 << "app.dpj";
        QTest::newRow("destination")
                << "NorvikProjectBrowseBtn"
                << "NorvikProjectEdit" << directory
                << "Select the Norvik/Norvik++ Project Destination Directory" << QString() << "out";
        QTest::newRow("message") << "MsgBrowseBtn"
                                 << "MsgPersonEdit" << file << "Select a Message Personality"
                                 << "Msg Personalities(*.p_s)"
                                 << "m.p_s";
        QTest::newRow("analyser") << "AnalBrowseBtn"
                                  << "AnalPersonEdit" << file
                                  << "Select a Template Analyser Personality"
                                  << "Analiser Personalities(*.p_a)"
                                  << "a.p_a";
        QTest::newRow("compiler") << "CmpBrowseBtn"
                                  << "CmpPersonEdit" << file << "Select a Compiler Personality"
                                  << "Cmp Personalities(*.p_c)"
                                  << "c.p_c";
    }
    void dialogs()
    {
        QFETCH(QString, button);
        QFETCH(QString, field);
        QFETCH(QString, objectName);
        QFETCH(QString, caption);
        QFETCH(QString, filter);
        QFETCH(QString, choice);
        const QString chosen
                = choice.contains('.') ? work->makeFile(choice) : work->makeDirectory(choice);
        Tarnwell wizard;
        wizard.show();
        auto *browse = wizard.findChild<QPushButton *>(button);
        auto *edit = wizard.findChild<QLineEdit *>(field);
        edit->setText(QStringLiteral("typed"));

        // Cancel changes nothing, and the first dialog opens at the root.
        Opened first = openAndAnswer(browse, QString());
        QCOMPARE(first.objectName, objectName);
        QCOMPARE(first.caption, caption);
        QCOMPARE(first.directory, QDir::rootPath());
        if (filter.isEmpty()) {
            QCOMPARE(first.mode, QFileDialog::Directory);
        } else {
            QCOMPARE(first.mode, QFileDialog::ExistingFile);
            QCOMPARE(first.filters, QStringList { filter });
        }
        QCOMPARE(edit->text(), QStringLiteral("typed"));
        QCOMPARE(openAndAnswer(browse, QString()).directory, QDir::rootPath());

        // A choice fills the field, and the next dialog of any kind starts there.
        openAndAnswer(browse, chosen);
        QCOMPARE(edit->text(), chosen);
        const QString startOfNext = QFileInfo(chosen).isDir() ? chosen : work->path();
        QCOMPARE(openAndAnswer(wizard.MsgBrowseBtn, QString()).directory, startOfNext);
        QCOMPARE(openAndAnswer(wizard.VDSPInstallBrowseBtn, QString()).directory, startOfNext);
        QCOMPARE(edit->text(), chosen);
    }

    void typedPathsDoNotMoveTheStart()
    {
        Tarnwell wizard;
        wizard.show();
        wizard.VDSPInstallDirEdit->setText(work->makeDirectory("vdsp"));
        QCOMPARE(openAndAnswer(wizard.VDSPInstallBrowseBtn, QString()).directory, QDir::rootPath());
    }

private:
    // Presses `button`, records the dialog that opens and then chooses `path` in it,
    // or cancels it when `path` is empty.
    Opened openAndAnswer(QPushButton *button, const QString &path)
    {
        Opened opened;
        WhenShown<QFileDialog> answer([&opened, &path](QFileDialog *dialog) {
            opened = { dialog->objectName(), dialog->windowTitle(), dialog->nameFilters(),
                       dialog->directory().absolutePath(), dialog->fileMode() };
            if (path.isEmpty()) {
                dialog->reject();
            } else {
                const QFileInfo chosen(path);
                if (chosen.isDir()) {
                    dialog->setDirectory(path);
                } else {
                    // Typed into the name field, as a user would.
                    dialog->setDirectory(chosen.absolutePath());
                    dialog->findChild<QLineEdit *>("fileNameEdit")->setText(chosen.fileName());
                }
                static_cast<QDialog *>(dialog)->accept(); // the dialog's own Open
            }
        });
        button->click();
        if (answer.answered != 1)
            qWarning("the dialog was answered %d times", answer.answered);
        return opened;
    }

    std::unique_ptr<WorkingDirectory> work;
};

QTEST_MAIN(BrowseTest)
#include "tst_browse.moc"

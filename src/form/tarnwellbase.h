#pragma once

#include <QPixmap>
#include <QWizard>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextBrowser;
class TarnwellPage;

// The wizard's form: four pages of widgets at fixed positions, their texts and their
// artwork. It has no behaviour; the wizard class Tarnwell wires it up.
class TarnwellBase : public QWizard
{
    Q_OBJECT

public:
    explicit TarnwellBase(QWidget *parent = nullptr, const char *name = nullptr, bool modal = false,
                          Qt::WindowFlags fl = {});
    ~TarnwellBase() override;

    TarnwellPage *Page0;
    QLabel *pixmapLabel3;
    QLabel *pixmapLabel3_3;
    QGroupBox *groupBox2;
    QLabel *textLabel1_2;
    QLabel *textLabel1;
    QPushButton *NorvikProjectBrowseBtn;
    QLineEdit *NorvikProjectEdit;
    QLineEdit *NorvikNameEdit;
    QGroupBox *groupBox1_3;
    QLabel *textLabel1_3_3;
    QLabel *textLabel2_2;
    QFrame *line1;
    QFrame *line1_2;
    QGroupBox *groupBox1;
    QLabel *textLabel1_3_2;
    QLabel *textLabel1_3;
    QLineEdit *VDSPProjectEdit;
    QLineEdit *VDSPInstallDirEdit;
    QPushButton *VDSPProjectBrowseBtn;
    QPushButton *VDSPInstallBrowseBtn;

    TarnwellPage *Page1;
    QGroupBox *groupBox1_2;
    QPushButton *MsgBrowseBtn;
    QLineEdit *MsgPersonEdit;
    QGroupBox *groupBox2_2_2;
    QPushButton *AnalBrowseBtn;
    QLineEdit *AnalPersonEdit;
    QGroupBox *groupBox2_2;
    QLineEdit *CmpPersonEdit;
    QPushButton *CmpBrowseBtn;
    QLabel *pixmapLabel3_2;
    QGroupBox *groupBox1_3_2;
    QLabel *textLabel2_2_2;
    QLabel *pixmapLabel3_3_2;
    QFrame *line1_3;
    QFrame *line1_2_2;

    TarnwellPage *Page2;
    QGroupBox *groupBox1_3_2_2;
    QLabel *textLabel2_2_2_2;
    QGroupBox *groupBox7;
    QCheckBox *ccCheck;
    QCheckBox *cxxCheck;
    QCheckBox *cCheck;
    QLabel *textLabel2;
    QCheckBox *hCheck;
    QCheckBox *hhCheck;
    QCheckBox *hppCheck;
    QCheckBox *hxxCheck;
    QCheckBox *cppCheck;
    QLineEdit *CustExtEdit;
    QLabel *pixmapLabel3_2_2;
    QLabel *pixmapLabel3_3_2_2;
    QFrame *line1_3_2;
    QFrame *line1_2_2_2;

    TarnwellPage *Page3;
    QLabel *pixmapLabel3_2_2_2;
    QLabel *pixmapLabel3_3_2_2_2;
    QFrame *line1_3_2_2;
    QFrame *line1_2_2_2_2;
    QTextBrowser *DetailsText;

protected slots:
    virtual void languageChange();

private:
    QPixmap bannerImage;
    QPixmap stripImage;
};

#include "tarnwellbase.h"

#include "tarnwellpage.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>

#include "banner.xpm"
#include "strip.xpm"

namespace {

// Every page is drawn at fixed positions. Its frame reaches X 540 (the right side
// line) and Y 409 (the strip), so the page asks for that much room.
constexpr QSize pageContentSize(541, 410);

template<class Widget> Widget *makeWidget(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

TarnwellPage *makePage(QWidget *wizard, const char *name)
{
    auto *page = new TarnwellPage(wizard);
    page->setObjectName(QLatin1String(name));
    page->setMinimumSize(pageContentSize);
    return page;
}

QLabel *makePicture(QWidget *page, const char *name, const QRect &geometry, const QPixmap &image)
{
    auto *label = makeWidget<QLabel>(page, name, geometry);
    label->setPixmap(image);
    label->setScaledContents(true);
    return label;
}

QFrame *makeSideLine(QWidget *page, const char *name, const QRect &geometry)
{
    auto *line = makeWidget<QFrame>(page, name, geometry);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A group box with its look set explicitly (the ones that carry a title of their own).
QGroupBox *makePlainGroupBox(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *box = makeWidget<QGroupBox>(parent, name, geometry);
    box->setAlignment(Qt::AlignLeft);
    box->setFlat(false);
    box->setCheckable(false);
    return box;
}

QLabel *makeHelpLabel(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *label = makeWidget<QLabel>(parent, name, geometry);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QPushButton *makeBrowseButton(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *button = makeWidget<QPushButton>(parent, name, geometry);
    // A push button paints its face in the Button role; the window role is its
    // background. Both white, so the button looks white in every style.
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::Window, Qt::white);
    button->setPalette(palette);
    button->setCheckable(false);
    return button;
}

QString translated(const char *text)
{
    return QCoreApplication::translate("TarnwellBase", text);
}

// The form's positions were drawn for the smaller default font of Windows. Liberation
// Sans has the metrics of Arial (Arimo is the same design), and at 10 pixels every text
// fits its rectangle, which Linux's usual default (DejaVu Sans, 9 points = 12 pixels)
// does not. Pixels, not points: the rectangles are pixels, and a desktop's font DPI
// setting must not make the texts outgrow them (QT_SCALE_FACTOR scales both alike).
QFont formFont()
{
    QFont font;
    font.setFamilies({ QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                       QStringLiteral("Arial") });
    font.setPixelSize(10);
    return font;
}

// The form is white whatever the desktop's colours: every colour that is drawn on the
// white (texts, fields, buttons) comes from a light palette too, so a dark desktop
// theme cannot put its light text on the form's white.
QPalette formPalette(const QStyle *style)
{
    const QPalette light = style->standardPalette();
    QPalette palette;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = QPalette::ColorGroup(group);
            const auto r = QPalette::ColorRole(role);
            palette.setColor(g, r, light.color(g, r));
        }
    }
    for (const QPalette::ColorRole role : { QPalette::Window, QPalette::Base, QPalette::Button })
        palette.setColor(role, Qt::white);
    for (const QPalette::ColorRole role :
         { QPalette::WindowText, QPalette::Text, QPalette::ButtonText }) {
        palette.setColor(QPalette::Active, role, Qt::black);
        palette.setColor(QPalette::Inactive, role, Qt::black);
    }
    return palette;
}

} // namespace

TarnwellBase::TarnwellBase(QWidget *parent, const char *name, bool modal, Qt::WindowFlags fl)
    : QWizard(parent, fl), bannerImage(banner_xpm), stripImage(strip_xpm)
{
    setObjectName(QLatin1String(name ? name : "TarnwellBase"));
    setModal(modal);
    setWizardStyle(QWizard::ClassicStyle);
    setFont(formFont());
    setPalette(formPalette(style()));

    Page0 = makePage(this, "Page0");
    pixmapLabel3 = makePicture(Page0, "pixmapLabel3", { 0, 0, 532, 36 }, bannerImage);
    pixmapLabel3_3 = makePicture(Page0, "pixmapLabel3_3", { 0, 390, 532, 20 }, stripImage);
    groupBox2 = makePlainGroupBox(Page0, "groupBox2", { 20, 290, 500, 87 });
    textLabel1_2 = makeWidget<QLabel>(groupBox2, "textLabel1_2", { 10, 56, 40, 20 });
    textLabel1 = makeWidget<QLabel>(groupBox2, "textLabel1", { 10, 20, 40, 20 });
    NorvikProjectBrowseBtn
            = makeBrowseButton(groupBox2, "NorvikProjectBrowseBtn", { 410, 20, 75, 25 });
    NorvikProjectEdit = makeWidget<QLineEdit>(groupBox2, "NorvikProjectEdit", { 95, 20, 300, 25 });
    NorvikNameEdit = makeWidget<QLineEdit>(groupBox2, "NorvikNameEdit", { 95, 55, 300, 25 });
    groupBox1_3 = makeWidget<QGroupBox>(Page0, "groupBox1_3", { 20, 40, 500, 140 });
    textLabel1_3_3 = makeWidget<QLabel>(groupBox1_3, "textLabel1_3_3", { 10, 10, 461, 21 });
    QFont headingFont(textLabel1_3_3->font());
    headingFont.setPixelSize(16);
    textLabel1_3_3->setFont(headingFont);
    textLabel2_2 = makeHelpLabel(groupBox1_3, "textLabel2_2", { 10, 40, 481, 90 });
    line1 = makeSideLine(Page0, "line1", { -8, 36, 20, 355 });
    line1_2 = makeSideLine(Page0, "line1_2", { 521, 36, 20, 355 });
    groupBox1 = makeWidget<QGroupBox>(Page0, "groupBox1", { 20, 190, 500, 87 });
    textLabel1_3_2 = makeWidget<QLabel>(groupBox1, "textLabel1_3_2", { 10, 55, 80, 20 });
    textLabel1_3 = makeWidget<QLabel>(groupBox1, "textLabel1_3", { 10, 20, 80, 20 });
    VDSPProjectEdit = makeWidget<QLineEdit>(groupBox1, "VDSPProjectEdit", { 95, 20, 300, 25 });
    VDSPInstallDirEdit
            = makeWidget<QLineEdit>(groupBox1, "VDSPInstallDirEdit", { 95, 55, 300, 25 });
    VDSPProjectBrowseBtn = makeBrowseButton(groupBox1, "VDSPProjectBrowseBtn", { 410, 20, 75, 25 });
    VDSPInstallBrowseBtn = makeBrowseButton(groupBox1, "VDSPInstallBrowseBtn", { 410, 55, 75, 25 });
    addPage(Page0);

    Page1 = makePage(this, "Page1");
    groupBox1_2 = makeWidget<QGroupBox>(Page1, "groupBox1_2", { 20, 150, 500, 60 });
    MsgBrowseBtn = makeBrowseButton(groupBox1_2, "MsgBrowseBtn", { 420, 20, 75, 25 });
    MsgPersonEdit = makeWidget<QLineEdit>(groupBox1_2, "MsgPersonEdit", { 10, 20, 390, 25 });
    groupBox2_2_2 = makePlainGroupBox(Page1, "groupBox2_2_2", { 20, 220, 500, 60 });
    AnalBrowseBtn = makeBrowseButton(groupBox2_2_2, "AnalBrowseBtn", { 420, 20, 75, 25 });
    AnalPersonEdit = makeWidget<QLineEdit>(groupBox2_2_2, "AnalPersonEdit", { 10, 20, 390, 25 });
    groupBox2_2 = makePlainGroupBox(Page1, "groupBox2_2", { 20, 290, 500, 60 });
    CmpPersonEdit = makeWidget<QLineEdit>(groupBox2_2, "CmpPersonEdit", { 10, 20, 390, 25 });
    CmpBrowseBtn = makeBrowseButton(groupBox2_2, "CmpBrowseBtn", { 420, 20, 75, 25 });
    pixmapLabel3_2 = makePicture(Page1, "pixmapLabel3_2", { 0, 0, 532, 36 }, bannerImage);
    groupBox1_3_2 = makeWidget<QGroupBox>(Page1, "groupBox1_3_2", { 20, 40, 500, 100 });
    textLabel2_2_2 = makeHelpLabel(groupBox1_3_2, "textLabel2_2_2", { 10, 10, 481, 84 });
    pixmapLabel3_3_2 = makePicture(Page1, "pixmapLabel3_3_2", { 0, 390, 532, 20 }, stripImage);
    line1_3 = makeSideLine(Page1, "line1_3", { -8, 36, 20, 355 });
    line1_2_2 = makeSideLine(Page1, "line1_2_2", { 521, 36, 20, 355 });
    addPage(Page1);

    Page2 = makePage(this, "Page2");
    groupBox1_3_2_2 = makeWidget<QGroupBox>(Page2, "groupBox1_3_2_2", { 20, 40, 500, 100 });
    textLabel2_2_2_2 = makeHelpLabel(groupBox1_3_2_2, "textLabel2_2_2_2", { 10, 14, 481, 70 });
    groupBox7 = makeWidget<QGroupBox>(Page2, "groupBox7", { 60, 160, 420, 160 });
    ccCheck = makeWidget<QCheckBox>(groupBox7, "ccCheck", { 120, 35, 50, 20 });
    cxxCheck = makeWidget<QCheckBox>(groupBox7, "cxxCheck", { 190, 35, 50, 20 });
    cCheck = makeWidget<QCheckBox>(groupBox7, "cCheck", { 260, 35, 50, 20 });
    textLabel2 = makeWidget<QLabel>(groupBox7, "textLabel2", { 50, 116, 100, 20 });
    hCheck = makeWidget<QCheckBox>(groupBox7, "hCheck", { 40, 75, 50, 20 });
    hhCheck = makeWidget<QCheckBox>(groupBox7, "hhCheck", { 120, 75, 50, 20 });
    hppCheck = makeWidget<QCheckBox>(groupBox7, "hppCheck", { 190, 75, 50, 20 });
    hxxCheck = makeWidget<QCheckBox>(groupBox7, "hxxCheck", { 260, 75, 50, 20 });
    cppCheck = makeWidget<QCheckBox>(groupBox7, "cppCheck", { 40, 35, 50, 20 });
    CustExtEdit = makeWidget<QLineEdit>(groupBox7, "CustExtEdit", { 160, 115, 144, 25 });
    pixmapLabel3_2_2 = makePicture(Page2, "pixmapLabel3_2_2", { 0, 0, 532, 36 }, bannerImage);
    pixmapLabel3_3_2_2 = makePicture(Page2, "pixmapLabel3_3_2_2", { 0, 390, 532, 20 }, stripImage);
    line1_3_2 = makeSideLine(Page2, "line1_3_2", { -8, 36, 20, 355 });
    line1_2_2_2 = makeSideLine(Page2, "line1_2_2_2", { 521, 36, 20, 355 });
    addPage(Page2);

    Page3 = makePage(this, "Page3");
    pixmapLabel3_2_2_2 = makePicture(Page3, "pixmapLabel3_2_2_2", { 0, 0, 532, 36 }, bannerImage);
    pixmapLabel3_3_2_2_2
            = makePicture(Page3, "pixmapLabel3_3_2_2_2", { 0, 390, 532, 20 }, stripImage);
    line1_3_2_2 = makeSideLine(Page3, "line1_3_2_2", { -8, 36, 20, 355 });
    line1_2_2_2_2 = makeSideLine(Page3, "line1_2_2_2_2", { 521, 36, 20, 355 });
    DetailsText = makeWidget<QTextBrowser>(Page3, "DetailsText", { 15, 40, 505, 340 });
    QSizePolicy detailsPolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    detailsPolicy.setHeightForWidth(DetailsText->sizePolicy().hasHeightForWidth());
    DetailsText->setSizePolicy(detailsPolicy);
    addPage(Page3);

    // Reading order: top to bottom, and in a row the field before its Browse button.
    const std::initializer_list<QWidget *> tabOrder = {
        VDSPProjectEdit,
        VDSPProjectBrowseBtn,
        VDSPInstallDirEdit,
        VDSPInstallBrowseBtn,
        NorvikProjectEdit,
        NorvikProjectBrowseBtn,
        NorvikNameEdit,
        MsgPersonEdit,
        MsgBrowseBtn,
        AnalPersonEdit,
        AnalBrowseBtn,
        CmpPersonEdit,
        CmpBrowseBtn,
        cppCheck,
        ccCheck,
        cxxCheck,
        cCheck,
        hCheck,
        hhCheck,
        hppCheck,
        hxxCheck,
        CustExtEdit,
        DetailsText,
    };
    for (auto it = tabOrder.begin(); it + 1 != tabOrder.end(); ++it)
        setTabOrder(it[0], it[1]);
    // A screen reader names each field after its label.
    textLabel1_3->setBuddy(VDSPProjectEdit);
    textLabel1_3_2->setBuddy(VDSPInstallDirEdit);
    textLabel1->setBuddy(NorvikProjectEdit);
    textLabel1_2->setBuddy(NorvikNameEdit);
    textLabel2->setBuddy(CustExtEdit);

    languageChange();
    resize(QSize(543, 486).expandedTo(minimumSizeHint()));
}

TarnwellBase::~TarnwellBase() = default;

void TarnwellBase::languageChange()
{
    setWindowTitle(translated("Tarnwell 1.2"));

    groupBox2->setTitle(translated("Norvik / Norvik++ Project"));
    textLabel1_2->setText(translated("Name"));
    textLabel1->setText(translated("Folder"));
    NorvikProjectBrowseBtn->setText(translated("Browse"));
    NorvikProjectEdit->setToolTip(
            translated("Destination folder for the Norvik/Norvik++ project."));
    NorvikNameEdit->setToolTip(translated("Name of the Norvik/Norvik++ project."));
    groupBox1_3->setTitle(QString());
    textLabel1_3_3->setText(translated("Welcome to the Halvex :: Tarnwell"));
    textLabel2_2->setText(translated(
            "This wizard will take you through the steps required to convert your Visual DSP "
            "project file to a Norvik/Norvik++ project. \nSelect the project (.dpj) that you wish "
            "to convert and the top level installation directory of Visual DSP (ie C:\\Program "
            "Files\\Analog Devices\\VisualDSP 5.0)\nYou also need to specify the folder into "
            "which the Norvik/Norvik++ project will be created.  \nThe Norvik/Norvik++ project "
            "will be named according to the name specified."));
    groupBox1->setTitle(translated("Visual DSP"));
    textLabel1_3_2->setText(translated("Install Location"));
    textLabel1_3->setText(translated("Project File (.dpj)"));
    VDSPProjectEdit->setToolTip(translated("Path to the .dpj project file"));
    VDSPInstallDirEdit->setToolTip(translated("Location of VisualDSP install directory."));
    VDSPProjectBrowseBtn->setText(translated("Browse"));
    VDSPInstallBrowseBtn->setText(translated("Browse"));
    Page0->setTitle(QString());

    groupBox1_2->setTitle(translated("Message Personality"));
    MsgBrowseBtn->setText(translated("Browse"));
    MsgPersonEdit->setToolTip(
            translated("Path to the message personality to use for the project."));
    groupBox2_2_2->setTitle(translated("Template Analyser Personality"));
    AnalBrowseBtn->setText(translated("Browse"));
    groupBox2_2->setTitle(translated("Compiler Personality"));
    CmpPersonEdit->setToolTip(
            translated("Path to the compiler personality to use for the project."));
    CmpBrowseBtn->setText(translated("Browse"));
    groupBox1_3_2->setTitle(QString());
    textLabel2_2_2->setText(translated(
            "Select the message personality and compiler personality to be used by the Norvik / "
            "Norvik++ \nproject.  \n\nSelect a template analyser personality to use e.g. MISRA, "
            "HICPP, JSF.\n\nIf you do not select a personality, an empty default personality will "
            "be used."));
    Page1->setTitle(QString());

    groupBox1_3_2_2->setTitle(QString());
    textLabel2_2_2_2->setText(translated(
            "Specify which file extensions should be searched for in the Visual DSP "
            "project.\nThese "
            "files will be added into the Norvik/Norvik++ project.  \n\nYou can add custom "
            "extensions as a comma seperated list of extensions e.g res,xml"));
    groupBox7->setTitle(translated("File Extensions"));
    ccCheck->setText(translated("*.cc"));
    cxxCheck->setText(translated("*.cxx"));
    cCheck->setText(translated("*.c"));
    textLabel2->setText(translated("Custom Extensions"));
    hCheck->setText(translated("*.h"));
    hhCheck->setText(translated("*.hh"));
    hppCheck->setText(translated("*.hpp"));
    hxxCheck->setText(translated("*.hxx"));
    cppCheck->setText(translated("*.cpp"));
    CustExtEdit->setInputMask(QString());
    CustExtEdit->setToolTip(
            translated("Custom extensions list to add files of this type to the project."));
    Page2->setTitle(QString());

    // What a screen reader says for the widgets whose own texts do not tell them apart:
    // six buttons read "Browse", and the personality fields have no label of their own.
    VDSPProjectBrowseBtn->setAccessibleName(translated("Browse for the VisualDSP project file"));
    VDSPInstallBrowseBtn->setAccessibleName(
            translated("Browse for the VisualDSP installation directory"));
    NorvikProjectBrowseBtn->setAccessibleName(
            translated("Browse for the Norvik / Norvik++ project folder"));
    MsgBrowseBtn->setAccessibleName(translated("Browse for the message personality"));
    AnalBrowseBtn->setAccessibleName(translated("Browse for the template analyser personality"));
    CmpBrowseBtn->setAccessibleName(translated("Browse for the compiler personality"));
    MsgPersonEdit->setAccessibleName(groupBox1_2->title());
    AnalPersonEdit->setAccessibleName(groupBox2_2_2->title());
    CmpPersonEdit->setAccessibleName(groupBox2_2->title());
    DetailsText->setAccessibleName(translated("Conversion details"));

    DetailsText->setPlainText(translated(
            "Visual DSP Project:\n\n\nNorvik/Norvik++ Project Directory:\n\n\nNorvik++ Project "
            "Name:\n\n\nMessage Personality:\n\n\nTemplate Analyser Personality:\n\n\nCompiler "
            "Personality:\n\n\nExtensions:"));
    Page3->setTitle(QString());
}

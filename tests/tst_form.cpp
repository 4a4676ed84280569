// The form as the user sees it: widgets, positions, texts, artwork and colours.

#include "form/tarnwellbase.h"
#include "form/tarnwellpage.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include "form/banner.xpm"
#include "form/strip.xpm"

namespace {

struct WidgetRow
{
    const char *className;
    const char *name;
    const char *parent;
    QRect geometry;
};

// Every widget of the form in creation order.
const WidgetRow widgetRows[] = {
    { "QLabel", "pixmapLabel3", "Page0", { 0, 0, 532, 36 } },
    { "QLabel", "pixmapLabel3_3", "Page0", { 0, 390, 532, 20 } },
    { "QGroupBox", "groupBox2", "Page0", { 20, 290, 500, 87 } },
    { "QLabel", "textLabel1_2", "groupBox2", { 10, 56, 40, 20 } },
    { "QLabel", "textLabel1", "groupBox2", { 10, 20, 40, 20 } },
    { "QPushButton", "NorvikProjectBrowseBtn", "groupBox2", { 410, 20, 75, 25 } },
    { "QLineEdit", "NorvikProjectEdit", "groupBox2", { 95, 20, 300, 25 } },
    { "QLineEdit", "NorvikNameEdit", "groupBox2", { 95, 55, 300, 25 } },
    { "QGroupBox", "groupBox1_3", "Page0", { 20, 40, 500, 140 } },
    { "QLabel", "textLabel1_3_3", "groupBox1_3", { 10, 10, 461, 21 } },
    { "QLabel", "textLabel2_2", "groupBox1_3", { 10, 40, 481, 90 } },
    { "QFrame", "line1", "Page0", { -8, 36, 20, 355 } },
    { "QFrame", "line1_2", "Page0", { 521, 36, 20, 355 } },
    { "QGroupBox", "groupBox1", "Page0", { 20, 190, 500, 87 } },
    { "QLabel", "textLabel1_3_2", "groupBox1", { 10, 55, 80, 20 } },
    { "QLabel", "textLabel1_3", "groupBox1", { 10, 20, 80, 20 } },
    { "QLineEdit", "VDSPProjectEdit", "groupBox1", { 95, 20, 300, 25 } },
    { "QLineEdit", "VDSPInstallDirEdit", "groupBox1", { 95, 55, 300, 25 } },
    { "QPushButton", "VDSPProjectBrowseBtn", "groupBox1", { 410, 20, 75, 25 } },
    { "QPushButton", "VDSPInstallBrowseBtn", "groupBox1", { 410, 55, 75, 25 } },

    { "QGroupBox", "groupBox1_2", "Page1", { 20, 150, 500, 60 } },
    { "QPushButton", "MsgBrowseBtn", "groupBox1_2", { 420, 20, 75, 25 } },
    { "QLineEdit", "MsgPersonEdit", "groupBox1_2", { 10, 20, 390, 25 } },
    { "QGroupBox", "groupBox2_2_2", "Page1", { 20, 220, 500, 60 } },
    { "QPushButton", "AnalBrowseBtn", "groupBox2_2_2", { 420, 20, 75, 25 } },
    { "QLineEdit", "AnalPersonEdit", "groupBox2_2_2", { 10, 20, 390, 25 } },
    { "QGroupBox", "groupBox2_2", "Page1", { 20, 290, 500, 60 } },
    { "QLineEdit", "CmpPersonEdit", "groupBox2_2", { 10, 20, 390, 25 } },
    { "QPushButton", "CmpBrowseBtn", "groupBox2_2", { 420, 20, 75, 25 } },
    { "QLabel", "pixmapLabel3_2", "Page1", { 0, 0, 532, 36 } },
    { "QGroupBox", "groupBox1_3_2", "Page1", { 20, 40, 500, 100 } },
    { "QLabel", "textLabel2_2_2", "groupBox1_3_2", { 10, 10, 481, 84 } },
    { "QLabel", "pixmapLabel3_3_2", "Page1", { 0, 390, 532, 20 } },
    { "QFrame", "line1_3", "Page1", { -8, 36, 20, 355 } },
    { "QFrame", "line1_2_2", "Page1", { 521, 36, 20, 355 } },

    { "QGroupBox", "groupBox1_3_2_2", "Page2", { 20, 40, 500, 100 } },
    { "QLabel", "textLabel2_2_2_2", "groupBox1_3_2_2", { 10, 14, 481, 70 } },
    { "QGroupBox", "groupBox7", "Page2", { 60, 160, 420, 160 } },
    { "QCheckBox", "ccCheck", "groupBox7", { 120, 35, 50, 20 } },
    { "QCheckBox", "cxxCheck", "groupBox7", { 190, 35, 50, 20 } },
    { "QCheckBox", "cCheck", "groupBox7", { 260, 35, 50, 20 } },
    { "QLabel", "textLabel2", "groupBox7", { 50, 116, 100, 20 } },
    { "QCheckBox", "hCheck", "groupBox7", { 40, 75, 50, 20 } },
    { "QCheckBox", "hhCheck", "groupBox7", { 120, 75, 50, 20 } },
    { "QCheckBox", "hppCheck", "groupBox7", { 190, 75, 50, 20 } },
    { "QCheckBox", "hxxCheck", "groupBox7", { 260, 75, 50, 20 } },
    { "QCheckBox", "cppCheck", "groupBox7", { 40, 35, 50, 20 } },
    { "QLineEdit", "CustExtEdit", "groupBox7", { 160, 115, 144, 25 } },
    { "QLabel", "pixmapLabel3_2_2", "Page2", { 0, 0, 532, 36 } },
    { "QLabel", "pixmapLabel3_3_2_2", "Page2", { 0, 390, 532, 20 } },
    { "QFrame", "line1_3_2", "Page2", { -8, 36, 20, 355 } },
    { "QFrame", "line1_2_2_2", "Page2", { 521, 36, 20, 355 } },

    { "QLabel", "pixmapLabel3_2_2_2", "Page3", { 0, 0, 532, 36 } },
    { "QLabel", "pixmapLabel3_3_2_2_2", "Page3", { 0, 390, 532, 20 } },
    { "QFrame", "line1_3_2_2", "Page3", { -8, 36, 20, 355 } },
    { "QFrame", "line1_2_2_2_2", "Page3", { 521, 36, 20, 355 } },
    { "QTextBrowser", "DetailsText", "Page3", { 15, 40, 505, 340 } },
};

const char *const pictureLabelNames[] = { "pixmapLabel3",       "pixmapLabel3_3",
                                          "pixmapLabel3_2",     "pixmapLabel3_3_2",
                                          "pixmapLabel3_2_2",   "pixmapLabel3_3_2_2",
                                          "pixmapLabel3_2_2_2", "pixmapLabel3_3_2_2_2" };

const char *const browseButtons[]
        = { "NorvikProjectBrowseBtn", "VDSPProjectBrowseBtn", "VDSPInstallBrowseBtn",
            "MsgBrowseBtn",           "AnalBrowseBtn",        "CmpBrowseBtn" };

const QString placeholder = QStringLiteral(
        "Visual DSP Project:\n\n\nNorvik/Norvik++ Project Directory:\n\n\nNorvik++ Project "
        "Name:\n\n\nMessage Personality:\n\n\nTemplate Analyser Personality:\n\n\nCompiler "
        "Personality:\n\n\nExtensions:");

QString textOf(QWidget *widget, const QString &property)
{
    if (property == QLatin1String("toolTip"))
        return widget->toolTip();
    if (auto *box = qobject_cast<QGroupBox *>(widget))
        return box->title();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    if (auto *page = qobject_cast<QWizardPage *>(widget))
        return page->title();
    return QStringLiteral("<no text>");
}

// Distinct colours of an image, and whether all of them are greys.
QSet<QRgb> coloursOf(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return colours;
}

} // namespace

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { form = new TarnwellBase; }
    void cleanup() { delete form; }

    void pages()
    {
        QCOMPARE(form->pageIds(), QList<int>({ 0, 1, 2, 3 }));
        const char *names[] = { "Page0", "Page1", "Page2", "Page3" };
        for (int id = 0; id < 4; ++id) {
            QCOMPARE(form->page(id)->objectName(), QLatin1String(names[id]));
            QVERIFY(qobject_cast<TarnwellPage *>(form->page(id)));
            QVERIFY(form->page(id)->title().isNull());
            QVERIFY(form->page(id)->minimumWidth() >= 541);
            QVERIFY(form->page(id)->minimumHeight() >= 410);
        }
        QCOMPARE(form->wizardStyle(), QWizard::ClassicStyle);
    }

    void widget_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("geometry");
        for (const WidgetRow &row : widgetRows)
            QTest::newRow(row.name) << row.className << row.parent << row.geometry;
    }
    void widget()
    {
        QFETCH(QString, className);
        QFETCH(QString, parentName);
        QFETCH(QRect, geometry);
        const auto found = form->findChildren<QWidget *>(QLatin1String(QTest::currentDataTag()));
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first()->metaObject()->className(), className);
        QCOMPARE(found.first()->parentWidget()->objectName(), parentName);
        QCOMPARE(found.first()->geometry(), geometry);
    }

    void creationOrder()
    {
        // Tab order follows creation order, so each parent's children must come in
        // the order of the table.
        QMap<QString, QStringList> expected;
        for (const WidgetRow &row : widgetRows)
            expected[QLatin1String(row.parent)] << QLatin1String(row.name);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            auto *parent = form->findChild<QWidget *>(it.key());
            QVERIFY2(parent, qPrintable(it.key()));
            QStringList actual;
            for (QObject *child : parent->children())
                if (child->isWidgetType() && !child->objectName().startsWith(QLatin1String("qt_")))
                    actual << child->objectName();
            QCOMPARE(actual, it.value());
        }
        QCOMPARE(std::size(widgetRows), size_t(57));
    }

    void text_data()
    {
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *widget, const char *property, const char *text) {
            QTest::addRow("%s %s", widget, property) << property << QString::fromLatin1(text);
        };
        row("groupBox2", "title", "Norvik / Norvik++ Project");
        row("textLabel1_2", "text", "Name");
        row("textLabel1", "text", "Folder");
        row("NorvikProjectEdit", "toolTip", "Destination folder for the Norvik/Norvik++ project.");
        row("NorvikNameEdit", "toolTip", "Name of the Norvik/Norvik++ project.");
        row("textLabel1_3_3", "text", "Welcome to the Halvex :: Tarnwell");
        row("textLabel2_2", "text",
            "This wizard will take you through the steps required to convert your Visual DSP "
            "project file to a Norvik/Norvik++ project. \nSelect the project (.dpj) that you "
            "wish to convert and the top level installation directory of Visual DSP (ie "
            "C:\\Program Files\\Analog Devices\\VisualDSP 5.0)\nYou also need to specify the "
            "folder into which the Norvik/Norvik++ project will be created.  \nThe "
            "Norvik/Norvik++ project will be named according to the name specified.");
        row("groupBox1", "title", "Visual DSP");
        row("textLabel1_3_2", "text", "Install Location");
        row("textLabel1_3", "text", "Project File (.dpj)");
        row("VDSPProjectEdit", "toolTip", "Path to the .dpj project file");
        row("VDSPInstallDirEdit", "toolTip", "Location of VisualDSP install directory.");
        row("groupBox1_2", "title", "Message Personality");
        row("MsgPersonEdit", "toolTip", "Path to the message personality to use for the project.");
        row("groupBox2_2_2", "title", "Template Analyser Personality");
        row("groupBox2_2", "title", "Compiler Personality");
        row("CmpPersonEdit", "toolTip", "Path to the compiler personality to use for the project.");
        row("textLabel2_2_2", "text",
            "Select the message personality and compiler personality to be used by the Norvik / "
            "Norvik++ \nproject.  \n\nSelect a template analyser personality to use e.g. MISRA, "
            "HICPP, JSF.\n\nIf you do not select a personality, an empty default personality "
            "will be used.");
        row("textLabel2_2_2_2", "text",
            "Specify which file extensions should be searched for in the Visual DSP project."
            "\nThese files will be added into the Norvik/Norvik++ project.  \n\nYou can add "
            "custom extensions as a comma seperated list of extensions e.g res,xml");
        row("groupBox7", "title", "File Extensions");
        row("textLabel2", "text", "Custom Extensions");
        row("CustExtEdit", "toolTip",
            "Custom extensions list to add files of this type to the project.");
        for (const char *check : { "cpp", "cc", "cxx", "c", "h", "hh", "hpp", "hxx" })
            row(qPrintable(QLatin1String(check) + QLatin1String("Check")), "text",
                qPrintable(QLatin1String("*.") + QLatin1String(check)));
        for (const char *button : browseButtons)
            row(button, "text", "Browse");
    }
    void text()
    {
        QFETCH(QString, property);
        QFETCH(QString, expected);
        const QString name = QString::fromLatin1(QTest::currentDataTag()).section(' ', 0, 0);
        auto *widget = form->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(textOf(widget, property), expected);
    }

    void captionAndNullTitles()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("Tarnwell 1.2"));
        for (const char *box : { "groupBox1_3", "groupBox1_3_2", "groupBox1_3_2_2" })
            QVERIFY(form->findChild<QGroupBox *>(box)->title().isNull());
    }

    void onlyTheFieldsHaveToolTips()
    {
        const QSet<QString> withTip
                = { "NorvikProjectEdit", "NorvikNameEdit", "VDSPProjectEdit", "VDSPInstallDirEdit",
                    "MsgPersonEdit",     "CmpPersonEdit",  "CustExtEdit" };
        for (QWidget *widget : form->findChildren<QWidget *>()) {
            if (!withTip.contains(widget->objectName()))
                QVERIFY2(widget->toolTip().isEmpty(), qPrintable(widget->objectName()));
        }
        QVERIFY(form->AnalPersonEdit->toolTip().isEmpty());
        QVERIFY(form->CustExtEdit->inputMask().isEmpty());
    }

    void detailsTextShowsPlaceholder()
    {
        QCOMPARE(form->DetailsText->toPlainText(), placeholder);
        QVERIFY(form->DetailsText->isReadOnly());
        QCOMPARE(form->DetailsText->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(form->DetailsText->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    }

    void pictureLabels_data()
    {
        QTest::addColumn<QSize>("imageSize");
        for (const char *name : pictureLabelNames)
            QTest::newRow(name) << (QByteArray(name).startsWith("pixmapLabel3_3") ? QSize(532, 19)
                                                                                  : QSize(532, 36));
    }
    void pictureLabels()
    {
        QFETCH(QSize, imageSize);
        auto *label = form->findChild<QLabel *>(QTest::currentDataTag());
        QVERIFY(label);
        QCOMPARE(label->pixmap().size(), imageSize);
        QVERIFY(label->hasScaledContents());
        // All pages share the same two images.
        auto *first = form->findChild<QLabel *>(imageSize.height() == 19 ? "pixmapLabel3_3"
                                                                         : "pixmapLabel3");
        QCOMPARE(label->pixmap().cacheKey(), first->pixmap().cacheKey());
    }

    void artwork_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("colours");
        QTest::addColumn<int>("darkest");
        QTest::addColumn<int>("lightest");
        QTest::newRow("banner") << QImage(banner_xpm) << QSize(532, 36) << 80 << 0x33 << 0xff;
        QTest::newRow("strip") << QImage(strip_xpm) << QSize(532, 19) << 77 << 0x0a << 0xff;
    }
    void artwork()
    {
        QFETCH(QImage, image);
        QFETCH(QSize, size);
        QFETCH(int, colours);
        QFETCH(int, darkest);
        QFETCH(int, lightest);
        QCOMPARE(image.size(), size);
        const QSet<QRgb> used = coloursOf(image);
        QCOMPARE(used.size(), colours);
        int low = 255, high = 0;
        for (QRgb colour : used) {
            QVERIFY2(qRed(colour) == qGreen(colour) && qGreen(colour) == qBlue(colour),
                     qPrintable(QString::number(colour, 16)));
            low = qMin(low, qRed(colour));
            high = qMax(high, qRed(colour));
        }
        QCOMPARE(low, darkest);
        QCOMPARE(high, lightest);
        // The side lines of the frame run down both images at columns 1 and 530.
        const int row = image.height() == 36 ? 30 : 0;
        QCOMPARE(qRed(image.pixel(1, row)), 0x52);
        QCOMPARE(qRed(image.pixel(530, row)), 0x52);
    }

    void headingFont()
    {
        QCOMPARE(form->textLabel1_3_3->font().pointSize(), 12);
        QVERIFY(form->textLabel1->font().pointSize() != 12 || QFont().pointSize() == 12);
    }

    void whiteBackgrounds()
    {
        QCOMPARE(form->palette().color(QPalette::Window), QColor(Qt::white));
        for (const char *name : browseButtons) {
            auto *button = form->findChild<QPushButton *>(name);
            QCOMPARE(button->palette().color(QPalette::Button), QColor(Qt::white));
            QCOMPARE(button->palette().color(QPalette::Window), QColor(Qt::white));
            QVERIFY(!button->isCheckable());
        }
    }

    void initialSize()
    {
        QCOMPARE(form->size(), QSize(543, 486).expandedTo(form->minimumSizeHint()));
        QVERIFY(form->width() >= 543 && form->height() >= 486);
    }

    void objectName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unnamed") << QByteArray() << QStringLiteral("TarnwellBase");
        QTest::newRow("named") << QByteArray("main wizard") << QStringLiteral("main wizard");
    }
    void objectName()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, expected);
        TarnwellBase named(nullptr, name.isNull() ? nullptr : name.constData(), true);
        QCOMPARE(named.objectName(), expected);
        QVERIFY(named.isModal());
        QCOMPARE(named.metaObject()->className(), "TarnwellBase");
    }

private:
    TarnwellBase *form = nullptr;
};

QTEST_MAIN(FormTest)
#include "tst_form.moc"

// The screenshot tool makes the README's five pictures of the real wizard.

#include "support.h"

#include <QImage>
#include <QProcess>

class ScreenshotsTest : public QObject
{
    Q_OBJECT

private slots:
    void fivePicturesOfTheWindow()
    {
        QTemporaryDir output;
        QProcess tool;
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tool.start(QStringLiteral(TARNWELL_SCREENSHOT_TOOL),
                   { QStringLiteral(TARNWELL_SAMPLE_DIR), output.path() });
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);

        Tarnwell wizard;
        wizard.show();
        const QSize windowSize = wizard.size();
        for (const char *name :
             { "page0.png", "page1.png", "page2.png", "page3.png", "page3-converted.png" }) {
            const QImage image(QDir(output.path()).filePath(QLatin1String(name)));
            QVERIFY2(!image.isNull(), name);
            QCOMPARE(image.size(), windowSize);
            // Not blank: the dark banner at the top and many colours in all.
            QVERIFY(qGray(image.pixel(200, 20)) < 0x80);
            QSet<QRgb> colours;
            for (int y = 0; y < image.height(); y += 3)
                for (int x = 0; x < image.width(); x += 3)
                    colours.insert(image.pixel(x, y));
            QVERIFY2(colours.size() > 50, name);
        }
    }
};

QTEST_MAIN(ScreenshotsTest)
#include "tst_screenshots.moc"

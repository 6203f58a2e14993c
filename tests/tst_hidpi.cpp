// SPDX-License-Identifier: GPL-3.0-or-later
// Screens with two device pixels to a logical pixel (QT_SCALE_FACTOR=2): the buttons and
// lamps show the pictures drawn at twice the size, at their usual logical size and place.
#include "TestSupport.h"

#include "controls/Pictures.h"

#include <QApplication>
#include <QTest>

namespace {

const QStringList kPictures = {"X1_U",   "X1_D",   "X2_U",      "X2_D",      "X4_U",    "X4_D",
                               "MUTE_U", "MUTE_D", "OPTIONS_U", "OPTIONS_D", "ABOUT_U", "ABOUT_D",
                               "EXIT_U", "EXIT_D", "LED_RON",   "LED_ROFF",  "LED_GON", "LED_GOFF"};

QImage resource(const QString &file)
{
    return QImage(QStringLiteral(":/bitmaps/") + file).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestHiDpi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    // A 2x picture missing, or not exactly twice its 1x picture's size.
    void twiceTheSize_data();
    void twiceTheSize();
    // The 1x picture upscaled instead of the 2x one, or a control grown to the 2x size.
    void shownSharpAtLogicalSize_data();
    void shownSharpAtLogicalSize();

private:
    TempSettings m_settings;
};

void TestHiDpi::initTestCase()
{
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    QVERIFY(!pulsewerk::loadPicture(QStringLiteral("LED_GOFF")).isNull()); // the resources are in
}

void TestHiDpi::twiceTheSize_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : kPictures)
        QTest::newRow(qPrintable(name)) << name;
}

void TestHiDpi::twiceTheSize()
{
    QFETCH(QString, name);
    const QImage normal = resource(name + QStringLiteral(".bmp"));
    const QImage sharp = resource(name + QStringLiteral("@2x.bmp"));
    QVERIFY(!normal.isNull());
    QVERIFY(!sharp.isNull());
    QCOMPARE(sharp.size(), normal.size() * 2);
    const QPixmap loaded = pulsewerk::loadPicture(name);
    QCOMPARE(loaded.devicePixelRatio(), 2.0);
    QCOMPARE(loaded.deviceIndependentSize().toSize(), normal.size());
    QCOMPARE(loaded.toImage().convertToFormat(QImage::Format_RGB32), sharp);
}

void TestHiDpi::shownSharpAtLogicalSize_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QSize>("size");
    QTest::newRow("multiplier") << "imgDouble"
                                << "X1_U" << QSize(30, 31);
    QTest::newRow("mute") << "imgMute"
                          << "MUTE_U" << QSize(30, 31);
    QTest::newRow("options") << "imgOptions"
                             << "OPTIONS_U" << QSize(64, 28);
    QTest::newRow("about") << "imgAbout"
                           << "ABOUT_U" << QSize(24, 24);
    QTest::newRow("exit") << "imgExit"
                          << "EXIT_U" << QSize(56, 28);
    QTest::newRow("lamp 0") << "imgLed_0"
                            << "LED_GOFF" << QSize(14, 14);
    QTest::newRow("exit pressed") << "imgExit"
                                  << "EXIT_D" << QSize(56, 28);
    QTest::newRow("lamp 0 lit") << "imgLed_0"
                                << "LED_GON" << QSize(14, 14);
}

void TestHiDpi::shownSharpAtLogicalSize()
{
    QFETCH(QString, control);
    QFETCH(QString, picture);
    QFETCH(QSize, size);
    BeatHarness h;
    frmMain &w = h.window();
    auto *box = w.findChild<pulsewerk::PictureBox *>(control);
    QVERIFY(box);
    const QPoint place = box->pos();
    if (box->Picture() != picture) {
        h.openOutput();
        if (picture == QLatin1String("EXIT_D"))
            QTest::mousePress(box, Qt::LeftButton);
        else
            w.OnBeat();
    }
    QCOMPARE(box->Picture(), picture);
    QCOMPARE(box->size(), size);
    QCOMPARE(box->pos(), place);
    QCOMPARE(box->pixmap().devicePixelRatio(), 2.0);
    // Drawn into the window at device pixels, the control shows the 2x picture pixel for pixel.
    const QImage drawn = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(drawn.size(), size * 2);
    QCOMPARE(drawn, resource(picture + QStringLiteral("@2x.bmp")));
}

int main(int argc, char *argv[])
{
    // Before the application starts: the scale factor of a high-resolution screen.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestHiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"

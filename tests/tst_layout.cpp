// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's layout and its bitmaps: every control's kind, place, size, caption,
// alignment, colours, font, tag and first value, the focus order, the window frame, and
// the 18 named bitmaps the picture controls show.
#include "TestSupport.h"

#include "controls/Pictures.h"

#include <QApplication>
#include <QFontMetrics>
#include <QTest>

#include <vector>

namespace {

// A control as laid out, in twips (15 to a pixel), relative to its container.
struct Control {
    QString name;
    const char *kind;
    const char *container;
    int left, top, width, height;
    QString text; // caption, or the first text of the tempo box; empty for none
    Qt::Alignment alignment;
    QString tag;
    QString toolTip;
};

std::vector<Control> designedControls()
{
    const Qt::Alignment left = Qt::AlignLeft;
    const Qt::Alignment right = Qt::AlignRight;
    const Qt::Alignment centre = Qt::AlignHCenter;
    const Qt::Alignment none;
    std::vector<Control> controls{
        {"Label1", "QLabel", "frmMain", 1140, 120, 675, 195, "BPM", centre, "", ""},
        {"imgAbout", "pulsewerk::PictureBox", "frmMain", 2520, 60, 360, 360, "", none, "", "About ... (F1)"},
        {"Slider1", "QSlider", "frmMain", 1140, 420, 675, 2535, "", none, "", ""},
        {"lblTempo_0", "QLabel", "frmMain", 120, 645, 900, 210, "Largo", right, "40", ""},
        {"lblTempo_1", "QLabel", "frmMain", 1950, 795, 1000, 195, "Larghetto", left, "60", ""},
        {"lblTempo_2", "QLabel", "frmMain", 120, 900, 900, 195, "Adagio", right, "66", ""},
        {"lblTempo_3", "QLabel", "frmMain", 1950, 1170, 1000, 195, "Andante", left, "76", ""},
        {"lblTempo_4", "QLabel", "frmMain", 120, 1470, 900, 195, "Moderato", right, "108", ""},
        {"lblTempo_5", "QLabel", "frmMain", 1950, 1830, 1000, 225, "Allegro", left, "120", ""},
        {"lblTempo_6", "QLabel", "frmMain", 120, 2355, 900, 240, "Presto", right, "168", ""},
        {"lblTempo_7", "QLabel", "frmMain", 1950, 2595, 1000, 240, "Prestissimo", left, "200", ""},
        {"Text1", "QLineEdit", "frmMain", 1140, 3060, 675, 300, "20", centre, "", ""},
        {"imgDouble", "pulsewerk::PictureBox", "frmMain", 1920, 2985, 450, 465, "", none, "1",
         "Multiplier \u00d71 (*, Num+*, Alt+1, Alt+2, Alt+4)"},
        {"Label2", "QLabel", "frmMain", 570, 3585, 435, 225, "Meter", right, "", ""},
        {"cboMeter", "QComboBox", "frmMain", 1140, 3540, 1200, 315, "", none, "", ""},
        {"Picture1", "QFrame", "frmMain", 180, 3960, 2475, 555, "", none, "", ""},
        {"imgOptions", "pulsewerk::PictureBox", "frmMain", 60, 4575, 960, 420, "", none, "", "Options (Alt+O)"},
        {"imgMute", "pulsewerk::PictureBox", "frmMain", 1080, 4560, 450, 465, "", none, "0", "Mute (Alt+M)"},
        {"imgExit", "pulsewerk::PictureBox", "frmMain", 2040, 4575, 825, 405, "", none, "", "Exit (Alt+X, Ctrl+Q)"},
    };
    for (int i = 0; i < 19; ++i) {
        const int left = i < 10 ? 60 + 240 * i : 180 + 240 * (i - 10);
        const int top = i < 10 ? 60 : 300;
        controls.push_back({QStringLiteral("imgLed_%1").arg(i), "pulsewerk::PictureBox", "Picture1", left, top, 210,
                            210, "", none, "", ""});
    }
    return controls;
}

QRect pixels(const Control &c)
{
    return QRect(qRound(c.left / 15.0), qRound(c.top / 15.0), qRound(c.width / 15.0), qRound(c.height / 15.0));
}

QWidget *control(const QWidget &w, const QString &name) { return w.findChild<QWidget *>(name); }

bool nearBlack(QRgb pixel) { return qRed(pixel) < 40 && qGreen(pixel) < 40 && qBlue(pixel) < 40; }
bool cyanish(QRgb pixel) { return qRed(pixel) < 80 && qGreen(pixel) > 160 && qBlue(pixel) > 160; }
bool whitish(QRgb pixel) { return qRed(pixel) > 160 && qGreen(pixel) > 160 && qBlue(pixel) > 160; }

// How many pixels of `area` in `image` pass `test`.
template <typename Test> int countPixels(const QImage &image, const QRect &area, Test test)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    }
    return count;
}

// The average of each channel over a whole picture.
QColor averageColour(const QImage &image)
{
    long long sum[3] = {0, 0, 0};
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            sum[0] += qRed(pixel);
            sum[1] += qGreen(pixel);
            sum[2] += qBlue(pixel);
        }
    }
    const long long n = static_cast<long long>(image.width()) * image.height();
    return QColor(int(sum[0] / n), int(sum[1] / n), int(sum[2] / n));
}

void addBitmapRows()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    const std::pair<const char *, QSize> bitmaps[] = {
        {"X1_U", {30, 31}},      {"X1_D", {30, 31}},      {"X2_U", {30, 31}},    {"X2_D", {30, 31}},
        {"X4_U", {30, 31}},      {"X4_D", {30, 31}},      {"MUTE_U", {30, 31}},  {"MUTE_D", {30, 31}},
        {"OPTIONS_U", {64, 28}}, {"OPTIONS_D", {64, 28}}, {"ABOUT_U", {24, 24}}, {"ABOUT_D", {24, 24}},
        {"EXIT_U", {56, 28}},    {"EXIT_D", {56, 28}},    {"LED_RON", {14, 14}}, {"LED_ROFF", {14, 14}},
        {"LED_GON", {14, 14}},   {"LED_GOFF", {14, 14}},
    };
    for (const auto &[name, size] : bitmaps)
        QTest::newRow(name) << QString::fromLatin1(name) << size;
}

} // namespace

Q_DECLARE_METATYPE(Control)

class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void init();

    // A frame the user can resize, minimise or maximise, a missing task-bar entry, icon
    // or caption, or a client area of another size.
    void windowFrame();
    // A control missing, added, of the wrong kind, or not reachable through its control array.
    void controlSet();
    // A control out of place, of the wrong size or kind, before or after the load; a wrong
    // caption, alignment, tag or tool tip; a control hidden or disabled at creation.
    void controls_data();
    void controls();
    // Wrong first values: slider range, steps and position, the box's text, the meter
    // list's items, the pictures and the multiplier and mute tags.
    void initialValues();
    // Labels and panels not white on black, the window not black, or the tempo box,
    // slider and meter list losing the desktop theme's colours; checked on the drawn window.
    void colours();
    // A control other than the tempo box with a font of its own, or the box's own font wrong.
    void fonts();
    // A caption clipped by its rectangle in the window's font, highlighted in bold or not.
    void captionsFit_data();
    void captionsFit();
    // A control missing from the focus order, out of order, or a label or picture taking the focus.
    void focusOrder();

    // A bitmap missing, of the wrong size, transparent, not black around its button or
    // lamp, or found under another spelling of its name.
    void bitmaps_data();
    void bitmaps();
    // Lamps of the wrong colour, lit and dark lamps alike, pressed buttons no lighter than released ones.
    void bitmapLooks();
    // A picture control that scales its picture, keeps its old size, or moves when it gets another.
    void pictureControlTakesPictureSize_data();
    void pictureControlTakesPictureSize();

private:
    TempSettings m_settings;
};

void TestLayout::init() { m_settings.clear(); }

void TestLayout::windowFrame()
{
    frmMain w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Pulsewerk"));
    QVERIFY(w.isWindow());
    QVERIFY(!w.parentWidget());
    QCOMPARE(w.windowType(), Qt::Window); // not a dialog or a tool window: it has a task-bar entry
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!flags.testFlag(Qt::FramelessWindowHint));
    const QIcon icon = w.windowIcon();
    QVERIFY(!icon.isNull());
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
    QVERIFY(icon.availableSizes().contains(QSize(32, 32)));

    const QSize client(2985 / 15, 5070 / 15);
    QCOMPARE(w.size(), client);
    QCOMPARE(w.minimumSize(), client);
    QCOMPARE(w.maximumSize(), client);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.resize(300, 400);
    QCOMPARE(w.size(), client);
}

void TestLayout::controlSet()
{
    frmMain w;
    const std::vector<Control> designed = designedControls();
    for (const char *container : {"frmMain", "Picture1"}) {
        QStringList expected;
        for (const Control &c : designed) {
            if (qstrcmp(c.container, container) == 0)
                expected << c.name;
        }
        const QWidget *parent = qstrcmp(container, "frmMain") == 0 ? &w : control(w, QStringLiteral("Picture1"));
        QVERIFY(parent);
        QStringList actual;
        for (const QWidget *child : parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            actual << child->objectName();
        expected.sort();
        actual.sort();
        QCOMPARE(actual, expected);
    }
    for (std::size_t i = 0; i < w.imgLed.size(); ++i)
        QCOMPARE(w.imgLed[i], control(w, QStringLiteral("imgLed_%1").arg(i)));
    QCOMPARE(w.imgLed.size(), std::size_t(19));
    for (std::size_t i = 0; i < w.lblTempo.size(); ++i)
        QCOMPARE(w.lblTempo[i], control(w, QStringLiteral("lblTempo_%1").arg(i)));
    QCOMPARE(w.lblTempo.size(), std::size_t(8));
}

void TestLayout::controls_data()
{
    QTest::addColumn<Control>("designed");
    QTest::addColumn<QRect>("loaded");
    for (const Control &c : designedControls()) {
        QRect loaded = pixels(c);
        if (c.name == QLatin1String("imgExit"))
            loaded.setSize(QSize(56, 28)); // the load gives it EXIT_U, one pixel larger each way
        QTest::newRow(qPrintable(c.name)) << c << loaded;
    }
}

void TestLayout::controls()
{
    QFETCH(Control, designed);
    QFETCH(QRect, loaded);
    frmMain w;
    QWidget *c = control(w, designed.name);
    QVERIFY(c);
    QVERIFY2(c->inherits(designed.kind), c->metaObject()->className());
    const bool label = qstrcmp(designed.kind, "QLabel") == 0;
    QVERIFY(!label || !c->inherits("pulsewerk::PictureBox"));
    QCOMPARE(c->parentWidget()->objectName(), QString::fromLatin1(designed.container));
    QCOMPARE(c->geometry(), pixels(designed));
    if (label) {
        QCOMPARE(qobject_cast<QLabel *>(c)->text(), designed.text);
        QCOMPARE(qobject_cast<QLabel *>(c)->alignment() & Qt::AlignHorizontal_Mask, designed.alignment);
    } else if (auto *box = qobject_cast<QLineEdit *>(c)) {
        QCOMPARE(box->text(), designed.text);
        QCOMPARE(box->alignment() & Qt::AlignHorizontal_Mask, designed.alignment);
    }
    QCOMPARE(c->property("Tag").toString(), designed.tag);
    QCOMPARE(c->toolTip(), designed.toolTip);
    QVERIFY(c->isVisibleTo(&w));
    QVERIFY(c->isEnabled());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(c->geometry(), loaded);
}

void TestLayout::initialValues()
{
    frmMain w;
    QCOMPARE(w.Slider1->orientation(), Qt::Vertical);
    QCOMPARE(w.Slider1->minimum(), 40);
    QCOMPARE(w.Slider1->maximum(), 208);
    QCOMPARE(w.Slider1->value(), 120);
    QCOMPARE(w.Slider1->singleStep(), 1);
    QCOMPARE(w.Text1->text(), QStringLiteral("20"));
    QVERIFY(!w.cboMeter->isEditable());
    QCOMPARE(w.cboMeter->currentIndex(), -1);
    QStringList items;
    for (int i = 0; i < w.cboMeter->count(); ++i)
        items << w.cboMeter->itemText(i);
    QCOMPARE(items, QStringList({"None", "4/4", "3/4", "2/4", "Custom ..."}));
    QCOMPARE(w.imgAbout->Picture(), QStringLiteral("ABOUT_U"));
    QCOMPARE(w.imgDouble->Picture(), QStringLiteral("X1_U"));
    QCOMPARE(w.imgMute->Picture(), QStringLiteral("MUTE_U"));
    QCOMPARE(w.imgOptions->Picture(), QStringLiteral("OPTIONS_U"));
    for (const pulsewerk::PictureBox *lamp : w.imgLed)
        QCOMPARE(lamp->Picture(), QStringLiteral("LED_GOFF"));
    QCOMPARE(w.imgDouble->Tag().toInt(), 1);
    QCOMPARE(w.imgMute->Tag().toInt(), 0);

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.Text1->text(), QStringLiteral("120")); // never the "20" of the layout
    QCOMPARE(w.Slider1->pageStep(), 20);
    QCOMPARE(w.imgOptions->Picture(), QStringLiteral("OPTIONS_U"));
    QCOMPARE(w.imgExit->Picture(), QStringLiteral("EXIT_U"));
}

void TestLayout::colours()
{
    frmMain w;
    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    QCOMPARE(w.palette().color(QPalette::Window), black);
    QVERIFY(w.autoFillBackground());
    QWidget *panel = control(w, QStringLiteral("Picture1"));
    QCOMPARE(panel->palette().color(QPalette::Window), black);
    QVERIFY(panel->autoFillBackground());
    for (const char *name : {"Label1", "Label2", "lblTempo_0", "lblTempo_3", "lblTempo_5", "lblTempo_7"}) {
        const QWidget *label = control(w, QString::fromLatin1(name));
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            QCOMPARE(label->palette().color(group, QPalette::WindowText), white);
            QCOMPARE(label->palette().color(group, QPalette::Window), black);
        }
    }
    for (QWidget *themed : std::initializer_list<QWidget *>{w.Slider1, w.Text1, w.cboMeter}) {
        const QPalette theme = QApplication::palette(themed);
        for (const QPalette::ColorRole role : {QPalette::Base, QPalette::Text, QPalette::Button, QPalette::ButtonText,
                                               QPalette::Highlight, QPalette::HighlightedText})
            QCOMPARE(themed->palette().color(role), theme.color(role));
        for (const QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText}) {
            QCOMPARE(themed->palette().color(role), theme.color(role));
        }
    }

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QImage drawn = w.grab().toImage();
    QVERIFY(nearBlack(drawn.pixel(2, 100)));           // the window, left of the names
    QVERIFY(nearBlack(drawn.pixel(12 + 1, 264 + 35))); // the lamp panel, below the lamps
    QVERIFY(nearBlack(drawn.pixel(8 + 1, 43 + 1)));    // behind a tempo name
    const QColor base = QApplication::palette(w.Text1).color(QPalette::Base);
    QCOMPARE(QColor(drawn.pixel(76 + 5, 204 + 10)), base); // inside the tempo box
    const auto rectOf = [&w](const char *name) { return control(w, QString::fromLatin1(name))->geometry(); };
    QVERIFY(countPixels(drawn, rectOf("Label1"), whitish) > 0);
    QVERIFY(countPixels(drawn, rectOf("Label2"), whitish) > 0);
    // At 120 "Allegro" is drawn cyan and the other names white.
    QVERIFY(countPixels(drawn, rectOf("lblTempo_5"), cyanish) > 0);
    QCOMPARE(countPixels(drawn, rectOf("lblTempo_5"), whitish), 0);
    for (const char *name : {"lblTempo_0", "lblTempo_4", "lblTempo_6", "lblTempo_7"}) {
        QVERIFY(countPixels(drawn, rectOf(name), whitish) > 0);
        QCOMPARE(countPixels(drawn, rectOf(name), cyanish), 0);
    }
}

void TestLayout::fonts()
{
    frmMain w;
    w.ensurePolished();
    const QFont windowFont = w.font();
    for (const QWidget *c : w.findChildren<QWidget *>()) {
        if (c == w.Text1 || c->window() != &w)
            continue;
        QVERIFY2(c->font() == windowFont, qPrintable(c->objectName()));
    }
    const QFont own = w.Text1->font();
    QCOMPARE(own.pointSizeF(), 9.75);
    QCOMPARE(own.weight(), QFont::Normal);
    QVERIFY(!own.italic());
    QCOMPARE(QFontInfo(own).pointSizeF(), 9.75);
}

void TestLayout::captionsFit_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("bold");
    for (const Control &c : designedControls()) {
        if (c.kind != QByteArray("QLabel"))
            continue;
        QTest::newRow(qPrintable(c.name + QStringLiteral(" regular"))) << c.name << false;
        if (c.name.startsWith(QLatin1String("lblTempo")))
            QTest::newRow(qPrintable(c.name + QStringLiteral(" bold"))) << c.name << true;
    }
}

void TestLayout::captionsFit()
{
    QFETCH(QString, name);
    QFETCH(bool, bold);
    frmMain w;
    const auto *label = qobject_cast<QLabel *>(control(w, name));
    QVERIFY(label);
    QFont font = w.font();
    font.setBold(bold);
    const QFontMetrics metrics(font);
    const QRect inside = label->contentsRect();
    const int width = std::max(metrics.horizontalAdvance(label->text()), metrics.boundingRect(label->text()).width());
    QVERIFY2(width <= inside.width(), qPrintable(QStringLiteral("%1 px wide in %2").arg(width).arg(inside.width())));
    QVERIFY2(metrics.height() <= inside.height(),
             qPrintable(QStringLiteral("%1 px high in %2").arg(metrics.height()).arg(inside.height())));
}

void TestLayout::focusOrder()
{
    frmMain w;
    QWidgetList order;
    for (QWidget *next = w.nextInFocusChain(); next != &w; next = next->nextInFocusChain()) {
        if (next->focusPolicy() & Qt::TabFocus)
            order << next;
    }
    QCOMPARE(order, QWidgetList({w.Slider1, w.Text1, w.cboMeter}));
    for (const QWidget *c : w.findChildren<QWidget *>()) {
        if (c->inherits("QLabel"))
            QVERIFY2(c->focusPolicy() == Qt::NoFocus, qPrintable(c->objectName()));
    }

    // Worked with the keyboard: the slider passes the focus on to the tempo box.
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.Text1);
    QTest::keyClick(w.windowHandle(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.cboMeter);
    QTest::keyClick(w.windowHandle(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.Text1);
    QTest::keyClick(w.windowHandle(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), w.Text1);
}

void TestLayout::bitmaps_data() { addBitmapRows(); }

void TestLayout::bitmaps()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QPixmap picture = pulsewerk::loadPicture(name);
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), size);
    QVERIFY(!picture.hasAlphaChannel());
    QVERIFY(pulsewerk::loadPicture(name.toLower()).isNull());
    QVERIFY(pulsewerk::loadPicture(name.left(1) + name.mid(1).toLower()).isNull());
    // Black or nearly so around the button or lamp, like the window behind it.
    const QImage image = picture.toImage();
    for (const QPoint corner : {QPoint(0, 0), QPoint(size.width() - 1, 0), QPoint(0, size.height() - 1),
                                QPoint(size.width() - 1, size.height() - 1)})
        QVERIFY2(nearBlack(image.pixel(corner)), qPrintable(QColor(image.pixel(corner)).name()));
}

void TestLayout::bitmapLooks()
{
    const auto average = [](const QString &name) { return averageColour(pulsewerk::loadPicture(name).toImage()); };
    const auto dominant = [](const QColor &c, int channel) {
        const int values[] = {c.red(), c.green(), c.blue()};
        return values[channel] * 10 > 13 * std::max(values[(channel + 1) % 3], values[(channel + 2) % 3]);
    };
    for (const auto &[colour, channel] : {std::pair{"R", 0}, std::pair{"G", 1}}) {
        const QColor lit = average(QStringLiteral("LED_%1ON").arg(colour));
        const QColor dark = average(QStringLiteral("LED_%1OFF").arg(colour));
        QVERIFY2(dominant(lit, channel) && dominant(dark, channel), qPrintable(lit.name() + dark.name()));
        QVERIFY2(qGray(lit.rgb()) > qGray(dark.rgb()) + 20, qPrintable(lit.name() + dark.name()));
    }
    for (const char *button : {"X1", "X2", "X4", "MUTE", "OPTIONS", "ABOUT", "EXIT"}) {
        const QColor up = average(QStringLiteral("%1_U").arg(button));
        const QColor down = average(QStringLiteral("%1_D").arg(button));
        QVERIFY2(qGray(down.rgb()) > qGray(up.rgb()), button);
    }
}

void TestLayout::pictureControlTakesPictureSize_data() { addBitmapRows(); }

void TestLayout::pictureControlTakesPictureSize()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QWidget holder;
    holder.resize(100, 100);
    pulsewerk::PictureBox box(&holder);
    box.setGeometry(10, 20, 5, 5);
    box.setPicture(size.width() > 30 ? QStringLiteral("LED_RON") : QStringLiteral("OPTIONS_D")); // another size first
    box.setPicture(name);
    QCOMPARE(box.Picture(), name);
    QCOMPARE(box.geometry(), QRect(QPoint(10, 20), size));
    QVERIFY(!box.hasScaledContents());
    QCOMPARE(box.pixmap().size(), size);
    holder.show();
    QVERIFY(QTest::qWaitForWindowExposed(&holder));
    QCOMPARE(box.geometry(), QRect(QPoint(10, 20), size));
    QCOMPARE(box.grab().toImage().convertToFormat(QImage::Format_RGB32),
             pulsewerk::loadPicture(name).toImage().convertToFormat(QImage::Format_RGB32));
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"

// What assistive technology sees of the windows, through Qt's accessible interface
// tree in-process: names, roles, states, the press action of the picture buttons, the
// tempo value, and how often the lamp row's description changes.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "dialogs/frmCustomMeter.h"
#include "dialogs/frmOptions.h"
#include "engine/mdlMain.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <map>

namespace {

// Every element below `root` (root included) by name, the labels left out: a label and
// the box it names share the name.
std::multimap<QString, QAccessibleInterface *> tree(QAccessibleInterface *root)
{
    std::multimap<QString, QAccessibleInterface *> byName;
    std::vector<QAccessibleInterface *> pending{root};
    while (!pending.empty()) {
        QAccessibleInterface *each = pending.back();
        pending.pop_back();
        if (each->role() != QAccessible::StaticText)
            byName.emplace(each->text(QAccessible::Name), each);
        for (int i = 0; i < each->childCount(); ++i)
            pending.push_back(each->child(i));
    }
    return byName;
}

// The element named `name`, or else the one that a label of that name labels (as a
// combo box is, whose own name on Linux is its current text).
QAccessibleInterface *element(QWidget &window, const QString &name)
{
    const auto all = tree(QAccessible::queryAccessibleInterface(&window));
    const auto found = all.find(name);
    if (found != all.end())
        return found->second;
    for (const auto &[each, candidate] : all) {
        for (const auto &[other, relation] : candidate->relations(QAccessible::Label)) {
            if (other->text(QAccessible::Name) == name)
                return candidate;
        }
    }
    return nullptr;
}

// Runs the press action as a screen reader would, then lets its queued click happen.
void press(QAccessibleInterface *button)
{
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::sendPostedEvents();
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    // Each control of the main window by its name and role; no unnamed picture in the tree.
    void mainWindowNamesAndRoles_data();
    void mainWindowNamesAndRoles();
    // The press action of each picture button does what its click does.
    void pressActions();
    // Mute is a checked button while muted, named by what a press does. (The change events
    // cannot be watched here: Qt's offscreen platform has no accessibility bridge.)
    void muteCheckedState();
    // The slider reports the tempo in beats per minute as it changes.
    void tempoValue();
    // The lamp row tells which lamp of how many is lit, at most once a beat.
    void lampRowDescription();
    // The dialogs' boxes carry their labels' names; OK and Cancel their access keys.
    void dialogNames();

private:
    TempSettings m_settings;
};

void TestAccessibility::mainWindowNamesAndRoles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::newRow("multiplier") << QStringLiteral("Multiplier \u00d71") << QAccessible::PushButton;
    QTest::newRow("mute") << "Mute" << QAccessible::PushButton;
    QTest::newRow("options") << "Options" << QAccessible::PushButton;
    QTest::newRow("about") << "About" << QAccessible::PushButton;
    QTest::newRow("exit") << "Exit" << QAccessible::PushButton;
    QTest::newRow("slider") << "Tempo" << QAccessible::Slider;
    QTest::newRow("tempo box") << "Tempo in beats per minute" << QAccessible::EditableText;
    QTest::newRow("meter list") << "Meter" << QAccessible::ComboBox;
    QTest::newRow("lamp row") << "Beat" << QAccessible::Animation;
}

void TestAccessibility::mainWindowNamesAndRoles()
{
    QFETCH(QString, name);
    QFETCH(QAccessible::Role, role);
    BeatHarness h;
    QAccessibleInterface *found = element(h.window(), name);
    QVERIFY2(found, qPrintable(name));
    QCOMPARE(found->role(), role);
    if (role == QAccessible::PushButton) { // a press action, and the tool tip with the keys as description
        QVERIFY(found->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        QVERIFY(found->text(QAccessible::Description).startsWith(name.left(5)));
    }
    for (const auto &[each, element] : tree(QAccessible::queryAccessibleInterface(&h.window())))
        QVERIFY2(element->role() != QAccessible::Graphic, qPrintable(each));
    QCOMPARE(element(h.window(), QStringLiteral("Beat"))->childCount(), 0); // the 19 lamps are one element
}

void TestAccessibility::pressActions()
{
    BeatHarness h;
    frmMain &w = h.window();
    press(element(w, QStringLiteral("Multiplier \u00d71")));
    QCOMPARE(w.imgDouble->Tag(), QStringLiteral("2"));
    QCOMPARE(w.imgDouble->Picture(), QStringLiteral("X2_U"));
    QVERIFY(element(w, QStringLiteral("Multiplier \u00d72")));
    press(element(w, QStringLiteral("Mute")));
    QCOMPARE(w.imgMute->Tag(), QStringLiteral("1"));
    QStringList dialogs;
    const auto pressAndClose = [&](const QString &name) {
        QAccessibleInterface *button = element(w, name);
        whileModal([&] { press(button); }, [&](QDialog &d) { dialogs << d.metaObject()->className(); });
    };
    pressAndClose(QStringLiteral("Options"));
    pressAndClose(QStringLiteral("About"));
    QCOMPARE(dialogs, (QStringList{"frmOptions", "frmAbout"}));
    QCOMPARE(w.imgOptions->Picture(), QStringLiteral("OPTIONS_U"));
    QVERIFY(!mdlMain::g_blnQuit);
    press(element(w, QStringLiteral("Exit")));
    QVERIFY(mdlMain::g_blnQuit);
    QVERIFY(!w.isVisible());
}

void TestAccessibility::muteCheckedState()
{
    BeatHarness h;
    frmMain &w = h.window();
    QAccessibleInterface *mute = element(w, QStringLiteral("Mute"));
    QVERIFY(mute->state().checkable);
    QVERIFY(!mute->state().checked);
    press(mute);
    QCOMPARE(mute->text(QAccessible::Name), QStringLiteral("Unmute"));
    QVERIFY(mute->state().checked);
    QTest::mouseClick(w.imgMute, Qt::LeftButton);
    QCOMPARE(mute->text(QAccessible::Name), QStringLiteral("Mute"));
    QVERIFY(!mute->state().checked);
}

void TestAccessibility::tempoValue()
{
    BeatHarness h;
    frmMain &w = h.window();
    QAccessibleInterface *slider = element(w, QStringLiteral("Tempo"));
    QCOMPARE(slider->valueInterface()->currentValue().toInt(), 120);
    QCOMPARE(slider->text(QAccessible::Description), QStringLiteral("beats per minute"));
    w.Text1->selectAll();
    QTest::keyClicks(w.Text1, QStringLiteral("150"));
    QTest::keyClick(w.Text1, Qt::Key_Return);
    QCOMPARE(slider->valueInterface()->currentValue().toInt(), 150);
    QCOMPARE(element(w, QStringLiteral("Tempo in beats per minute"))->text(QAccessible::Value), QStringLiteral("150"));
}

void TestAccessibility::lampRowDescription()
{
    BeatHarness h;
    frmMain &w = h.window();
    w.cboMeter->setCurrentIndex(1);
    emit w.cboMeter->activated(1); // 4/4
    QAccessibleInterface *row = element(w, QStringLiteral("Beat"));
    QCOMPARE(row->text(QAccessible::Description), QStringLiteral("none of 4 lit"));
    // Read every millisecond: four beats at 120, their ends, and the passes between.
    QStringList seen;
    for (std::uint32_t t = 0; t < 2100; ++t)
        h.clock.at(t, [&] { seen << row->text(QAccessible::Description); });
    h.clock.at(2100, [&w] { w.close(); });
    QCOMPARE(h.runLoop(), 1);
    const int beats = static_cast<int>(
        std::count_if(h.midi.messages.begin(), h.midi.messages.end(), [](const auto &m) { return m.data2() != 0; }));
    QCOMPARE(beats, 4);
    const QStringList changes = [&seen] {
        QStringList kept;
        for (const QString &each : seen) {
            if (kept.isEmpty() || kept.last() != each)
                kept << each;
        }
        return kept;
    }();
    QCOMPARE(changes.size(), beats + 1); // no change at a beat's end, none between beats
    seen.removeDuplicates();
    QCOMPARE(seen, (QStringList{"none of 4 lit", "1 of 4, strong", "2 of 4, weak", "3 of 4, weak", "4 of 4, weak"}));
}

void TestAccessibility::dialogNames()
{
    frmOptions options;
    options.show();
    for (const char *name :
         {"Channel", "Strong Beat Note", "Strong Beat Velocity", "Weak Beat Note", "Weak Beat Velocity"}) {
        QAccessibleInterface *box = element(options, QString::fromLatin1(name));
        QVERIFY2(box, name);
        QCOMPARE(box->role(), QAccessible::EditableText);
    }
    frmCustomMeter custom;
    custom.show();
    QVERIFY(element(custom, QStringLiteral("Pattern")));
    for (QWidget *dialog : std::initializer_list<QWidget *>{&options, &custom}) {
        for (const auto &[name, keys] : {std::pair{"OK", "Alt+O"}, std::pair{"Cancel", "Alt+C"}}) {
            QAccessibleInterface *button = element(*dialog, QString::fromLatin1(name));
            QVERIFY2(button, name);
            QCOMPARE(button->role(), QAccessible::Button);
            QCOMPARE(button->actionInterface()->keyBindingsForAction(QAccessibleActionInterface::pressAction()),
                     QStringList{QString::fromLatin1(keys)});
        }
    }
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// What assistive technology sees of the windows, through Qt's accessible interface tree
// in-process, where the fake clock steps the beat: how often the lamp row's description
// changes, and the dialogs' names and keys. (tests/atspi walks the real AT-SPI tree.)
#include "TestSupport.h"

#include "dialogs/frmCustomMeter.h"
#include "dialogs/frmOptions.h"

#include <QAccessible>
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

QAccessibleInterface *element(QWidget &window, const QString &name)
{
    const auto all = tree(QAccessible::queryAccessibleInterface(&window));
    const auto found = all.find(name);
    return found == all.end() ? nullptr : found->second;
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    // The lamp row tells which lamp of how many is lit, at most once a beat.
    void lampRowDescription();
    // The pattern box carries its label's name; OK and Cancel their access keys.
    void dialogNames();

private:
    TempSettings m_settings;
};

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
    // One change a beat; none at a beat's end or between beats.
    QCOMPARE(changes, (QStringList{"none of 4 lit", "1 of 4, strong", "2 of 4, weak", "3 of 4, weak", "4 of 4, weak"}));
}

void TestAccessibility::dialogNames()
{
    frmOptions options; // its boxes' names: tests/atspi
    options.show();
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

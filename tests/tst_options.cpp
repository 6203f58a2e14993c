// SPDX-License-Identifier: GPL-3.0-or-later
// The options dialog, shown modally with exec as the main window shows it: the
// channel box, the arrow keys and Enter of the note and velocity boxes with the
// notes they sound, the leave checks, and what OK stores.
#include "ModalDriver.h"
#include "StderrCapture.h"
#include "TestSupport.h"

#include "dialogs/frmOptions.h"
#include "engine/mdlMidi.h"

#include <QFile>
#include <QScreen>
#include <QTemporaryFile>
#include <QTest>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>

using Sent = std::vector<std::uint32_t>;
Q_DECLARE_METATYPE(Sent)

namespace {

pulsewerk::TextBox *box(frmOptions &dialog, const QString &name)
{
    auto *found = dialog.findChild<pulsewerk::TextBox *>(name);
    Q_ASSERT(found);
    return found;
}

// The field that each box fills.
std::int16_t &field(frmOptions &dialog, const QString &name)
{
    if (name == QLatin1String("txtChannel"))
        return dialog.m_intChannel;
    if (name == QLatin1String("txtStrong"))
        return dialog.m_intStrong;
    if (name == QLatin1String("txtStrongVelocity"))
        return dialog.m_intStrongVel;
    if (name == QLatin1String("txtWeak"))
        return dialog.m_intWeak;
    return dialog.m_intWeakVel;
}

// Clicks into `target` and selects its whole text with the keyboard.
void selectAllOf(QDialog &dialog, pulsewerk::TextBox *target)
{
    QTest::mouseClick(target, Qt::LeftButton);
    press(dialog, Qt::Key_End);
    press(dialog, Qt::Key_Home, Qt::ShiftModifier);
}

// Root writes through file permissions; with the override capability dropped from the
// effective set a read-only mode holds for it too. It is raised again afterwards.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride() { set(false); }
    ~WithoutPermissionOverride() { set(true); }

private:
    static void set(bool raised)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (syscall(SYS_capget, &header, data) != 0)
            return;
        const std::uint32_t bit = 1u << CAP_DAC_OVERRIDE;
        data[0].effective = raised ? (data[0].effective | (bit & data[0].permitted)) : (data[0].effective & ~bit);
        syscall(SYS_capset, &header, data);
    }
};

} // namespace

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    // Boxes not refilled, out-of-range values altered, focus off OK, or a leave check on closing.
    void opening();
    // A wrong focus order: OK, Cancel, then the five boxes row by row.
    void tabOrder();
    // Arrows that read the text, escape 1..16, wrap at the 16-bit ends, or make a sound.
    void channelKeys_data();
    void channelKeys();
    // A leave check that rounds halves away from even, misses 1..16, or wraps past 16 bits.
    void channelLeave_data();
    void channelLeave();
    // A key-down that fails to put the field back first, so typed digits pile up.
    void channelTyping();
    // Wrong step, clamp or note heard for the arrows and Enter in the note and velocity boxes.
    void valueKeys_data();
    void valueKeys();
    // A field read after the typed character instead of before it (1 0 0 must leave 10).
    void velocityFieldLagsTyping();
    // A leave check that fails to cap the text, or that also changes the field.
    void noteLeaveCapsTextOnly();
    // A typed number beyond 16 bits that wraps to a negative value instead of saturating.
    void typedBeyond16Bits();
    // An audition that passes a field outside 0..127 on, and so sounds nothing.
    void auditionClampsFields_data();
    void auditionClampsFields();
    // OK that reads the fields instead of the checked boxes, or stores other keys or texts.
    void okStoresTheValues_data();
    void okStoresTheValues();
    // Enter in a box or Escape anywhere closing the dialog; Enter or Space not pressing a button;
    // Alt+O or Alt+C not pressing OK or Cancel.
    void keys_data();
    void keys();
    // An m_blnOK left over from the first showing, letting Cancel's changes reach the main window.
    void okThenCancelThroughMainWindow();
    // An unwritable store that loses the values, damages the old file, or fails silently.
    void readOnlyStore_data();
    void readOnlyStore();

private:
    Sent sent() const;

    std::unique_ptr<TempSettings> m_settings;
    pulsewerk::RecordingMidiOut::Log m_log;
    std::optional<RecordingContext> m_program;
};

void TestOptions::init()
{
    m_settings = std::make_unique<TempSettings>(); // a new file name each time: no cached store
    m_log = {};
    m_program.emplace(m_log);
    mdlMidi::OpenMidiOut();
}

void TestOptions::cleanup()
{
    mdlMidi::CloseMidiOut();
    m_program.reset();
    m_settings.reset();
}

Sent TestOptions::sent() const
{
    Sent messages;
    for (const auto &m : m_log.messages)
        messages.push_back(m.message);
    return messages;
}

void TestOptions::opening()
{
    frmOptions dialog;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   QCOMPARE(d.frameGeometry().center(), d.screen()->availableGeometry().center());
                   selectAllOf(d, dialog.txtWeak);
                   type(d, QStringLiteral("200"));
                   d.close(); // no leave check runs, and the focus stays in the box
               });
    QCOMPARE(dialog.txtWeak->text(), QStringLiteral("200"));
    QVERIFY(!dialog.m_blnOK);

    dialog.m_blnOK = true; // as if left over from an earlier showing
    dialog.m_intChannel = 20;
    dialog.m_intStrong = 61;
    dialog.m_intStrongVel = 200;
    dialog.m_intWeak = 60;
    dialog.m_intWeakVel = 50;
    QStringList texts;
    QWidget *focus = nullptr;
    bool okDuringShowing = true;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &) {
                   for (pulsewerk::TextBox *each : {dialog.txtChannel, dialog.txtStrong, dialog.txtStrongVelocity,
                                                    dialog.txtWeak, dialog.txtWeakVelocity})
                       texts << each->text();
                   focus = QApplication::focusWidget();
                   okDuringShowing = dialog.m_blnOK;
               });
    QCOMPARE(texts, QStringList({"20", "61", "200", "60", "50"}));
    QCOMPARE(focus, dialog.cmdOK);
    QVERIFY(!okDuringShowing);
    QVERIFY(!dialog.m_blnOK);
    QVERIFY(sent().empty());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Options"));
    QCOMPARE(dialog.size(), QSize(240, 203));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.Label8->text(), QStringLiteral("Use Up & Down arrow keys to change a value."));
    QVERIFY(!dialog.Label8->buddy()); // so the ampersand stays a plain character
}

void TestOptions::tabOrder()
{
    frmOptions dialog;
    QList<QWidget *> visited;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   for (int i = 0; i < 8; ++i) {
                       visited << QApplication::focusWidget();
                       press(d, Qt::Key_Tab);
                   }
               });
    const QList<QWidget *> expected{
        dialog.cmdOK,   dialog.cmdCancel,       dialog.txtChannel, dialog.txtStrong, dialog.txtStrongVelocity,
        dialog.txtWeak, dialog.txtWeakVelocity, dialog.cmdOK};
    QCOMPARE(visited, expected);
}

void TestOptions::channelKeys_data()
{
    QTest::addColumn<int>("handed");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("after");
    QTest::newRow("16 Up stays 16") << 16 << int(Qt::Key_Up) << 16;
    QTest::newRow("1 Down stays 1") << 1 << int(Qt::Key_Down) << 1;
    QTest::newRow("10 Up") << 10 << int(Qt::Key_Up) << 11;
    QTest::newRow("10 Down") << 10 << int(Qt::Key_Down) << 9;
    QTest::newRow("Enter rewrites") << 10 << int(Qt::Key_Return) << 10;
    QTest::newRow("20 handed in, Left") << 20 << int(Qt::Key_Left) << 16;
    QTest::newRow("0 handed in, Escape") << 0 << int(Qt::Key_Escape) << 1;
    QTest::newRow("32767 Up stays at the end") << 32767 << int(Qt::Key_Up) << 16;
    QTest::newRow("-32768 Down stays at the end") << -32768 << int(Qt::Key_Down) << 1;
}

void TestOptions::channelKeys()
{
    QFETCH(int, handed);
    QFETCH(int, key);
    QFETCH(int, after);
    frmOptions dialog;
    dialog.m_intChannel = static_cast<std::int16_t>(handed);
    const bool open = whileModal([&] { dialog.exec(); },
                                 [&](QDialog &d) {
                                     QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                                     press(d, static_cast<Qt::Key>(key));
                                 });
    QVERIFY(open);
    QCOMPARE(dialog.m_intChannel, std::int16_t(after));
    QCOMPARE(dialog.txtChannel->text(), QString::number(after));
    QVERIFY(sent().empty());
}

void TestOptions::channelLeave_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("after");
    QTest::newRow("0") << "0" << 1;
    QTest::newRow("17") << "17" << 16;
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("2.5 rounds to even") << "2.5" << 2;
    QTest::newRow("3.5 rounds to even") << "3.5" << 4;
    QTest::newRow("105") << "105" << 16;
    QTest::newRow("510") << "510" << 16;
    QTest::newRow("1.5.3 reads 1.5") << "1.5.3" << 2;
    QTest::newRow("leading number of 7abc") << "7abc" << 7;
    QTest::newRow("no number") << "abc" << 1;
    QTest::newRow("40000 saturates") << "40000" << 16;
    QTest::newRow("far beyond 32 bits") << "99999999999999999999" << 16;
}

void TestOptions::channelLeave()
{
    QFETCH(QString, text);
    QFETCH(int, after);
    frmOptions dialog;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &) {
                   QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                   dialog.txtChannel->setText(text); // as a paste leaves it
                   QTest::mouseClick(dialog.txtWeak, Qt::LeftButton);
               });
    QCOMPARE(dialog.txtChannel->text(), QString::number(after));
    QCOMPARE(dialog.m_intChannel, std::int16_t(after));
}

void TestOptions::channelTyping()
{
    frmOptions dialog;
    QStringList shown;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                   for (const char digit : {'5', '3', '7'}) {
                       QTest::keyClick(d.windowHandle(), digit);
                       shown << dialog.txtChannel->text();
                   }
                   press(d, Qt::Key_Up); // steps from the field's 10, not from the typed 107
                   shown << dialog.txtChannel->text();
                   press(d, Qt::Key_Return);
                   shown << dialog.txtChannel->text();
                   QTest::keyClick(d.windowHandle(), '5');
                   shown << dialog.txtChannel->text();
                   dialog.txtChannel->setText(QStringLiteral("3.5"));
                   press(d, Qt::Key_Escape);
                   shown << dialog.txtChannel->text();
                   QTest::keyClick(d.windowHandle(), '5');
                   QTest::mouseClick(dialog.txtStrong, Qt::LeftButton);
                   shown << dialog.txtChannel->text();
               });
    QCOMPARE(shown, QStringList({"105", "103", "107", "11", "11", "115", "11", "16"}));
    QCOMPARE(dialog.m_intChannel, std::int16_t(16));
    QVERIFY(sent().empty());
}

void TestOptions::valueKeys_data()
{
    QTest::addColumn<QString>("boxName");
    QTest::addColumn<int>("handed");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("after");
    QTest::addColumn<Sent>("sounds");
    // Fields not handed in stay at channel 10, strong 61 / 80, weak 60 / 50.
    QTest::newRow("Up in strong note at 127")
        << "txtStrong" << 127 << int(Qt::Key_Up) << 127 << Sent{NoteOn(9, 127, 80), NoteOn(9, 127, 0)};
    QTest::newRow("Down in strong note") << "txtStrong" << 61 << int(Qt::Key_Down) << 60
                                         << Sent{NoteOn(9, 60, 80), NoteOn(9, 60, 0)};
    QTest::newRow("Down in weak note at 0")
        << "txtWeak" << 0 << int(Qt::Key_Down) << 0 << Sent{NoteOn(9, 0, 50), NoteOn(9, 0, 0)};
    QTest::newRow("Up in weak note") << "txtWeak" << 60 << int(Qt::Key_Up) << 61
                                     << Sent{NoteOn(9, 61, 50), NoteOn(9, 61, 0)};
    QTest::newRow("Enter in strong note")
        << "txtStrong" << 61 << int(Qt::Key_Return) << 61 << Sent{NoteOn(9, 61, 80), NoteOn(9, 61, 0)};
    QTest::newRow("Up in strong velocity is silent") << "txtStrongVelocity" << 80 << int(Qt::Key_Up) << 81 << Sent{};
    QTest::newRow("Up in strong velocity at 127") << "txtStrongVelocity" << 127 << int(Qt::Key_Up) << 127 << Sent{};
    QTest::newRow("Down in weak velocity is silent") << "txtWeakVelocity" << 50 << int(Qt::Key_Down) << 49 << Sent{};
    QTest::newRow("Down in weak velocity at 0") << "txtWeakVelocity" << 0 << int(Qt::Key_Down) << 0 << Sent{};
    QTest::newRow("Enter in strong velocity")
        << "txtStrongVelocity" << 90 << int(Qt::Key_Return) << 90 << Sent{NoteOn(9, 61, 90), NoteOn(9, 61, 0)};
    QTest::newRow("Enter in weak velocity")
        << "txtWeakVelocity" << 0 << int(Qt::Key_Enter) << 0 << Sent{NoteOn(9, 60, 0), NoteOn(9, 60, 0)};
    QTest::newRow("Up in a note at the 16-bit end")
        << "txtWeak" << 32767 << int(Qt::Key_Up) << 127 << Sent{NoteOn(9, 127, 50), NoteOn(9, 127, 0)};
    QTest::newRow("Up in a note handed in above 127")
        << "txtStrong" << 300 << int(Qt::Key_Up) << 127 << Sent{NoteOn(9, 127, 80), NoteOn(9, 127, 0)};
    QTest::newRow("Down in a velocity handed in below 0")
        << "txtWeakVelocity" << -5 << int(Qt::Key_Down) << 0 << Sent{};
}

void TestOptions::valueKeys()
{
    QFETCH(QString, boxName);
    QFETCH(int, handed);
    QFETCH(int, key);
    QFETCH(int, after);
    QFETCH(Sent, sounds);
    frmOptions dialog;
    field(dialog, boxName) = static_cast<std::int16_t>(handed);
    pulsewerk::TextBox *target = box(dialog, boxName);
    const bool open = whileModal([&] { dialog.exec(); },
                                 [&](QDialog &d) {
                                     QTest::mouseClick(target, Qt::LeftButton);
                                     press(d, static_cast<Qt::Key>(key));
                                 });
    QVERIFY(open);
    QCOMPARE(target->text(), QString::number(after));
    QCOMPARE(field(dialog, boxName), std::int16_t(after));
    QCOMPARE(sent(), sounds);
}

void TestOptions::velocityFieldLagsTyping()
{
    frmOptions dialog;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   selectAllOf(d, dialog.txtStrongVelocity);
                   type(d, QStringLiteral("100"));
                   QTest::mouseClick(dialog.txtStrong, Qt::LeftButton);
                   press(d, Qt::Key_Return);
               });
    QCOMPARE(dialog.txtStrongVelocity->text(), QStringLiteral("100"));
    QCOMPARE(dialog.m_intStrongVel, std::int16_t(10));
    QCOMPARE(sent(), (Sent{NoteOn(9, 61, 10), NoteOn(9, 61, 0)}));
}

void TestOptions::noteLeaveCapsTextOnly()
{
    frmOptions dialog;
    int fieldBeforeOk = 0;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   selectAllOf(d, dialog.txtWeak);
                   type(d, QStringLiteral("200"));
                   press(d, Qt::Key_Tab);
                   fieldBeforeOk = dialog.m_intWeak;
                   QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
               });
    QCOMPARE(dialog.txtWeak->text(), QStringLiteral("127"));
    QCOMPARE(fieldBeforeOk, 20);
    QVERIFY(dialog.m_blnOK);
    QCOMPARE(dialog.m_intWeak, std::int16_t(127));
    QVERIFY(sent().empty());
}

void TestOptions::typedBeyond16Bits()
{
    frmOptions dialog;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   selectAllOf(d, dialog.txtStrong);
                   type(d, QStringLiteral("40000"));
                   press(d, Qt::Key_Up);
               });
    QCOMPARE(dialog.txtStrong->text(), QStringLiteral("127"));
    QCOMPARE(sent(), (Sent{NoteOn(9, 127, 80), NoteOn(9, 127, 0)}));
}

void TestOptions::auditionClampsFields_data()
{
    QTest::addColumn<int>("strongVelocity");
    QTest::addColumn<int>("weakNote");
    QTest::addColumn<QString>("typedIntoWeakVelocity");
    QTest::addColumn<QString>("enterIn");
    QTest::addColumn<Sent>("sounds");
    QTest::newRow("velocity handed in above 127")
        << 300 << 60 << QString() << "txtStrong" << Sent{NoteOn(9, 61, 127), NoteOn(9, 61, 0)};
    QTest::newRow("note handed in below 0")
        << 80 << -5 << QString() << "txtWeakVelocity" << Sent{NoteOn(9, 0, 50), NoteOn(9, 0, 0)};
    // The Left key-down takes the uncapped 200 into the field; leaving caps only the text.
    QTest::newRow("velocity typed above 127") << 80 << 60 << "200"
                                              << "txtWeak" << Sent{NoteOn(9, 60, 127), NoteOn(9, 60, 0)};
}

void TestOptions::auditionClampsFields()
{
    QFETCH(int, strongVelocity);
    QFETCH(int, weakNote);
    QFETCH(QString, typedIntoWeakVelocity);
    QFETCH(QString, enterIn);
    QFETCH(Sent, sounds);
    frmOptions dialog;
    dialog.m_intStrongVel = static_cast<std::int16_t>(strongVelocity);
    dialog.m_intWeak = static_cast<std::int16_t>(weakNote);
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   if (!typedIntoWeakVelocity.isEmpty()) {
                       selectAllOf(d, dialog.txtWeakVelocity);
                       type(d, typedIntoWeakVelocity);
                       press(d, Qt::Key_Left);
                   }
                   QTest::mouseClick(box(dialog, enterIn), Qt::LeftButton);
                   press(d, Qt::Key_Return);
               });
    QCOMPARE(sent(), sounds);
}

void TestOptions::okStoresTheValues_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("OK clicked") << false;
    QTest::newRow("Alt+O") << true;
}

void TestOptions::okStoresTheValues()
{
    QFETCH(bool, byKey);
    frmOptions dialog;
    dialog.m_intChannel = 4;
    dialog.m_intStrongVel = 89;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                   press(d, Qt::Key_Down);
                   QTest::mouseClick(dialog.txtStrongVelocity, Qt::LeftButton);
                   press(d, Qt::Key_Up);
                   selectAllOf(d, dialog.txtWeakVelocity);
                   type(d, QStringLiteral("200")); // capped by the leave check that pressing OK runs
                   if (byKey)
                       press(d, Qt::Key_O, Qt::AltModifier);
                   else
                       QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
               });
    QVERIFY(dialog.m_blnOK);
    QCOMPARE(dialog.m_intChannel, std::int16_t(3));
    QCOMPARE(dialog.m_intStrong, std::int16_t(61));
    QCOMPARE(dialog.m_intStrongVel, std::int16_t(90));
    QCOMPARE(dialog.m_intWeak, std::int16_t(60));
    QCOMPARE(dialog.m_intWeakVel, std::int16_t(127));
    QVERIFY(TempSettings::waitForSaves());
    QFile file(m_settings->fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(),
             QByteArray("[Options]\nChannel=3\nStrongNote=61\nStrongVel=90\nWeakNote=60\nWeakVel=127\n"));
}

void TestOptions::keys_data()
{
    QTest::addColumn<int>("tabs");        // from OK: 0 OK, 1 Cancel, 2 channel, 3 .. 6 the value boxes
    QTest::addColumn<int>("key");         // a key combination
    QTest::addColumn<QString>("outcome"); // "OK", "Cancel" or "open"
    const int altO = QKeyCombination(Qt::ALT | Qt::Key_O).toCombined();
    const int altC = QKeyCombination(Qt::ALT | Qt::Key_C).toCombined();
    QTest::newRow("Alt+O on Cancel") << 1 << altO << "OK";
    QTest::newRow("Alt+C on OK") << 0 << altC << "Cancel";
    QTest::newRow("Enter on OK") << 0 << int(Qt::Key_Return) << "OK";
    QTest::newRow("Space on OK") << 0 << int(Qt::Key_Space) << "OK";
    QTest::newRow("Enter on Cancel") << 1 << int(Qt::Key_Return) << "Cancel";
    QTest::newRow("Space on Cancel") << 1 << int(Qt::Key_Space) << "Cancel";
    QTest::newRow("Escape on OK") << 0 << int(Qt::Key_Escape) << "open";
    QTest::newRow("Escape on Cancel") << 1 << int(Qt::Key_Escape) << "open";
    const char *boxes[] = {"channel", "strong note", "strong velocity", "weak note", "weak velocity"};
    for (int i = 0; i < 5; ++i) {
        QTest::addRow("Enter in %s", boxes[i]) << 2 + i << int(Qt::Key_Return) << "open";
        QTest::addRow("keypad Enter in %s", boxes[i]) << 2 + i << int(Qt::Key_Enter) << "open";
        QTest::addRow("Escape in %s", boxes[i]) << 2 + i << int(Qt::Key_Escape) << "open";
        QTest::addRow("Alt+O in %s", boxes[i]) << 2 + i << altO << "OK";
        QTest::addRow("Alt+C in %s", boxes[i]) << 2 + i << altC << "Cancel";
    }
}

void TestOptions::keys()
{
    QFETCH(int, tabs);
    QFETCH(int, key);
    QFETCH(QString, outcome);
    frmOptions dialog;
    const bool open = whileModal([&] { dialog.exec(); },
                                 [&](QDialog &d) {
                                     for (int i = 0; i < tabs; ++i)
                                         press(d, Qt::Key_Tab);
                                     const auto keys = QKeyCombination::fromCombined(key);
                                     press(d, keys.key(), keys.keyboardModifiers());
                                 });
    QCOMPARE(open, outcome == QLatin1String("open"));
    QCOMPARE(dialog.m_blnOK, outcome == QLatin1String("OK"));
    QVERIFY(TempSettings::waitForSaves());
    QCOMPARE(QFile::exists(m_settings->fileName()), outcome == QLatin1String("OK"));
}

void TestOptions::okThenCancelThroughMainWindow()
{
    BeatHarness h;
    frmMain &w = h.window();
    bool okShown = true;
    whileModal([&] { QTest::mouseClick(w.imgOptions, Qt::LeftButton); },
               [&](QDialog &d) {
                   auto &dialog = static_cast<frmOptions &>(d);
                   QTest::mouseClick(dialog.txtWeak, Qt::LeftButton);
                   press(d, Qt::Key_Up);
                   QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
               });
    frmOptions *first = frmMainTestAccess::options(w);
    QVERIFY(first);
    QCOMPARE(frmMainTestAccess::weakNote(w), std::int16_t(61));
    QVERIFY(TempSettings::waitForSaves());
    const QByteArray stored = [&] {
        QFile file(m_settings->fileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(stored.contains("WeakNote=61"));

    whileModal([&] { QTest::mouseClick(w.imgOptions, Qt::LeftButton); },
               [&](QDialog &d) {
                   auto &dialog = static_cast<frmOptions &>(d);
                   okShown = dialog.m_blnOK;
                   QCOMPARE(dialog.txtWeak->text(), QStringLiteral("61"));
                   QTest::mouseClick(dialog.txtWeak, Qt::LeftButton);
                   press(d, Qt::Key_Up);
                   QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                   press(d, Qt::Key_Down);
                   QTest::mouseClick(dialog.cmdCancel, Qt::LeftButton);
               });
    QCOMPARE(frmMainTestAccess::options(w), first); // the same dialog object, kept between showings
    QVERIFY(!okShown);
    QVERIFY(!first->m_blnOK);
    QCOMPARE(first->m_intWeak, std::int16_t(62)); // the arrow changed the field
    QCOMPARE(frmMainTestAccess::weakNote(w), std::int16_t(61));
    QCOMPARE(frmMainTestAccess::channel(w), std::int16_t(10));
    QFile file(m_settings->fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), stored);
}

void TestOptions::readOnlyStore_data()
{
    QTest::addColumn<QString>("locked"); // the paths made read-only, below the temporary folder
    QTest::addColumn<bool>("existing");
    QTest::newRow("read-only folder") << "Pulsewerk" << true;
    QTest::newRow("read-only file") << "Pulsewerk/Pulsewerk.conf" << true;
    QTest::newRow("both") << "Pulsewerk Pulsewerk/Pulsewerk.conf" << true;
    QTest::newRow("no store yet, no folder can be made") << "." << false;
}

void TestOptions::readOnlyStore()
{
    QFETCH(QString, locked);
    QFETCH(bool, existing);
    if (existing)
        m_settings->store(QStringLiteral("Channel"), QStringLiteral("5"));
    QFile file(m_settings->fileName());
    const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();
    QList<QByteArray> paths;
    for (const QString &each : locked.split(u' '))
        paths << QFile::encodeName(m_settings->folder() + u'/' + each);
    for (const QByteArray &path : paths)
        QVERIFY(chmod(path.constData(), 0555) == 0);

    frmOptions dialog;
    dialog.m_intChannel = 5;
    QByteArray errors;
    {
        WithoutPermissionOverride readOnlyHolds;
        whileModal([&] { dialog.exec(); },
                   [&](QDialog &d) {
                       QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                       press(d, Qt::Key_Up);
                       StderrCapture capture;
                       QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
                       QVERIFY(TempSettings::waitForSaves()); // the failure is said once known
                       errors = capture.finish();
                   });
    }
    for (const QByteArray &path : paths)
        chmod(path.constData(), 0755);
    QVERIFY(dialog.isHidden());
    QVERIFY(dialog.m_blnOK);
    QCOMPARE(dialog.m_intChannel, std::int16_t(6));
    QCOMPARE(file.exists(), existing);
    if (existing) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
    QCOMPARE(errors.count('\n'), qsizetype(1));
    QVERIFY2(errors.endsWith('\n') && errors.size() > 1, errors.constData());
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"

// The five sound settings read when the main window loads: defaults, stored values,
// stored text that cannot serve, and values written by the options dialog's OK.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "dialogs/frmOptions.h"

#include <QFile>
#include <QTest>

#include <memory>

using Access = frmMainTestAccess;

namespace {

struct Sound {
    int channel, strongNote, strongVelocity, weakNote, weakVelocity;
};

Sound loaded(frmMain &w)
{
    return {Access::channel(w), Access::strongNote(w), Access::strongVelocity(w), Access::weakNote(w),
            Access::weakVelocity(w)};
}

bool operator==(const Sound &a, const Sound &b)
{
    return a.channel == b.channel && a.strongNote == b.strongNote && a.strongVelocity == b.strongVelocity &&
           a.weakNote == b.weakNote && a.weakVelocity == b.weakVelocity;
}

} // namespace

namespace QTest {
template <> char *toString(const Sound &s)
{
    return qstrdup(QByteArray::number(s.channel) + ' ' + QByteArray::number(s.strongNote) + ' ' +
                   QByteArray::number(s.strongVelocity) + ' ' + QByteArray::number(s.weakNote) + ' ' +
                   QByteArray::number(s.weakVelocity));
}
} // namespace QTest

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    // Wrong defaults on a first run, or a load that writes the store.
    void emptyStore();
    // Stored values ignored, mixed up between keys, or the channel sent without its 1-based shift.
    void storedValues();
    // One present key dragging the missing ones off their defaults.
    void onlyStrongNote();
    // Bad stored text taken as a value or upsetting other keys, or a range end refused.
    void storedText_data();
    void storedText();
    // Values written by the options dialog's OK not read back unchanged by a fresh window.
    void roundTrip();

private:
    // Writes the settings file as hand-edited text: an [Options] section with `lines`.
    void writeStore(const QByteArray &lines);

    std::unique_ptr<TempSettings> m_settings;
};

void TestSettings::init() { m_settings = std::make_unique<TempSettings>(); }

void TestSettings::cleanup() { m_settings.reset(); }

void TestSettings::writeStore(const QByteArray &lines)
{
    QVERIFY(QDir().mkpath(m_settings->folder() + QStringLiteral("/Pulsewerk")));
    QFile file(m_settings->fileName());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Options]\n" + lines);
}

void TestSettings::emptyStore()
{
    {
        BeatHarness h;
        QCOMPARE(loaded(h.window()), (Sound{10, 61, 80, 60, 50}));
        h.window().close();
    }
    QVERIFY(!QFile::exists(m_settings->fileName()));
    QVERIFY(!QDir(m_settings->folder() + QStringLiteral("/Pulsewerk")).exists());
}

void TestSettings::storedValues()
{
    writeStore("Channel=3\nStrongNote=70\nStrongVel=100\nWeakNote=65\nWeakVel=40\n");
    BeatHarness h;
    frmMain &w = h.window();
    QCOMPARE(loaded(w), (Sound{3, 70, 100, 65, 40}));
    h.openOutput();
    w.OnBeat(); // meter "None": a weak beat
    w.OnBeatOff();
    QCOMPARE(h.midi.messages.size(), std::size_t(2));
    QCOMPARE(h.midi.messages[0].message, NoteOn(2, 65, 40));
    QCOMPARE(h.midi.messages[1].message, NoteOn(2, 65, 0));
}

void TestSettings::onlyStrongNote()
{
    m_settings->store(QStringLiteral("StrongNote"), QStringLiteral("64"));
    BeatHarness h;
    QCOMPARE(loaded(h.window()), (Sound{10, 64, 80, 60, 50}));
}

void TestSettings::storedText_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("text"); // as it stands in the file
    QTest::addColumn<int>("expected");
    struct Row {
        const char *key;
        int low, high, fallback;
    };
    const Row keys[] = {{"Channel", 1, 16, 10},
                        {"StrongNote", 0, 127, 61},
                        {"StrongVel", 0, 127, 80},
                        {"WeakNote", 0, 127, 60},
                        {"WeakVel", 0, 127, 50}};
    const QList<QByteArray> bad{"abc",
                                "",
                                "99999",
                                "200",
                                "-1",
                                "3.7",
                                "1e2",
                                "0x10",
                                "7a",
                                "+5",
                                "5 6",
                                "3,4",
                                "5\\n",
                                "\\t9",
                                "\"\"",
                                "100000000000000000000",
                                QByteArray("\x01\xff\xfe\x00\x7f", 5)};
    for (const Row &k : keys) {
        for (const QByteArray &text : bad)
            QTest::addRow("%s=%s", k.key, text.toPercentEncoding().constData())
                << QByteArray(k.key) << text << k.fallback;
        QTest::addRow("%s below its range", k.key) << QByteArray(k.key) << QByteArray::number(k.low - 1) << k.fallback;
        QTest::addRow("%s above its range", k.key) << QByteArray(k.key) << QByteArray::number(k.high + 1) << k.fallback;
        QTest::addRow("%s at its low end", k.key) << QByteArray(k.key) << QByteArray::number(k.low) << k.low;
        QTest::addRow("%s at its high end", k.key) << QByteArray(k.key) << QByteArray::number(k.high) << k.high;
        QTest::addRow("%s with a leading zero", k.key) << QByteArray(k.key) << QByteArray("07") << 7;
    }
}

void TestSettings::storedText()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    // Every other key holds a valid value of its own, which must survive.
    Sound stored{4, 70, 100, 65, 40};
    QByteArray lines;
    const QList<QByteArray> names{"Channel", "StrongNote", "StrongVel", "WeakNote", "WeakVel"};
    int *values[] = {&stored.channel, &stored.strongNote, &stored.strongVelocity, &stored.weakNote,
                     &stored.weakVelocity};
    for (int i = 0; i < names.size(); ++i) {
        if (names[i] == key) {
            lines += key + '=' + text + '\n';
            *values[i] = expected;
        } else {
            lines += names[i] + '=' + QByteArray::number(*values[i]) + '\n';
        }
    }
    writeStore(lines);
    BeatHarness h;
    QCOMPARE(loaded(h.window()), stored);
}

void TestSettings::roundTrip()
{
    {
        BeatHarness h;
        frmMain &w = h.window();
        whileModal([&] { QTest::mouseClick(w.imgOptions, Qt::LeftButton); },
                   [&](QDialog &d) {
                       auto &dialog = static_cast<frmOptions &>(d);
                       QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                       for (int i = 0; i < 8; ++i)
                           press(d, Qt::Key_Up); // 10 up to 16, and held there
                       press(d, Qt::Key_Tab);
                       type(d, QStringLiteral("127")); // tabbing in selected the whole text
                       press(d, Qt::Key_Tab);
                       type(d, QStringLiteral("0"));
                       press(d, Qt::Key_Tab);
                       type(d, QStringLiteral("0"));
                       press(d, Qt::Key_Tab);
                       type(d, QStringLiteral("127"));
                       QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
                   });
        QCOMPARE(loaded(w), (Sound{16, 127, 0, 0, 127})); // taken over for this run
        w.close();
    }
    QVERIFY(TempSettings::waitForSaves());
    BeatHarness fresh;
    QCOMPARE(loaded(fresh.window()), (Sound{16, 127, 0, 0, 127}));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"

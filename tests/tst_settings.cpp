// SPDX-License-Identifier: GPL-3.0-or-later
// The five sound settings read when the main window loads: defaults, stored values,
// stored text that cannot serve, and values written by the options dialog's OK: kept
// whole through a kill at any moment, said truly when they cannot be, never holding
// up the beat, and kept in the folder the XDG rules give.
#include "ModalDriver.h"
#include "StderrCapture.h"
#include "TestSupport.h"

#include "dialogs/frmOptions.h"
#include "dialogs/frmSpeedTrainer.h"
#include "engine/mdlMain.h"
#include "settings/SettingsTable.h"

#include <QFile>
#include <QLockFile>
#include <QSemaphore>
#include <QSettings>
#include <QSysInfo>
#include <QTest>

#include <csignal>
#include <ctime>
#include <memory>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

const QStringList kKeys{"Channel", "StrongNote", "StrongVel", "WeakNote", "WeakVel"};

pulsewerk::IniValues iniValues(const Sound &s)
{
    const int values[] = {s.channel, s.strongNote, s.strongVelocity, s.weakNote, s.weakVelocity};
    pulsewerk::IniValues out;
    for (int i = 0; i < kKeys.size(); ++i)
        out.append({kKeys[i], values[i]});
    return out;
}

// Every key QSettings reads from the file, with its value; `status` gets the reader's verdict.
QVariantMap readBack(const QString &fileName, QSettings::Status *status = nullptr)
{
    // A copy under a name never read before: QSettings keeps what it has read by name.
    static int copies = 0;
    const QString copy = QFileInfo(fileName).absolutePath() + QStringLiteral("/check%1.conf").arg(++copies);
    if (!QFile::copy(fileName, copy))
        return {{QStringLiteral("(unreadable)"), true}};
    QVariantMap keys;
    {
        QSettings store(copy, QSettings::IniFormat);
        for (const QString &key : store.allKeys()) {
            if (!key.isEmpty())
                keys.insert(key, store.value(key));
        }
        if (status)
            *status = store.status();
    }
    QFile::remove(copy);
    return keys;
}

// Takes the five values out of `keys`, as text; an empty one for a missing key.
QString takeSound(QVariantMap &keys)
{
    QStringList values;
    for (const QString &key : kKeys)
        values << keys.take(QStringLiteral("Options/") + key).toString();
    return values.join(u' ');
}

QString soundText(const Sound &s)
{
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(s.channel)
        .arg(s.strongNote)
        .arg(s.strongVelocity)
        .arg(s.weakNote)
        .arg(s.weakVelocity);
}

// A settings file with the values `old` among keys and groups the program does not know.
QByteArray fileWithOthers(const Sound &old)
{
    return "; kept by hand\nTheme=dark\n[Window]\nsize=@Size(300 200)\ntitle=\"a; b, c\"\n[Options]\nChannel=" +
           QByteArray::number(old.channel) + "\nExtra=yes\nStrongNote=" + QByteArray::number(old.strongNote) +
           "\nStrongVel=" + QByteArray::number(old.strongVelocity) + "\nWeakNote=" + QByteArray::number(old.weakNote) +
           "\nWeakVel=" + QByteArray::number(old.weakVelocity) + "\n[Other%20Group]\nlist=1, 2, 3\npath=C:\\\\x\n";
}

// 8 KiB of random bytes, the size of a file that a crash filled with garbage.
QByteArray randomBytes(std::mt19937 &random)
{
    QByteArray bytes(8192, '\0');
    for (char &b : bytes)
        b = static_cast<char>(random());
    return bytes;
}

// Opens the options from the window, steps the channel up once and clicks OK.
void okWithChannelUp(frmMain &w)
{
    whileModal([&] { QTest::mouseClick(w.imgOptions, Qt::LeftButton); },
               [&](QDialog &d) {
                   auto &dialog = static_cast<frmOptions &>(d);
                   QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                   press(d, Qt::Key_Up);
                   QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
               });
}

// Runs `child` in a forked copy of this process; returns how that copy ended (waitpid status).
int inChild(const std::function<void()> &child)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        child();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// Frees the save thread once the test lets it go.
struct Gate {
    QSemaphore open;
    QAtomicInt replaced = 0;
};

} // namespace

namespace QTest {
template <> char *toString(const Sound &s) { return qstrdup(qPrintable(soundText(s))); }
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
    // A kill at any step of the save leaving a mix of old and new values or a broken file.
    void killedAtEachStep();
    // The same for kills at random moments, a few hundred of them.
    void killedAtRandom();
    // A save that the message calls failed when it did not, or the reverse; a key or
    // group of a hand-edited or broken file lost, a value not set, a file left that
    // QSettings reads with an error or rewritten when it held the values already; a stale
    // lock that holds up OK or keeps the values out.
    void saveOutcome_data();
    void saveOutcome();
    // A save of one group overtaken, and lost, by a later save of another group.
    void savesOfOtherGroupsKept();
    // The beat held up while a large file is saved.
    void beatsOnDuringSave();
    // A large file read whole into memory, or held in several copies, by the load or the save.
    void largeFileInPieces();
    // Text that QSettings reads back otherwise than it was written, or that reads back changed.
    void textValues_data();
    void textValues();
    // An end by signal held up by a save, or a save given up then that lands later or
    // goes unsaid.
    void signalDuringSave();
    // A folder taken from a relative XDG_CONFIG_HOME, or from no home at all.
    void settingsFolder_data();
    void settingsFolder();
    // With nowhere to keep them, settings written at the root, or more than one word said.
    void noSettingsFolder();

private:
    // Writes the settings file as hand-edited text: an [Options] section with `lines`.
    void writeStore(const QByteArray &lines);
    // Writes the settings file with exactly `text`.
    void writeFile(const QByteArray &text);

    std::unique_ptr<TempSettings> m_settings;
};

void TestSettings::init() { m_settings = std::make_unique<TempSettings>(); }

void TestSettings::cleanup() { m_settings.reset(); }

void TestSettings::writeStore(const QByteArray &lines) { writeFile("[Options]\n" + lines); }

void TestSettings::writeFile(const QByteArray &text)
{
    QVERIFY(QDir().mkpath(m_settings->folder() + QStringLiteral("/Pulsewerk")));
    QFile file(m_settings->fileName());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
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

void TestSettings::killedAtEachStep()
{
    const Sound old{3, 70, 100, 65, 40}, wanted{16, 127, 0, 0, 127};
    const auto steps = {pulsewerk::ReplaceStep::Locked, pulsewerk::ReplaceStep::Read, pulsewerk::ReplaceStep::Written,
                        pulsewerk::ReplaceStep::Replaced};
    for (const pulsewerk::ReplaceStep step : steps) {
        writeFile(fileWithOthers(old));
        QVariantMap others = readBack(m_settings->fileName());
        takeSound(others);
        const int status = inChild([&] {
            pulsewerk::storeIniValues(m_settings->fileName(), QStringLiteral("Options"), iniValues(wanted), {},
                                      [step](pulsewerk::ReplaceStep now) {
                                          if (now == step)
                                              std::raise(SIGKILL);
                                      });
        });
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        QSettings::Status read = QSettings::AccessError;
        QVariantMap keys = readBack(m_settings->fileName(), &read);
        QCOMPARE(read, QSettings::NoError);
        QCOMPARE(takeSound(keys), soundText(step == pulsewerk::ReplaceStep::Replaced ? wanted : old));
        QCOMPARE(keys, others);
    }
    // The lock the last one left behind does not stand in the way.
    QVERIFY(pulsewerk::storeIniValues(m_settings->fileName(), QStringLiteral("Options"), iniValues(old)));
}

void TestSettings::killedAtRandom()
{
    const Sound old{3, 70, 100, 65, 40}, first{16, 127, 0, 0, 127}, second{1, 0, 127, 127, 0};
    writeFile(fileWithOthers(old));
    QVariantMap others = readBack(m_settings->fileName());
    takeSound(others);

    // Kills spread over a few saves' time, so that every step of one is hit.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(pulsewerk::storeIniValues(m_settings->fileName(), QStringLiteral("Options"), iniValues(first)));
    qint64 rangeNs = 3 * std::max<qint64>(timer.nsecsElapsed(), 100000);
    QVERIFY(pulsewerk::storeIniValues(m_settings->fileName(), QStringLiteral("Options"), iniValues(old)));
    std::mt19937_64 random(16);
    const QStringList allowed{soundText(old), soundText(first), soundText(second)};
    QMap<QString, int> seen; // how many kills left each set of values
    for (int kill = 0; kill < 200; ++kill) {
        // A copy of this process starts slower than this one saves: until kills land
        // after whole saves too, the range grows.
        if (kill % 20 == 19 && seen.size() < 2)
            rangeNs *= 2;
        const auto delayNs = static_cast<long>(random() % static_cast<std::uint64_t>(rangeNs));
        const int status = inChild([&] {
            sigevent event{};
            event.sigev_notify = SIGEV_SIGNAL;
            event.sigev_signo = SIGKILL;
            timer_t killer{};
            itimerspec when{};
            when.it_value.tv_sec = delayNs / 1000000000;
            when.it_value.tv_nsec = std::max(1L, delayNs % 1000000000);
            if (timer_create(CLOCK_MONOTONIC, &event, &killer) != 0 || timer_settime(killer, 0, &when, nullptr) != 0)
                _exit(2);
            for (int i = 0; i < 1000; ++i)
                pulsewerk::storeIniValues(m_settings->fileName(), QStringLiteral("Options"),
                                          iniValues(i % 2 ? second : first));
            _exit(3);
        });
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, qPrintable(QString::number(status)));
        QSettings::Status read = QSettings::AccessError;
        QVariantMap keys = readBack(m_settings->fileName(), &read);
        QCOMPARE(read, QSettings::NoError);
        const QString sound = takeSound(keys);
        QVERIFY2(allowed.contains(sound), qPrintable(sound));
        QCOMPARE(keys, others);
        ++seen[sound];
    }
    qInfo() << "values after 200 kills:" << seen;
    QVERIFY2(seen.size() >= 2, "no kill came after a save was done"); // the kills did land in saves
    // The next save goes through what the kills left, and takes their temporary files away.
    QVERIFY(pulsewerk::storeIniValues(m_settings->fileName(), QStringLiteral("Options"), iniValues(first)));
    QCOMPARE(QDir(m_settings->folder() + QStringLiteral("/Pulsewerk")).entryList({"Pulsewerk.conf.new-*"}),
             QStringList());
}

void TestSettings::saveOutcome_data()
{
    QTest::addColumn<QString>("store");   // what stands where the settings go
    QTest::addColumn<QByteArray>("text"); // the file's text
    QTest::addColumn<bool>("saved");
    const auto file = [](const char *name, const QByteArray &text) { QTest::newRow(name) << "file" << text << true; };
    file("empty file", {});
    file("others around the values", fileWithOthers({3, 70, 100, 65, 40}));
    file("values in the general group", "Options\\Channel=5\nOptions\\WeakVel=9\n[A]\nb=2\n");
    file("escaped names, CR line ends", "[Opt%69ons]\r%43hannel=5\r[%55]\rk%U0041=1\r");
    file("Options twice, comments", "[Options]\nChannel=1 ;c\n[B]\nc=3\n[Options]\nWeakVel=4\n");
    file("byte order mark, no line end", "\xef\xbb\xbf[A]\nb=1");
    file("header without ], line without =", "junk\n[Options\nChannel=1\n[B]\nc=2");
    std::mt19937 random(16);
    for (const char *name : {"random bytes 1", "random bytes 2", "random bytes 3"})
        QTest::newRow(name) << "random bytes" << randomBytes(random) << true;
    QTest::newRow("file that is a link") << "link" << fileWithOthers({3, 70, 100, 65, 40}) << true;
    QTest::newRow("link to a file not made yet") << "dangling link" << QByteArray() << true;
    QTest::newRow("lock of a process that is gone") << "dead lock" << QByteArray() << true;
    QTest::newRow("fresh lock of another host") << "foreign lock" << QByteArray() << true;
    QTest::newRow("settings file is a folder") << "file is a folder" << QByteArray() << false;
    QTest::newRow("settings folder is a file") << "folder is a file" << QByteArray() << false;
    QTest::newRow("settings file is a FIFO") << "fifo" << QByteArray() << false;
    QTest::newRow("file size limit (full disk)") << "size limit" << QByteArray() << false;
}

void TestSettings::saveOutcome()
{
    QFETCH(QString, store);
    QFETCH(QByteArray, text);
    QFETCH(bool, saved);
    const QString folder = m_settings->folder() + QStringLiteral("/Pulsewerk");
    const QString fileName = m_settings->fileName();
    const auto lockLeftBy = [&](qint64 pid, const QByteArray &host) {
        writeStore("Channel=5\n");
        QFile lock(fileName + QStringLiteral(".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(pid) + "\ntst_settings\n" + host + "\n");
    };
    if (store == QLatin1String("file") || store == QLatin1String("random bytes")) {
        writeFile(text);
    } else if (store.endsWith(QLatin1String("link"))) { // kept with the user's other files
        const QString target = m_settings->folder() + QStringLiteral("/dotfiles/Pulsewerk.conf");
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(QFileInfo(target).path()));
        QFile file(target);
        if (store == QLatin1String("link"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        QVERIFY(QFile::link(QStringLiteral("../dotfiles/Pulsewerk.conf"), fileName));
    } else if (store == QLatin1String("dead lock")) {
        const int gone = inChild([] {}); // its pid is free once it has been waited for
        Q_UNUSED(gone);
        lockLeftBy(999999, QSysInfo::machineHostName().toUtf8());
    } else if (store == QLatin1String("foreign lock")) {
        lockLeftBy(1, "another-host");
    } else if (store == QLatin1String("file is a folder")) {
        QVERIFY(QDir().mkpath(fileName));
    } else if (store == QLatin1String("folder is a file")) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (store == QLatin1String("fifo")) { // never opened: that would wait for a writer
        QVERIFY(QDir().mkpath(folder) && mkfifo(QFile::encodeName(fileName).constData(), 0600) == 0);
    } else {
        writeStore("Channel=5\n[Room]\nfor=" + QByteArray(200, 'x') + '\n'); // room for the message in the limit
    }
    const auto contents = [&] {
        QFile file(fileName);
        return !QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly) ? QByteArray() : file.readAll();
    };
    const QByteArray before = contents();
    QVariantMap others = QFileInfo(fileName).isFile() ? readBack(fileName) : QVariantMap();
    takeSound(others);

    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{static_cast<rlim_t>(before.size() + 16), limit.rlim_max};
    if (store == QLatin1String("size limit")) {
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead
        setrlimit(RLIMIT_FSIZE, &small);
    }
    const Sound wanted{12, 61, 80, 60, 50}; // each new to every file
    frmOptions dialog;
    dialog.m_intChannel = wanted.channel;
    StderrCapture capture;
    bool waitedForSave = false;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &) {
                   QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
                   // OK is back at once, with a held lock too.
                   if (store == QLatin1String("foreign lock"))
                       waitedForSave = readBack(fileName).value(QStringLiteral("Options/StrongNote")).isValid();
               });
    QVERIFY(TempSettings::waitForSaves());
    if (!saved) { // the speed trainer's save fails as well, and says so too
        frmSpeedTrainer trainer;
        whileModal([&] { trainer.exec(); }, [&](QDialog &) { QTest::mouseClick(trainer.cmdStart, Qt::LeftButton); });
        QVERIFY(TempSettings::waitForSaves());
    }
    const QStringList said = capture.lines();
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);

    QVERIFY(dialog.m_blnOK);
    QVERIFY(!waitedForSave);
    QCOMPARE(said.size(), saved ? 0 : 2);
    if (!saved) {
        QCOMPARE(said[0], QStringLiteral("Pulsewerk: the options could not be saved; they hold for this run only."));
        QCOMPARE(said[1], QStringLiteral("Pulsewerk: the speed trainer's values could not be saved; they hold for "
                                         "this run only."));
        QCOMPARE(contents(), before);
        QCOMPARE(QFileInfo(fileName).isFile(), store != QLatin1String("fifo") && !before.isNull());
        return;
    }
    QSettings::Status status = QSettings::AccessError;
    QVariantMap keys = readBack(fileName, &status);
    QCOMPARE(status, QSettings::NoError);
    QCOMPARE(takeSound(keys), soundText(wanted));
    QCOMPARE(keys.keys(), others.keys());
    QCOMPARE(QFileInfo(fileName).isSymLink(), store.endsWith(QLatin1String("link")));
    QCOMPARE(readBack(m_settings->folder() + QStringLiteral("/dotfiles/Pulsewerk.conf")).contains("Options/Channel"),
             store.endsWith(QLatin1String("link")));
    if (store != QLatin1String("random bytes")) // with values that QSettings does not write back as it read them
        QCOMPARE(keys, others);
    // A file that holds the values already is left as it is.
    bool rewritten = false;
    QVERIFY(pulsewerk::storeIniValues(
        fileName, QStringLiteral("Options"), iniValues(wanted), {},
        [&](pulsewerk::ReplaceStep step) { rewritten |= step == pulsewerk::ReplaceStep::Read; }));
    QVERIFY(!rewritten);
}

void TestSettings::savesOfOtherGroupsKept()
{
    Gate gate;
    m_settings->onSaveStep([&gate](pulsewerk::ReplaceStep step) {
        if (step == pulsewerk::ReplaceStep::Read)
            gate.open.tryAcquire(1, 30000); // the first save waits here while the others queue
    });
    const auto save = [](const char *section, const char *key, int value) {
        pulsewerk::WriteSettings(QStringLiteral("Pulsewerk"), QString::fromLatin1(section),
                                 {{QString::fromLatin1(key), value}}, [] { QFAIL("a save failed"); });
    };
    save("Options", "Channel", 3);
    save("Trainer", "Start", 96);
    save("Options", "Channel", 4); // overtakes the Options save still waiting, not the Trainer one
    gate.open.release(3);
    QVERIFY(TempSettings::waitForSaves());
    QSettings store(m_settings->fileName(), QSettings::IniFormat);
    QCOMPARE(store.value(QStringLiteral("Options/Channel")).toString(), QStringLiteral("4"));
    QCOMPARE(store.value(QStringLiteral("Trainer/Start")).toString(), QStringLiteral("96"));
}

void TestSettings::beatsOnDuringSave()
{
    // 2 MB of another program's keys around the values (the benchmark takes 50 MB; the gate
    // below, not the size, is what holds the save while the beats are checked).
    {
        QByteArray group = "[Other]\n", text;
        for (int i = 0; group.size() < 1 << 20; ++i)
            group += "key" + QByteArray::number(i) + "=" + QByteArray(40, 'v') + '\n';
        for (int i = 0; i < 2; ++i)
            text += group.replace(1, 5, QByteArray::number(10000 + i));
        writeFile(text + fileWithOthers({3, 70, 100, 65, 40}));
    }
    const qint64 oldSize = QFileInfo(m_settings->fileName()).size();
    Gate gate;
    m_settings->onSaveStep([&gate](pulsewerk::ReplaceStep step) {
        if (step == pulsewerk::ReplaceStep::Read) {
            gate.open.tryAcquire(1, 30000); // the save waits here until the beats have been checked
        } else if (step == pulsewerk::ReplaceStep::Replaced) {
            gate.replaced = 1;
        }
    });
    BeatHarness h;
    frmMain &w = h.window();
    h.clock.at(300, [&] { okWithChannelUp(w); });
    bool savedDuringBeats = true;
    h.clock.at(5300, [&] {
        savedDuringBeats = gate.replaced;
        gate.open.release();
    });
    h.clock.at(5400, [&] { w.close(); });
    StderrCapture capture;
    QCOMPARE(h.runLoop(), 1); // the end waits for the save
    const QStringList said = capture.lines();
    QVERIFY2(said.isEmpty(), qPrintable(said.join(u'\n')));
    QVERIFY(!savedDuringBeats);
    QCOMPARE(int(gate.replaced), 1);
    std::vector<std::uint32_t> beats;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0)
            beats.push_back(m.timeMs);
    }
    std::vector<std::uint32_t> grid;
    for (std::uint32_t t = 501; t < 5400; t += 500)
        grid.push_back(t);
    QCOMPARE(beats, grid);
    QVariantMap keys = readBack(m_settings->fileName());
    QCOMPARE(takeSound(keys), soundText({4, 70, 100, 65, 40}));
    QCOMPARE(keys.value(QStringLiteral("Window/title")).toString(), QStringLiteral("a; b, c"));
    QVERIFY(keys.contains(QStringLiteral("10001/key1000")));
    QVERIFY(QFileInfo(m_settings->fileName()).size() - oldSize < 100);
}

// The process's peak resident memory since it was last reset, or its resident memory now.
long memoryKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void TestSettings::largeFileInPieces()
{
    const qint64 bytes = 48 << 20;
    {
        QByteArray group;
        for (int i = 0; group.size() < 1 << 20; ++i)
            group += "key" + QByteArray::number(i) + "=" + QByteArray(40, 'v') + '\n';
        writeFile(fileWithOthers({3, 70, 100, 65, 40}));
        QFile file(m_settings->fileName());
        QVERIFY(file.open(QIODevice::Append));
        for (qint64 written = 0; written < bytes; written += group.size() + 16)
            file.write("[Group" + QByteArray::number(written) + "]\n" + group);
    }
    QFile clearPeak(QStringLiteral("/proc/self/clear_refs"));
    QVERIFY(clearPeak.open(QIODevice::WriteOnly) && clearPeak.write("5") == 1);
    clearPeak.close();
    const long before = memoryKb("VmRSS:");
    const pulsewerk::StoredGroup stored(pulsewerk::settings::channel.group); // as the load reads it
    QCOMPARE(stored.value(pulsewerk::settings::strongNote), 70);
    QVERIFY(
        pulsewerk::storeIniValues(m_settings->fileName(), QStringLiteral("Options"), iniValues({4, 70, 100, 65, 40})));
    const long grownKb = memoryKb("VmHWM:") - before;
    QVERIFY2(before > 0 && grownKb < bytes / 1024 / 4, qPrintable(QStringLiteral("%1 kB more").arg(grownKb)));
    QCOMPARE(pulsewerk::readSetting(pulsewerk::settings::channel), 4);
    QVERIFY(QFileInfo(m_settings->fileName()).size() > bytes);
}

void TestSettings::textValues_data()
{
    QTest::addColumn<QString>("text");
    for (const char *text : {"plain", "", " blanks at both ends ", "a, b; c = d", "\"quoted\" and \\ back", "@at",
                             "@@two", "@Invalid()", "tab\tline\nfeed\r",
                             "\x01"
                             "1f\x1f"
                             "A\x7f",
                             "ünïcødé 日本 🎵", "0120"})
        QTest::addRow("%s", QString::fromUtf8(text).toUtf8().toPercentEncoding().constData())
            << QString::fromUtf8(text);
}

void TestSettings::textValues()
{
    QFETCH(QString, text);
    // A group of a kind that repeats, with a name that needs escaping.
    const pulsewerk::TextSetting row{QStringLiteral("Song 1"), QStringLiteral("Name"), QStringLiteral("none"), 64};
    writeFile("[Other]\nName=x\n");
    QVERIFY(pulsewerk::storeIniValues(m_settings->fileName(), row.group, {row.with(text)}));
    QCOMPARE(readBack(m_settings->fileName()).value(QStringLiteral("Song 1/Name")).toString(), text);
    QCOMPARE(pulsewerk::readSetting(row), text);
    QCOMPARE(pulsewerk::readSetting(row.in(QStringLiteral("Song 2"))), QStringLiteral("none"));
    QCOMPARE(pulsewerk::readSetting(pulsewerk::TextSetting{row.group, row.key, row.defaultValue, text.size() - 1}),
             row.defaultValue); // too long for the row
}

void TestSettings::signalDuringSave()
{
    writeFile(fileWithOthers({3, 70, 100, 65, 40}));
    Gate gate;
    m_settings->onSaveStep([&gate](pulsewerk::ReplaceStep step) {
        if (step == pulsewerk::ReplaceStep::Read)
            gate.open.tryAcquire(1, 30000);
    });
    StderrCapture capture;
    {
        BeatHarness h;
        frmMain &w = h.window();
        mdlMain::closeOnSignals();
        h.clock.at(300, [&] { okWithChannelUp(w); });
        h.clock.at(400, [] { std::raise(SIGTERM); });
        QCOMPARE(h.runLoop(), 1); // it gave the save up, or this would wait for the gate
        gate.open.release();
    }
    QVERIFY(TempSettings::waitForSaves());
    const QStringList said = capture.lines();
    QCOMPARE(said, QStringList{"Pulsewerk: the options could not be saved; they hold for this run only."});
    QVariantMap keys = readBack(m_settings->fileName());
    QCOMPARE(takeSound(keys), soundText({3, 70, 100, 65, 40}));
}

void TestSettings::settingsFolder_data()
{
    QTest::addColumn<QByteArray>("xdgConfigHome");
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("expected"); // "HOME" stands for the home folder given
    const QByteArray home = QFile::encodeName(QDir::tempPath());
    QTest::newRow("absolute XDG_CONFIG_HOME") << QByteArray("/x/config") << home << "/x/config";
    QTest::newRow("home only") << QByteArray() << home << "HOME/.config";
    QTest::newRow("relative XDG_CONFIG_HOME ignored") << QByteArray("rel/config") << home << "HOME/.config";
    QTest::newRow("relative XDG_CONFIG_HOME, no home") << QByteArray("rel/config") << QByteArray() << "";
    QTest::newRow("nothing") << QByteArray() << QByteArray() << "";
    QTest::newRow("home is the root") << QByteArray() << QByteArray("/") << "";
    QTest::newRow("home is the root, again") << QByteArray() << QByteArray("//.") << "";
    QTest::newRow("relative home") << QByteArray() << QByteArray("home/me") << "";
    QTest::newRow("home that does not exist") << QByteArray() << QByteArray("/nonexistent/me") << "";
}

void TestSettings::settingsFolder()
{
    QFETCH(QByteArray, xdgConfigHome);
    QFETCH(QByteArray, home);
    QFETCH(QString, expected);
    expected.replace(QStringLiteral("HOME"), QFile::decodeName(home));
    QCOMPARE(pulsewerk::userSettingsFolder(xdgConfigHome, home), expected);
}

void TestSettings::noSettingsFolder()
{
    const QByteArray home = qgetenv("HOME"), xdg = qgetenv("XDG_CONFIG_HOME");
    qunsetenv("HOME");
    qputenv("XDG_CONFIG_HOME", "relative");
    StderrCapture capture;
    pulsewerk::useUserSettingsFolder();
    qputenv("HOME", home);
    if (xdg.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", xdg);
    QVERIFY(pulsewerk::settingsFileName(QStringLiteral("Pulsewerk")).isEmpty());
    {
        BeatHarness h;
        frmMain &w = h.window();
        QCOMPARE(loaded(w), (Sound{10, 61, 80, 60, 50}));
        okWithChannelUp(w);
        okWithChannelUp(w);
        QCOMPARE(Access::channel(w), std::int16_t(12)); // taken over for the run all the same
        h.clock.at(1000, [&] { w.close(); });
        QCOMPARE(h.runLoop(), 1);
        QVERIFY(!h.messages().empty()); // it beat
    }
    QVERIFY(TempSettings::waitForSaves());
    const QStringList said = capture.lines();
    QCOMPARE(said.size(), 1);
    QVERIFY2(said[0].contains(QStringLiteral("settings cannot be kept")), qPrintable(said[0]));
    QVERIFY(!QFile::exists(QStringLiteral("/relative")));
    QVERIFY(!QFile::exists(QStringLiteral("/.config/Pulsewerk/Pulsewerk.conf")));
    QVERIFY(QDir(m_settings->folder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"

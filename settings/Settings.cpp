// SPDX-License-Identifier: GPL-3.0-or-later
// The settings store: read through QSettings, written by whole-file replacement on a
// thread of its own so that a slow disk, a large file or a held lock never holds up the
// beat.
#include "settings/Settings.h"

#include "platform/Say.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace pulsewerk {
namespace {

const QString kOrganisation = QStringLiteral("Pulsewerk");
const QString kApplication = QStringLiteral("Pulsewerk");
// The save thread's niceness (0 is the beat's).
constexpr int kSaveNiceness = 10;

// The program's own store, in the folder the environment gives.
SettingsStore &userStore()
{
    static SettingsStore store;
    return store;
}

// The store read and written: the program's own unless a test has put in another.
SettingsStore *g_store = nullptr;

SettingsStore &currentStore() { return g_store ? *g_store : userStore(); }

// One save, with what to call when the file does not end up holding its values.
struct Save {
    quint64 id = 0;
    QString fileName;
    QString section;
    IniValues values;
    std::function<void()> onFailure;
    ReplaceHook onStep;

    bool sameTarget(const Save &other) const { return fileName == other.fileName && section == other.section; }
};

// Runs the saves one after another on a worker thread, which lives while there is work.
// A fresh thread for each run takes on the caller's credentials of that moment.
class Saver {
public:
    void add(Save save)
    {
        std::unique_lock lock(m_mutex);
        save.id = ++m_lastId;
        // An older save of the same values that has not started is overtaken; saves of
        // other sections or files wait their turn.
        m_pending.erase(std::remove_if(m_pending.begin(), m_pending.end(),
                                       [&save](const Save &older) { return older.sameTarget(save); }),
                        m_pending.end());
        m_pending.push_back(std::move(save));
        if (m_working)
            return;
        m_working = true;
        std::thread finished = std::move(m_thread);
        lock.unlock();
        if (finished.joinable())
            finished.join(); // it has left its loop already
        lock.lock();
        try {
            m_thread = std::thread([this] {
                // Below the beat: on a busy machine the save waits for the CPU, not the beat.
                ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kSaveNiceness);
                work();
            });
        } catch (const std::system_error &) {
            lock.unlock();
            work(); // no thread to be had: the save runs here, late but whole
        }
    }

    bool wait(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(m_mutex);
        const bool idle = m_done.wait_until(lock, deadline, [this] { return !m_working; });
        std::thread finished = idle ? std::move(m_thread) : std::thread();
        lock.unlock();
        if (finished.joinable())
            finished.join();
        report();
        return idle;
    }

    void giveUp()
    {
        std::unique_lock lock(m_mutex);
        m_givenUpTo = m_lastId;
        // The newest save of each section stands for it: its values are the ones not kept.
        if (m_current && !pendingFor(*m_current))
            m_failures.push_back(std::move(m_current->onFailure));
        for (Save &pending : m_pending)
            m_failures.push_back(std::move(pending.onFailure));
        m_pending.clear();
        m_current.reset();
        lock.unlock();
        report();
    }

    // Runs the failures' calls that have come in, on the calling thread.
    void report()
    {
        std::vector<std::function<void()>> failures;
        {
            std::lock_guard lock(m_mutex);
            failures.swap(m_failures);
        }
        for (const auto &failure : failures) {
            if (failure)
                failure();
        }
    }

private:
    void work()
    {
        std::unique_lock lock(m_mutex);
        while (!m_pending.empty()) {
            m_current = std::move(m_pending.front());
            m_pending.pop_front();
            const Save save = *m_current;
            lock.unlock();
            // The rename happens under the mutex, so a save given up never lands later.
            // Once the file holds the values, there is nothing left to report, given up or not.
            const bool stored = storeIniValues(
                save.fileName, save.section, save.values,
                [&](const auto &replace) {
                    std::lock_guard held(m_mutex);
                    if (save.id <= m_givenUpTo || !replace())
                        return false;
                    m_current.reset();
                    return true;
                },
                save.onStep);
            lock.lock();
            // A failure counts while no newer save of its values is coming and nobody has
            // reported it.
            if (!stored && m_current && !pendingFor(*m_current)) {
                m_failures.push_back(std::move(m_current->onFailure));
                if (QCoreApplication *app = QCoreApplication::instance())
                    QMetaObject::invokeMethod(
                        app, [this] { report(); }, Qt::QueuedConnection);
            }
            m_current.reset();
        }
        m_working = false;
        m_done.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_done;
    std::thread m_thread;
    bool m_working = false;
    bool pendingFor(const Save &save) const
    {
        return std::any_of(m_pending.begin(), m_pending.end(),
                           [&save](const Save &pending) { return pending.sameTarget(save); });
    }

    std::deque<Save> m_pending;
    std::optional<Save> m_current;
    quint64 m_lastId = 0;
    quint64 m_givenUpTo = 0;
    std::vector<std::function<void()>> m_failures;
};

Saver &saver()
{
    static auto *const instance = new Saver; // never destroyed: a given-up save may still run at exit
    return *instance;
}

} // namespace

SettingsStore::SettingsStore(const QString &folder) : m_folder(folder) {}

QString SettingsStore::fileName(const QString &application) const
{
    if (!m_folder) {
        const QSettings store(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, application);
        return store.fileName();
    }
    if (m_folder->isEmpty())
        return {};
    return *m_folder + u'/' + kOrganisation + u'/' + application + QStringLiteral(".conf");
}

UseSettingsStore::UseSettingsStore(SettingsStore &store) : m_previous(g_store) { g_store = &store; }

UseSettingsStore::~UseSettingsStore() { g_store = m_previous; }

QString settingsFileName(const QString &application) { return currentStore().fileName(application); }

QString ReadSetting(const QString &application, const QString &section, const QString &key, int defaultValue)
{
    const QString fileName = settingsFileName(application);
    const std::optional<QString> value =
        fileName.isEmpty() ? std::nullopt : readIniGroup(fileName, section).value(key, std::nullopt);
    return value.value_or(QString::number(defaultValue));
}

StoredGroup::StoredGroup(const QString &group)
{
    const QString fileName = settingsFileName(kApplication);
    if (!fileName.isEmpty())
        m_values = readIniGroup(fileName, group);
}

int StoredGroup::value(const IntSetting &row) const
{
    const QString text = m_values.value(row.key).value_or(QString());
    // Anchored at the very ends: "$" alone would let a trailing line feed through.
    static const QRegularExpression wholeNumber(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,5}")));
    if (!wholeNumber.match(text).hasMatch())
        return row.defaultValue;
    const int value = text.toInt();
    return value < row.low || value > row.high ? row.defaultValue : value;
}

QString StoredGroup::text(const TextSetting &row) const
{
    const std::optional<QString> text = m_values.value(row.key, std::nullopt);
    return text && text->size() <= row.longest ? *text : row.defaultValue;
}

int readSetting(const IntSetting &row) { return StoredGroup(row.group).value(row); }

QString readSetting(const TextSetting &row) { return StoredGroup(row.group).text(row); }

void WriteSettings(const QString &application, const QString &section, const IniValues &values,
                   std::function<void()> onFailure)
{
    const SettingsStore &store = currentStore();
    const QString fileName = store.fileName(application);
    if (fileName.isEmpty())
        return;
    saver().add({0, fileName, section, values, std::move(onFailure), store.onStep});
}

void writeSettings(const QString &group, const IniValues &values, std::function<void()> onFailure)
{
    WriteSettings(kApplication, group, values, std::move(onFailure));
}

std::function<void()> sayNotSaved(const QString &what)
{
    return [what] {
        say(QStringLiteral("the %1 could not be saved; they hold for this run only.")
                .arg(what)
                .toLocal8Bit()
                .constData());
    };
}

bool waitForSettingsSaves(std::chrono::steady_clock::time_point deadline) { return saver().wait(deadline); }

void endSettingsSaves(std::chrono::steady_clock::time_point deadline)
{
    if (!saver().wait(deadline))
        saver().giveUp();
}

QString userSettingsFolder(const QByteArray &xdgConfigHome, const QByteArray &home)
{
    // A relative XDG_CONFIG_HOME is ignored, as the rules say.
    if (xdgConfigHome.startsWith('/'))
        return QFile::decodeName(xdgConfigHome);
    const QString homeFolder = QFile::decodeName(home);
    if (!home.startsWith('/') || QDir::cleanPath(homeFolder) == QStringLiteral("/") || !QFileInfo(homeFolder).isDir())
        return {};
    return QDir::cleanPath(homeFolder) + QStringLiteral("/.config");
}

void useUserSettingsFolder()
{
    const QString folder = userSettingsFolder(qgetenv("XDG_CONFIG_HOME"), qgetenv("HOME"));
    userStore() = SettingsStore(folder);
    g_store = nullptr;
    if (folder.isEmpty()) {
        say("no home folder and no absolute XDG_CONFIG_HOME, so settings cannot be kept; the options hold for this "
            "run only.");
    }
}

} // namespace pulsewerk

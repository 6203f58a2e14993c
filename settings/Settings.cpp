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

// Where the settings live: unset means where QSettings puts them; empty means nowhere.
std::optional<QString> g_folder;

// One save, with what to call when the file does not end up holding its values.
struct Save {
    quint64 id = 0;
    QString fileName;
    QString section;
    IniValues values;
    std::function<void()> onFailure;

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
            m_thread = std::thread(&Saver::work, this);
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
            const bool stored = storeIniValues(save.fileName, save.section, save.values, [&](const auto &replace) {
                std::lock_guard held(m_mutex);
                if (save.id <= m_givenUpTo || !replace())
                    return false;
                m_current.reset();
                return true;
            });
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

QString settingsFileName(const QString &application)
{
    if (!g_folder) {
        const QSettings store(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, application);
        return store.fileName();
    }
    if (g_folder->isEmpty())
        return {};
    return *g_folder + u'/' + kOrganisation + u'/' + application + QStringLiteral(".conf");
}

QString ReadSetting(const QString &application, const QString &section, const QString &key, int defaultValue)
{
    const QString fileName = settingsFileName(application);
    if (fileName.isEmpty())
        return QString::number(defaultValue);
    QSettings store(fileName, QSettings::IniFormat);
    store.beginGroup(section);
    const QVariant value = store.value(key);
    if (!value.isValid())
        return QString::number(defaultValue);
    return value.toString();
}

int readWholeNumber(const QString &application, const QString &section, const QString &key, int defaultValue, int low,
                    int high)
{
    const QString text = ReadSetting(application, section, key, defaultValue);
    // Anchored at the very ends: "$" alone would let a trailing line feed through.
    static const QRegularExpression wholeNumber(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,5}")));
    if (!wholeNumber.match(text).hasMatch())
        return defaultValue;
    const int value = text.toInt();
    return value < low || value > high ? defaultValue : value;
}

void WriteSettings(const QString &application, const QString &section, const IniValues &values,
                   std::function<void()> onFailure)
{
    const QString fileName = settingsFileName(application);
    if (fileName.isEmpty())
        return;
    saver().add({0, fileName, section, values, std::move(onFailure)});
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
    setSettingsFolder(folder);
    if (folder.isEmpty()) {
        say("no home folder and no absolute XDG_CONFIG_HOME, so settings cannot be kept; the options hold for this "
            "run only.");
    }
}

void setSettingsFolder(const QString &folder) { g_folder = folder; }

void clearSettingsFolder() { g_folder.reset(); }

} // namespace pulsewerk

// SPDX-License-Identifier: GPL-3.0-or-later
// The JACK ports' connections in the settings: a row a port, the ports it goes to one a
// line.
#include "engine/JackConnections.h"

#include "settings/SettingsTable.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <array>
#include <utility>

namespace pulsewerk {
namespace {

const std::array<std::pair<QString, const TextSetting *>, 4> &rows()
{
    static const std::array<std::pair<QString, const TextSetting *>, 4> byPort{
        {{QStringLiteral("beat"), &settings::jackBeat},
         {QStringLiteral("clock"), &settings::jackClock},
         {QStringLiteral("out_left"), &settings::jackOutLeft},
         {QStringLiteral("out_right"), &settings::jackOutRight}}};
    return byPort;
}

// The main thread.
void save(const PortConnections &connections)
{
    IniValues values;
    for (const auto &[port, row] : rows())
        values << row->with(connections.value(port).join(QLatin1Char('\n')));
    writeSettings(settings::jackBeat.group, values, sayNotSaved(QStringLiteral("JACK connections")));
}

} // namespace

SoundConfig withKeptConnections(SoundConfig sound)
{
    if (!sound.jack || !sound.connectPorts)
        return sound;
    const StoredGroup stored(settings::jackBeat.group);
    for (const auto &[port, row] : rows()) {
        const QString peers = stored.text(*row);
        if (!peers.isEmpty())
            sound.keptConnections.insert(port, peers.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    }
    // From the back end's thread to the main thread's event loop.
    sound.connectionsChanged = [](const PortConnections &connections) {
        if (QCoreApplication *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [connections] { save(connections); }, Qt::QueuedConnection);
    };
    return sound;
}

} // namespace pulsewerk

// SPDX-License-Identifier: GPL-3.0-or-later
// Pulsewerk, a desktop metronome: the process entry point. The command line is read
// before any display is needed, so help, version and mistakes need none.
#include "engine/CommandLine.h"
#include "engine/mdlMain.h"
#include "platform/Display.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {

void setNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("Pulsewerk"));
    QCoreApplication::setOrganizationName(QStringLiteral("Pulsewerk"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PULSEWERK_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    pulsewerk::CommandLine commandLine;
    {
        QCoreApplication reader(argc, argv);
        setNames();
        commandLine = pulsewerk::parseCommandLine(QCoreApplication::arguments());
    }
    if (!commandLine.run) {
        std::fputs(commandLine.output.toLocal8Bit().constData(), stdout);
        std::fputs(commandLine.error.toLocal8Bit().constData(), stderr);
        return commandLine.exitStatus;
    }
    if (!pulsewerk::displayAvailable()) {
        pulsewerk::reportNoDisplay();
        return 1;
    }
    // The toolkit sees only the program's name: every argument has been read above.
    static int toolkitArgc = 1;
    std::unique_ptr<QApplication> app;
    {
        const pulsewerk::DisplayConnectionGuard guard;
        app = std::make_unique<QApplication>(toolkitArgc, argv);
    }
    setNames();
    QApplication::setDesktopFileName(QStringLiteral("io.github.pulsewerk.Pulsewerk"));
    const pulsewerk::StartOptions &options = commandLine.options;
    mdlMain::Main(options, mdlMain::programContext(options.sound));
    return 0; // not reached: the beat loop ends the process
}

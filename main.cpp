// SPDX-License-Identifier: GPL-3.0-or-later
// Pulsewerk, a desktop metronome: the process entry point. The command line is read
// before any display is needed, so help, version and mistakes need none.
#include "controls/CursorBlink.h"
#include "controls/ScreenFit.h"
#include "engine/CommandLine.h"
#include "engine/mdlMain.h"
#include "platform/Display.h"
#include "platform/Signals.h"
#include "sound/MidiOut.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSize>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The main window's client area at scale 1; it has a fixed size.
constexpr QSize kWindowSize(199, 338);

void setNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("Pulsewerk"));
    QCoreApplication::setOrganizationName(QStringLiteral("Pulsewerk"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PULSEWERK_VERSION));
}

// Writes the help or version text, or a mistake's line; a text that cannot be written
// whole (a full disk, a closed output) is an error of its own.
int endWithoutWindow(const pulsewerk::CommandLine &commandLine)
{
    std::fputs(commandLine.error.toLocal8Bit().constData(), stderr);
    if (commandLine.output.isEmpty())
        return commandLine.exitStatus;
    std::fputs(commandLine.output.toLocal8Bit().constData(), stdout);
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return commandLine.exitStatus;
    std::fprintf(stderr, "pulsewerk: could not write to standard output: %s\n", std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    pulsewerk::catchEndSignals();
    pulsewerk::CommandLine commandLine;
    {
        QCoreApplication reader(argc, argv);
        setNames();
        commandLine = pulsewerk::parseCommandLine(QCoreApplication::arguments());
    }
    if (!commandLine.run)
        return endWithoutWindow(commandLine);
    std::fputs(commandLine.error.toLocal8Bit().constData(), stderr);
    if (!pulsewerk::displayAvailable()) {
        pulsewerk::reportNoDisplay();
        return 1;
    }
    pulsewerk::skipSessionBusLaunch();
    pulsewerk::paintOverTheSocket();
    // The toolkit sees only the program's name: every argument has been read above.
    static int toolkitArgc = 1;
    std::unique_ptr<QApplication> app;
    {
        const pulsewerk::DisplayConnectionGuard guard;
        pulsewerk::fitScaleToScreen(kWindowSize, toolkitArgc, argv);
        app = std::make_unique<QApplication>(toolkitArgc, argv);
    }
    setNames();
    QApplication::setDesktopFileName(QStringLiteral("io.github.pulsewerk.Pulsewerk"));
    const pulsewerk::CursorBlinkRest blinkRest;
    const pulsewerk::StartOptions &options = commandLine.options;
    mdlMain::Main(options, mdlMain::programContext(options.sound));
    return 0; // not reached: the beat loop ends the process
}

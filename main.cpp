// Pulsewerk, a desktop metronome: the process entry point.
#include "engine/mdlMain.h"
#include "platform/Display.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (!platform::DisplayAvailable()) {
        std::fprintf(stderr, "Pulsewerk: no display to show its window on (DISPLAY is not set or does not answer); "
                             "run it on a desktop, or headless with: xvfb-run -a scripts/run\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pulsewerk"));
    QApplication::setOrganizationName(QStringLiteral("Pulsewerk"));
    QApplication::setDesktopFileName(QStringLiteral("pulsewerk"));
    mdlMain::Main();
    return 0; // not reached: the beat loop ends the process
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Shared dialog looks.
#include "controls/DialogPlacement.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace pulsewerk {

void showBanner(QWidget *banner)
{
    banner->setAutoFillBackground(true);
    banner->setBackgroundRole(QPalette::ToolTipBase);
    for (QLabel *label : banner->findChildren<QLabel *>()) {
        label->setAutoFillBackground(false);
        label->setForegroundRole(QPalette::ToolTipText);
    }
}

void centreOnScreen(QWidget *dialog)
{
    const QScreen *screen = dialog->screen() ? dialog->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = dialog->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    dialog->move(frame.topLeft());
}

} // namespace pulsewerk

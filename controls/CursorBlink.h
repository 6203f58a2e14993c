// SPDX-License-Identifier: GPL-3.0-or-later
// The text cursor stops blinking after a while without a key or a click and blinks again
// at the next one, as the desktop's own text fields do (GTK stops after 10 s). A blinking
// cursor repaints its box twice a second; while the beat stands that is all the work the
// window has.
#pragma once

#include <QObject>
#include <QTimer>

namespace pulsewerk {

class CursorBlinkRest : public QObject {
    Q_OBJECT

public:
    // Watches the whole application's input from now on.
    explicit CursorBlinkRest(int restAfterMs = 10000, QObject *parent = nullptr);
    ~CursorBlinkRest() override;
    Q_DISABLE_COPY_MOVE(CursorBlinkRest)

    // Stops the blinking now, leaving the cursor shown, as the timer does after the wait.
    void rest();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void wake();

    QTimer m_timer;
    int m_restingFlashTime = 0; // the blink's period kept while it rests; 0 while it blinks
};

} // namespace pulsewerk

// SPDX-License-Identifier: GPL-3.0-or-later
// The speed trainer: from a start tempo to an end tempo by a fixed step after every
// so many bars. No Qt here, so a session can be stepped through bar by bar.
#pragma once

namespace pulsewerk {

class SpeedTrainer {
public:
    struct Plan {
        int start = 80; // beats per minute, 40..208
        int end = 120;  // beats per minute, 40..208; either end can be the lower
        int step = 4;   // beats per minute, 1..50
        int bars = 4;   // bars between steps, 1..64
    };

    // Starts a session; the tempo is the start tempo, and the bar that begins at the
    // next downbeat is the first.
    void start(const Plan &plan);
    // Ends the session; the tempo stays where it is.
    void stop() { m_running = false; }
    bool isRunning() const { return m_running; }

    // The bar in progress is dropped: the next downbeat begins a bar, ending none.
    void restartBar() { m_inBar = false; }
    // A bar begins. When that completes a step's bars, the tempo moves one step toward
    // the end tempo (never past it) and the new tempo is returned; otherwise 0. The
    // session ends when the end tempo is reached.
    int downbeat();

private:
    Plan m_plan;
    int m_tempo = 0;
    int m_barsDone = 0;
    bool m_inBar = false;
    bool m_running = false;
};

} // namespace pulsewerk

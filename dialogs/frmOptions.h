// SPDX-License-Identifier: GPL-3.0-or-later
// The options dialog: MIDI channel, note numbers and velocities of the strong and
// weak beats, each stepped with the arrow keys and heard with Enter. OK stores them.
#pragma once

#include "controls/Dialog.h"
#include "ui_frmOptions.h"

#include <cstdint>

class frmOptions : public pulsewerk::Dialog, public Ui::frmOptions {
    Q_OBJECT

public:
    explicit frmOptions(QWidget *parent = nullptr);

    // The exchange with the caller: written before every showing, read after OK.
    bool m_blnOK = false;
    std::int16_t m_intChannel = 10;
    std::int16_t m_intWeak = 60;
    std::int16_t m_intStrong = 61;
    std::int16_t m_intWeakVel = 50;
    std::int16_t m_intStrongVel = 80;

protected:
    void Form_Load() override;

private:
    void txtChannel_KeyDown(int &KeyCode, int Shift);
    void txtChannel_KeyPress(int &KeyAscii);
    void txtChannel_Validate();
    void ValueKeyDown(pulsewerk::TextBox *box, std::int16_t &value, const std::int16_t &note,
                      const std::int16_t &velocity, int &keyCode, bool soundsOnArrows);
    void ValueKeyPress(int &keyAscii);
    void valueValidate(pulsewerk::TextBox *box);
    void audition(const std::int16_t &note, const std::int16_t &velocity);
    void cmdOK_Click();
    void cmdCancel_Click();
};

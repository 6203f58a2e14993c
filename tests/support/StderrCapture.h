// SPDX-License-Identifier: GPL-3.0-or-later
// Collects what the process writes to standard error while it lives (until finish()).
#pragma once

#include <QStringList>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

class StderrCapture {
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { stop(); }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // Everything written so far; standard error goes back where it went before.
    QByteArray finish()
    {
        stop();
        m_file.seek(0);
        return m_file.readAll();
    }
    QStringList lines() { return QString::fromLocal8Bit(finish()).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

private:
    void stop()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

// SPDX-License-Identifier: GPL-3.0-or-later
// The setlist dialog: the songs in order, to play, add from the current settings,
// rename, move, delete, and to import from and export to a plain text file.
#pragma once

#include "controls/Dialog.h"
#include "mainwindow/Setlist.h"
#include "ui_frmSetlist.h"

class frmSetlist : public pulsewerk::Dialog, public Ui::frmSetlist {
    Q_OBJECT

public:
    explicit frmSetlist(QWidget *parent = nullptr);

    // The exchange with the caller. Before: the songs, the current one (-1 for none) and
    // the current settings as a song without a name. After: the songs as edited, and
    // m_blnPlay true when the dialog closed with Play on song m_intSong.
    QList<pulsewerk::Song> m_songs;
    int m_intSong = -1;
    pulsewerk::Song m_current;
    bool m_blnPlay = false;

    // What the import and export buttons do once a file is chosen. The report line tells
    // what came of it; an import adds the file's songs after those listed.
    void importFile(const QString &fileName);
    void exportFile(const QString &fileName);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void Form_Load() override;

private:
    void listSongs(int current);
    void report(const QString &text);
    void cmdPlay_Click();
    void cmdAdd_Click();
    void cmdMove_Click(int by);
    void cmdDelete_Click();
    void lstSongs_ItemChanged(QListWidgetItem *item);
    bool nameTaken(const QString &name, int except) const;
};

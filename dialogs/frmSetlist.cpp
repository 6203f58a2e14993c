// SPDX-License-Identifier: GPL-3.0-or-later
// The setlist dialog.
#include "dialogs/frmSetlist.h"

#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace {

const QString kFileTypes = QStringLiteral("Setlists (*.txt);;All files (*)");

} // namespace

frmSetlist::frmSetlist(QWidget *parent) : pulsewerk::Dialog(parent)
{
    setupUi(this);
    startDialog(Qt::Dialog, Picture1, cmdPlay);

    connect(cmdPlay, &QPushButton::clicked, this, &frmSetlist::cmdPlay_Click);
    connect(lstSongs, &QListWidget::itemActivated, this, &frmSetlist::cmdPlay_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmSetlist::cmdAdd_Click);
    connect(cmdRename, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem *item = lstSongs->currentItem())
            lstSongs->editItem(item);
    });
    connect(cmdUp, &QPushButton::clicked, this, [this] { cmdMove_Click(-1); });
    connect(cmdDown, &QPushButton::clicked, this, [this] { cmdMove_Click(1); });
    connect(cmdDelete, &QPushButton::clicked, this, &frmSetlist::cmdDelete_Click);
    connect(cmdImport, &QPushButton::clicked, this, [this] {
        const QString name = QFileDialog::getOpenFileName(this, tr("Import Setlist"), {}, kFileTypes);
        if (!name.isEmpty())
            importFile(name);
    });
    connect(cmdExport, &QPushButton::clicked, this, [this] {
        const QString name = QFileDialog::getSaveFileName(this, tr("Export Setlist"), {}, kFileTypes);
        if (!name.isEmpty())
            exportFile(name);
    });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(lstSongs, &QListWidget::itemChanged, this, &frmSetlist::lstSongs_ItemChanged);
}

// Enter in a name being edited ends the editing only; it does not press Play.
void frmSetlist::keyPressEvent(QKeyEvent *event)
{
    const QList<QLineEdit *> editors = lstSongs->viewport()->findChildren<QLineEdit *>();
    const bool editing = std::any_of(editors.begin(), editors.end(), [](QLineEdit *e) { return e->isVisible(); });
    if (editing && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter))
        return;
    pulsewerk::Dialog::keyPressEvent(event);
}

void frmSetlist::Form_Load()
{
    m_blnPlay = false;
    report({});
    listSongs(m_intSong);
    lstSongs->setFocus(Qt::OtherFocusReason);
}

// Fills the list from m_songs, `current` chosen; each name can be edited in place.
void frmSetlist::listSongs(int current)
{
    const QSignalBlocker quiet(lstSongs);
    lstSongs->clear();
    for (const pulsewerk::Song &song : m_songs) {
        auto *item = new QListWidgetItem(song.name, lstSongs);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        const QString values = tr("%1 beats per minute, meter %2, x%3, count-in %n bar(s)", nullptr, song.countIn)
                                   .arg(song.tempo)
                                   .arg(song.meter)
                                   .arg(song.multiplier);
        item->setToolTip(values);
        item->setData(Qt::AccessibleDescriptionRole, values);
    }
    if (current >= 0 && current < lstSongs->count())
        lstSongs->setCurrentRow(current);
    else if (lstSongs->count() > 0)
        lstSongs->setCurrentRow(0);
    for (QPushButton *button : {cmdPlay, cmdRename, cmdUp, cmdDown, cmdDelete, cmdExport})
        button->setEnabled(!m_songs.isEmpty());
}

void frmSetlist::report(const QString &text)
{
    lblReport->setText(text);
    lblReport->setAccessibleDescription(text);
}

bool frmSetlist::nameTaken(const QString &name, int except) const
{
    for (int i = 0; i < m_songs.size(); ++i) {
        if (i != except && m_songs.at(i).name == name)
            return true;
    }
    return false;
}

void frmSetlist::cmdPlay_Click()
{
    if (lstSongs->currentRow() < 0)
        return;
    m_intSong = lstSongs->currentRow();
    m_blnPlay = true;
    accept();
}

// The current settings become a song at the end of the list, named by its place.
void frmSetlist::cmdAdd_Click()
{
    pulsewerk::Song song = m_current;
    int number = static_cast<int>(m_songs.size()) + 1;
    while (nameTaken(QStringLiteral("Song %1").arg(number), -1))
        ++number;
    song.name = QStringLiteral("Song %1").arg(number);
    m_songs << song;
    listSongs(static_cast<int>(m_songs.size()) - 1);
    report(tr("Added \"%1\"; Rename gives it a name of your own.").arg(song.name));
}

void frmSetlist::cmdMove_Click(int by)
{
    const int row = lstSongs->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= m_songs.size())
        return;
    m_songs.move(row, to);
    if (m_intSong == row || m_intSong == to)
        m_intSong = m_intSong == row ? to : row;
    listSongs(to);
}

void frmSetlist::cmdDelete_Click()
{
    const int row = lstSongs->currentRow();
    if (row < 0)
        return;
    report(tr("Deleted \"%1\".").arg(m_songs.at(row).name));
    m_songs.removeAt(row);
    if (m_intSong >= row)
        m_intSong = m_intSong == row ? -1 : m_intSong - 1;
    listSongs(std::min(row, static_cast<int>(m_songs.size()) - 1));
}

// A name edited in the list is taken when it can serve; otherwise the old one comes back.
void frmSetlist::lstSongs_ItemChanged(QListWidgetItem *item)
{
    const int row = lstSongs->row(item);
    if (row < 0 || row >= m_songs.size())
        return;
    const QString name = item->text().trimmed();
    QString problem = pulsewerk::nameProblem(name);
    if (problem.isEmpty() && nameTaken(name, row))
        problem = QStringLiteral("a song named \"%1\" is listed already").arg(name);
    if (problem.isEmpty())
        m_songs[row].name = name;
    const QSignalBlocker quiet(lstSongs);
    item->setText(m_songs.at(row).name);
    report(problem.isEmpty() ? QString() : tr("Not renamed: %1.").arg(problem));
}

void frmSetlist::importFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        report(tr("Cannot read %1: %2.").arg(fileName, file.errorString()));
        return;
    }
    const pulsewerk::SetlistReading reading = pulsewerk::readSetlist(QString::fromUtf8(file.readAll()));
    int added = 0;
    QStringList problems = reading.problems;
    for (const pulsewerk::Song &song : reading.songs) {
        if (nameTaken(song.name, -1)) {
            problems << QStringLiteral("\"%1\" is listed already").arg(song.name);
            continue;
        }
        m_songs << song;
        ++added;
    }
    listSongs(lstSongs->currentRow());
    // The first few lines skipped are named here; all of them in the tool tip.
    constexpr int kNamed = 3;
    QString text = tr("Imported %n song(s).", nullptr, added);
    if (!problems.isEmpty())
        text += tr(" Skipped %1").arg(problems.mid(0, kNamed).join(QStringLiteral("; ")));
    if (problems.size() > kNamed)
        text += tr("; and %n more.", nullptr, static_cast<int>(problems.size() - kNamed));
    report(text);
    lblReport->setToolTip(problems.join(u'\n'));
}

void frmSetlist::exportFile(const QString &fileName)
{
    QFile file(fileName);
    const QByteArray text = pulsewerk::writeSetlist(m_songs).toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) || file.write(text) != text.size() ||
        !file.flush()) {
        report(tr("Cannot write %1: %2.").arg(fileName, file.errorString()));
        return;
    }
    report(tr("Exported %n song(s).", nullptr, static_cast<int>(m_songs.size())));
}

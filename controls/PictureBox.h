// SPDX-License-Identifier: GPL-3.0-or-later
// A picture control used as a button or a lamp: it shows a named bitmap unscaled at
// the bitmap's own size, holds a tag string, and raises press, release, click and
// double-click the way a classic picture control does.
#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

namespace pulsewerk {

class PictureBox : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString Picture READ Picture WRITE setPicture)
    Q_PROPERTY(QString Tag READ Tag WRITE setTag)

public:
    explicit PictureBox(QWidget *parent = nullptr);

    // The name of the bitmap shown, and showing another: the control takes its size.
    QString Picture() const { return m_picture; }
    void setPicture(const QString &name);
    // The same, painted at once rather than at the next turn of the event loop: a lamp
    // changes many times a second, and a posted repaint wakes the loop once more.
    void showPictureNow(const QString &name);

    QString Tag() const { return m_tag; }
    void setTag(const QString &tag) { m_tag = tag; }

    // A click by keyboard or assistive technology: the press, release and click that a
    // mouse click over the control raises, in that order.
    void click();
    // A picture that answers clicks is a push button to assistive technology.
    bool isClickable() const;
    // The keys of the shortcuts that belong to the control (its QShortcut children).
    QStringList shortcutKeys() const;
    // A two-state button to assistive technology, and its state.
    bool isCheckable() const { return m_checkable; }
    void setCheckable(bool checkable) { m_checkable = checkable; }
    bool isChecked() const { return m_checked; }
    void setChecked(bool checked);

signals:
    void MouseDown();
    void MouseUp();
    // Press and release over the control; the second press of a double click gives none.
    void Click();
    // The second press of a quick double click, in place of a MouseDown.
    void DblClick();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    // The bitmap at the control's top left, as the label would place it, without the
    // label's layout work at every beat.
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_picture;
    QString m_tag;
    bool m_pressed = false;
    bool m_secondPress = false;
    bool m_checkable = false;
    bool m_checked = false;
};

} // namespace pulsewerk

// SPDX-License-Identifier: GPL-3.0-or-later
// The picture control.
#include "controls/PictureBox.h"

#include "controls/AccessibleControls.h"
#include "controls/Pictures.h"

#include <QAccessible>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

namespace pulsewerk {

PictureBox::PictureBox(QWidget *parent) : QLabel(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    installAccessibleControls();
}

void PictureBox::setPicture(const QString &name)
{
    if (name == m_picture && pixmap().cacheKey() != 0)
        return; // already shown: skip the repaint that the loop would repeat each pass
    const QPixmap picture = pulsewerk::loadPicture(name);
    m_picture = name;
    setPixmap(picture);
    if (!picture.isNull())
        setFixedSize(picture.deviceIndependentSize().toSize());
    // A bitmap without transparency covers the whole control: nothing behind it needs
    // painting when it changes, which a lamp does at every beat.
    setAttribute(Qt::WA_OpaquePaintEvent, !picture.isNull() && !picture.hasAlphaChannel());
}

void PictureBox::showPictureNow(const QString &name)
{
    if (name == m_picture && pixmap().cacheKey() != 0)
        return; // already shown (a repeated release sets the same dark picture)
    if (!isVisible() || !updatesEnabled()) {
        setPicture(name);
        return;
    }
    setAttribute(Qt::WA_UpdatesDisabled);
    setPicture(name);
    setAttribute(Qt::WA_UpdatesDisabled, false);
    repaint();
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    const QPixmap shown = pixmap();
    if (shown.isNull() || !isEnabled()) {
        QLabel::paintEvent(event); // the style's own drawing: nothing, or the greyed picture
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, shown);
}

void PictureBox::mousePressEvent(QMouseEvent *event)
{
    m_pressed = true;
    m_secondPress = false;
    event->accept();
    emit MouseDown();
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    m_pressed = true;
    m_secondPress = true;
    event->accept();
    emit DblClick();
}

void PictureBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_pressed) {
        event->ignore();
        return;
    }
    const bool click = !m_secondPress && rect().contains(event->position().toPoint());
    m_pressed = false;
    m_secondPress = false;
    event->accept();
    emit MouseUp();
    if (click)
        emit Click();
}

void PictureBox::click()
{
    emit MouseDown();
    emit MouseUp();
    emit Click();
}

bool PictureBox::isClickable() const { return isSignalConnected(QMetaMethod::fromSignal(&PictureBox::Click)); }

QStringList PictureBox::shortcutKeys() const
{
    QStringList keys;
    for (const QShortcut *shortcut : findChildren<QShortcut *>(Qt::FindDirectChildrenOnly)) {
        for (const QKeySequence &sequence : shortcut->keys())
            keys << sequence.toString(QKeySequence::NativeText);
    }
    return keys;
}

void PictureBox::setChecked(bool checked)
{
    if (checked == m_checked)
        return;
    m_checked = checked;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

} // namespace pulsewerk

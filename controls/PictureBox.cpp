// The picture control.
#include "controls/PictureBox.h"

#include "platform/Pictures.h"

#include <QMouseEvent>

PictureBox::PictureBox(QWidget *parent) : QLabel(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void PictureBox::setPicture(const QString &name)
{
    if (name == m_picture && pixmap().cacheKey() != 0)
        return; // already shown: skip the repaint that the loop would repeat each pass
    const QPixmap picture = platform::LoadPicture(name);
    m_picture = name;
    setPixmap(picture);
    if (!picture.isNull())
        setFixedSize(picture.size());
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

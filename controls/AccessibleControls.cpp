// SPDX-License-Identifier: GPL-3.0-or-later
// The accessible interfaces of PictureBox, IndicatorPanel and a plain top-level window.
#include "controls/AccessibleControls.h"

#include "controls/IndicatorPanel.h"
#include "controls/PictureBox.h"

#include <QAccessibleWidget>

namespace pulsewerk {

namespace {

// QAccessibleWidget is an action interface already; the press action is added here.
class PictureBoxAccessible : public QAccessibleWidget {
public:
    explicit PictureBoxAccessible(PictureBox *box) : QAccessibleWidget(box, QAccessible::Graphic) {}

    // Asked afresh: the handlers that make a picture a button are connected after it is built.
    QAccessible::Role role() const override
    {
        return box()->isClickable() ? QAccessible::PushButton : QAccessible::Graphic;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = box()->isCheckable();
        state.checked = box()->isCheckable() && box()->isChecked();
        return state;
    }

    QStringList actionNames() const override
    {
        return box()->isClickable() ? QStringList{pressAction()} : QStringList{};
    }

    // The click comes from the event loop, as a mouse click would: the caller is not held
    // while the click opens a modal dialog.
    void doAction(const QString &actionName) override
    {
        if (actionName == pressAction() && box()->isClickable())
            QMetaObject::invokeMethod(box(), &PictureBox::click, Qt::QueuedConnection);
    }

    QStringList keyBindingsForAction(const QString &actionName) const override
    {
        return actionName == pressAction() ? box()->shortcutKeys() : QStringList{};
    }

private:
    PictureBox *box() const { return static_cast<PictureBox *>(widget()); }
};

class IndicatorPanelAccessible : public QAccessibleWidget {
public:
    explicit IndicatorPanelAccessible(QWidget *panel) : QAccessibleWidget(panel, QAccessible::Animation) {}

    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
};

QAccessibleInterface *controlsFactory(const QString &className, QObject *object)
{
    // A window made of a plain QWidget is a frame, as a QMainWindow is, not a filler.
    auto *widget = qobject_cast<QWidget *>(object);
    if (className == QLatin1String("QWidget") && widget && widget->windowType() == Qt::Window)
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("pulsewerk::PictureBox"))
        return new PictureBoxAccessible(static_cast<PictureBox *>(object));
    if (className == QLatin1String("pulsewerk::IndicatorPanel"))
        return new IndicatorPanelAccessible(static_cast<IndicatorPanel *>(object));
    return nullptr;
}

} // namespace

void installAccessibleControls()
{
    static const bool installed = [] {
        QAccessible::installFactory(controlsFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace pulsewerk

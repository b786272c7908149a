#include "ui/ScreenReader.h"

#include <QAbstractButton>
#include <QAccessible>

namespace lumacast {

Announcement::Announcement(QWidget *statusBar) : QWidget(statusBar)
{
    setGeometry(0, 0, 0, 0);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setVisible(false);
}

Announcer::Announcer(QWidget *statusBar) : QObject(statusBar)
{
    for (Announcement *&announcement : ring_)
        announcement = new Announcement(statusBar);
}

void Announcer::Say(const QString &text)
{
    if (text.isEmpty())
        return;
    Announcement *announcement = ring_[next_];
    next_ = (next_ + 1) % ring_.size();
    announcement->setAccessibleName(text);
    // Hidden again at once: the showing is what is spoken, and nothing is
    // painted in between.
    announcement->setVisible(true);
    announcement->setVisible(false);
}

void RenameButton(QAbstractButton &button, const QString &caption, const QString &name)
{
    // Qt 6.4's AT-SPI bridge sends a name change with the changed object where
    // the new name belongs; Orca 43 cannot speak that and drops the event, and
    // tells of the focus only when it moves to another object. So a focused
    // button gets a fresh accessible object before the rename (the change
    // events then come from an object the screen reader does not follow) and
    // is reported focused again: the screen reader presents it as newly
    // focused, new name and all. A button without the focus is read afresh
    // when the focus comes to it.
    const bool refocus = button.hasFocus();
    if (refocus) {
        if (QAccessibleInterface *old = QAccessible::queryAccessibleInterface(&button))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(old));
    }
    button.setText(caption);
    button.setAccessibleName(name);
    if (refocus) {
        QAccessibleEvent focus(&button, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

} // namespace lumacast

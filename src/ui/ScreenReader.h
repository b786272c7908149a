#pragma once

#include <QWidget>

#include <array>
#include <cstddef>

class QAbstractButton;

namespace lumacast {

// One text for a screen reader: a notification object inside the status bar.
// Orca speaks a notification when it shows, and one inside a status bar by its
// text alone. It has no size, so it never paints and never takes a click.
class Announcement : public QWidget {
    Q_OBJECT
public:
    explicit Announcement(QWidget *statusBar);
};

// Tells a screen reader a text that appears away from the keyboard focus,
// such as a new connection state or a change of the device's state, by
// showing an announcement for a moment.
class Announcer : public QObject {
    Q_OBJECT
public:
    explicit Announcer(QWidget *statusBar);

    void Say(const QString &text);

private:
    // Orca reads a notification's text when it comes to the event, which may
    // be after the next texts have been said (a connect says three at once),
    // so each text keeps its object until this many others have been said.
    std::array<Announcement *, 4> ring_{};
    std::size_t next_ = 0;
};

// Gives a button its new caption and accessible name so that a screen reader
// speaks the new name when the button has the keyboard focus.
void RenameButton(QAbstractButton &button, const QString &caption, const QString &name);

} // namespace lumacast

#pragma once

#include <QFont>
#include <QMessageBox>
#include <QString>
#include <QStringList>

namespace lumacast {

// The face of the boxes' texts and buttons. Their texts are Japanese, which
// the window's Latin face cannot draw; the first installed face of a list of
// Japanese faces, then any face that claims Japanese, then the default.
QFont MessageBoxFont();

// What a message box shows.
struct MessageBoxContent {
    const char *objectName = "";
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QString buttonCaption;
    // The information box beeps when its text is copied; the error boxes do not.
    bool beepOnCopy = false;
};

// A modal box with one button, centred on the screen, whose Ctrl+C puts
// its content on the clipboard. Returns when the user has answered it.
// Without a parent the box outlives whatever window was busy.
void ShowMessageBox(QWidget *parent, const MessageBoxContent &content);

// What Ctrl+C in a message box puts on the clipboard.
QString MessageBoxClipboardText(const QString &title, const QString &text, const QStringList &buttonCaptions);

} // namespace lumacast

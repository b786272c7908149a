#pragma once

#include <QApplication>

#include <functional>

namespace lumacast {

// The program's application object: its name comes from the program file
// (it gives the error box its title), and every error that escapes an event
// handler is shown in the error message box instead of ending the program.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// Runs `handler` the way the event loop runs a handler: an error it raises
// is shown in the error message box, and the caller goes on. True when the
// handler returned normally.
bool RunHandler(const std::function<void()> &handler);

} // namespace lumacast

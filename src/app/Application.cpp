#include "app/Application.h"

#include "app/ErrorBox.h"

#include <QFileInfo>

namespace lumacast {

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // The program file itself, not the name it was started by: a link to it
    // must not rename the program.
    QString file = applicationFilePath();
    if (file.isEmpty() && argc > 0 && argv[0] != nullptr)
        file = QString::fromLocal8Bit(argv[0]);
    setApplicationName(QFileInfo(file).fileName());
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    // Hand-off steps never get here with an error: the hand-off catches it
    // and gives it back to the worker that queued the step.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowErrorMessage(ErrorMessage(std::current_exception()));
        return false;
    }
}

bool RunHandler(const std::function<void()> &handler)
{
    try {
        handler();
        return true;
    } catch (...) {
        ShowErrorMessage(ErrorMessage(std::current_exception()));
        return false;
    }
}

} // namespace lumacast

#include "ui/Handler.h"

#include <QCoreApplication>
#include <QTimer>

#include <utility>

namespace lumacast {

void RaiseFromEventLoop(std::exception_ptr error)
{
    QTimer::singleShot(0, QCoreApplication::instance(),
                       [error = std::move(error)] { std::rethrow_exception(error); });
}

} // namespace lumacast

#include "support/Wait.h"

#include "platform/HandOff.h"

#include <QCoreApplication>

#include <thread>

namespace lumacast::test {

bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit, Serving serving)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (serving == Serving::All)
            HandOffQueue::DrainOwnedByThisThread();
        if (serving != Serving::Nothing && QCoreApplication::instance() != nullptr)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
}

} // namespace lumacast::test

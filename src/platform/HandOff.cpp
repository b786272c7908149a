#include "platform/HandOff.h"

#include "platform/WakeUp.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace lumacast {
namespace {

struct Step {
    std::function<void()> run;
    std::exception_ptr error;
    bool done = false;
};

struct Queue {
    std::mutex mutex;
    std::condition_variable stepDone; // workers wait here
    std::condition_variable queued; // WaitServing waits here
    std::deque<std::shared_ptr<Step>> steps;
    bool cutOff = false;
    unsigned generation = 0; // bumped by NotifyWaiters
    // Without a wake-up (the process is out of descriptors) a posted call
    // wakes the UI thread.
    WakeUp wake;
};

Queue &TheQueue()
{
    // Never destroyed: a self-releasing worker may still be notifying while
    // the process runs its exit handlers.
    static Queue *q = new Queue;
    return *q;
}

bool OnUiThread()
{
    auto *app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

// One turn of the UI thread's hand-off work. A flood of queued steps must
// not keep the event loop from input and painting: after the budget the
// turn ends and wakes itself again, behind whatever else is waiting.
constexpr auto TurnBudget = std::chrono::milliseconds(10);

void ServeOneTurn();

void WakeUiThread()
{
    WakeUp &wake = TheQueue().wake;
    if (!wake.Valid()) {
        if (auto *app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, ServeOneTurn, Qt::QueuedConnection);
        return;
    }
    wake.Raise();
}

void ServeOneTurn()
{
    if (handoff::DrainFor(TurnBudget))
        WakeUiThread();
}

} // namespace

void Synchronize(const std::function<void()> &step)
{
    if (OnUiThread()) {
        if (handoff::IsCutOff())
            throw HandOffCutOff();
        step();
        return;
    }
    auto item = std::make_shared<Step>();
    item->run = step;
    Queue &q = TheQueue();
    {
        std::lock_guard lock(q.mutex);
        if (q.cutOff)
            throw HandOffCutOff();
        q.steps.push_back(item);
    }
    q.queued.notify_all();
    WakeUiThread();

    std::unique_lock lock(q.mutex);
    q.stepDone.wait(lock, [&] { return item->done; });
    if (item->error)
        std::rethrow_exception(item->error);
}

void Post(std::function<void()> step)
{
    auto item = std::make_shared<Step>();
    item->run = std::move(step);
    Queue &q = TheQueue();
    {
        std::lock_guard lock(q.mutex);
        if (q.cutOff)
            return;
        q.steps.push_back(item);
    }
    q.queued.notify_all();
    WakeUiThread();
}

namespace handoff {

void Install()
{
    // The watcher is a child of the application object: once per object.
    static QPointer<QObject> watcher;
    if (watcher == nullptr || watcher->parent() != QCoreApplication::instance())
        watcher = TheQueue().wake.Watch(ServeOneTurn);
}

void Drain()
{
    DrainFor(std::chrono::milliseconds::max());
}

bool DrainFor(std::chrono::milliseconds budget)
{
    using Clock = std::chrono::steady_clock;
    const bool bounded = budget < std::chrono::hours(24);
    const auto deadline = bounded ? Clock::now() + budget : Clock::time_point::max();
    Queue &q = TheQueue();
    for (bool first = true;; first = false) {
        std::shared_ptr<Step> item;
        {
            std::lock_guard lock(q.mutex);
            if (q.steps.empty())
                return false;
            if (!first && Clock::now() >= deadline)
                return true;
            item = q.steps.front();
            q.steps.pop_front();
        }
        std::exception_ptr error;
        try {
            item->run();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(q.mutex);
            item->error = error;
            item->done = true;
        }
        q.stepDone.notify_all();
    }
}

void WaitServing(const std::function<bool()> &finished)
{
    Queue &q = TheQueue();
    for (;;) {
        Drain();
        if (finished())
            return;
        std::unique_lock lock(q.mutex);
        const unsigned seen = q.generation;
        // The timeout only guards against a condition that changed without a
        // notification; steps and NotifyWaiters wake the wait at once.
        q.queued.wait_for(lock, std::chrono::milliseconds(20),
                          [&] { return !q.steps.empty() || q.generation != seen; });
    }
}

void NotifyWaiters()
{
    Queue &q = TheQueue();
    {
        std::lock_guard lock(q.mutex);
        ++q.generation;
    }
    q.queued.notify_all();
}

void CutOff()
{
    Queue &q = TheQueue();
    {
        std::lock_guard lock(q.mutex);
        q.cutOff = true;
        for (auto &item : q.steps) {
            item->error = std::make_exception_ptr(HandOffCutOff());
            item->done = true;
        }
        q.steps.clear();
    }
    q.stepDone.notify_all();
}

void Reopen()
{
    Queue &q = TheQueue();
    std::lock_guard lock(q.mutex);
    q.cutOff = false;
}

bool IsCutOff()
{
    Queue &q = TheQueue();
    std::lock_guard lock(q.mutex);
    return q.cutOff;
}

} // namespace handoff
} // namespace lumacast

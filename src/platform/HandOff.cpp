#include "platform/HandOff.h"

#include "platform/WakeUp.h"

#include <QCoreApplication>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <vector>

namespace lumacast {
namespace {

struct Step {
    std::function<void()> run;
    std::exception_ptr error;
    bool done = false;
};

// One turn of the owner's hand-off work. A flood of queued steps must not
// keep the event loop from input and painting: after the budget the turn
// ends and wakes itself again, behind whatever else is waiting.
constexpr auto TurnBudget = std::chrono::milliseconds(10);

// The queues each thread owns, for DrainOwnedByThisThread; a queue may be
// released on a worker, so they are held weakly.
thread_local std::vector<std::weak_ptr<HandOffQueue>> ownedHere;

} // namespace

struct HandOffQueue::State {
    mutable std::mutex mutex;
    std::condition_variable stepDone; // workers wait here
    std::condition_variable queued; // WaitServing waits here
    std::deque<std::shared_ptr<Step>> steps;
    bool cutOff = false;
    unsigned generation = 0; // bumped by NotifyWaiters
    // Shared with the watcher, which may outlive a queue released on a worker.
    std::shared_ptr<WakeUp> wake = std::make_shared<WakeUp>();
    QPointer<QObject> watcher; // owner's thread only
};

std::shared_ptr<HandOffQueue> HandOffQueue::Make()
{
    std::shared_ptr<HandOffQueue> queue(new HandOffQueue);
    std::erase_if(ownedHere, [](const auto &weak) { return weak.expired(); });
    ownedHere.push_back(queue);
    return queue;
}

HandOffQueue::HandOffQueue() : state_(std::make_unique<State>()), owner_(std::this_thread::get_id()) { }

HandOffQueue::~HandOffQueue()
{
    if (OnOwnerThread())
        delete state_->watcher.data();
    // Released by the last worker elsewhere: the owner has long stopped
    // serving, and its watcher keeps only the wake-up until the application
    // object goes.
}

void HandOffQueue::Wake()
{
    if (state_->wake->Valid()) {
        state_->wake->Raise();
        return;
    }
    // Without a wake-up (the process is out of descriptors) a posted call
    // wakes the owner.
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app,
            [weak = weak_from_this()] {
                if (auto queue = weak.lock())
                    queue->ServeOneTurn();
            },
            Qt::QueuedConnection);
}

void HandOffQueue::ServeOneTurn()
{
    if (DrainFor(TurnBudget))
        Wake();
}

void HandOffQueue::Synchronize(const std::function<void()> &step)
{
    if (OnOwnerThread()) {
        if (IsCutOff())
            throw HandOffCutOff();
        step();
        return;
    }
    auto item = std::make_shared<Step>();
    item->run = step;
    State &q = *state_;
    {
        std::lock_guard lock(q.mutex);
        if (q.cutOff)
            throw HandOffCutOff();
        q.steps.push_back(item);
    }
    q.queued.notify_all();
    Wake();

    std::unique_lock lock(q.mutex);
    q.stepDone.wait(lock, [&] { return item->done; });
    if (item->error)
        std::rethrow_exception(item->error);
}

void HandOffQueue::Post(std::function<void()> step)
{
    auto item = std::make_shared<Step>();
    item->run = std::move(step);
    State &q = *state_;
    {
        std::lock_guard lock(q.mutex);
        if (q.cutOff)
            return;
        q.steps.push_back(item);
    }
    q.queued.notify_all();
    Wake();
}

void HandOffQueue::Watch()
{
    State &q = *state_;
    // The watcher is a child of the application object: once per object.
    if (q.watcher != nullptr && q.watcher->parent() == QCoreApplication::instance())
        return;
    std::weak_ptr<HandOffQueue> weak = weak_from_this();
    q.watcher = q.wake->Watch([weak, keep = q.wake] {
        if (auto queue = weak.lock())
            queue->ServeOneTurn();
    });
}

void HandOffQueue::Drain()
{
    DrainFor(std::chrono::milliseconds::max());
}

bool HandOffQueue::DrainFor(std::chrono::milliseconds budget)
{
    using Clock = std::chrono::steady_clock;
    const bool bounded = budget < std::chrono::hours(24);
    const auto deadline = bounded ? Clock::now() + budget : Clock::time_point::max();
    State &q = *state_;
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

void HandOffQueue::WaitServing(const std::function<bool()> &finished)
{
    State &q = *state_;
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

void HandOffQueue::NotifyWaiters()
{
    State &q = *state_;
    {
        std::lock_guard lock(q.mutex);
        ++q.generation;
    }
    q.queued.notify_all();
}

void HandOffQueue::CutOff()
{
    State &q = *state_;
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

void HandOffQueue::Reopen()
{
    std::lock_guard lock(state_->mutex);
    state_->cutOff = false;
}

bool HandOffQueue::IsCutOff() const
{
    std::lock_guard lock(state_->mutex);
    return state_->cutOff;
}

void HandOffQueue::WorkerEnded()
{
    liveWorkers_.fetch_sub(1);
    NotifyWaiters();
}

bool HandOffQueue::WaitForAllEnded(std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    const bool bounded = limit < std::chrono::hours(24);
    const auto deadline = bounded ? Clock::now() + limit : Clock::time_point::max();
    WaitServing([&] { return liveWorkers_.load() == 0 || Clock::now() >= deadline; });
    return liveWorkers_.load() == 0;
}

void HandOffQueue::DrainOwnedByThisThread()
{
    // A step may make or release a queue of this thread: walk a copy.
    const std::vector<std::weak_ptr<HandOffQueue>> owned = ownedHere;
    for (const auto &weak : owned)
        if (auto queue = weak.lock())
            queue->Drain();
}

} // namespace lumacast

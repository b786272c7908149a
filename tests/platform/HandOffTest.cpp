#include "platform/HandOff.h"
#include "platform/WorkerThread.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace lumacast;
using namespace std::chrono_literals;
using test::Serving;
using test::WaitUntil;

namespace {

// Each test's hand-offs are its own, as each window's are.
std::shared_ptr<HandOffQueue> Queue()
{
    auto queue = HandOffQueue::Make();
    queue->Watch();
    return queue;
}

class Worker : public WorkerThread {
public:
    Worker(std::shared_ptr<HandOffQueue> queue, std::function<void(Worker &)> body)
        : WorkerThread(std::move(queue)), body_(std::move(body))
    {
    }
    using WorkerThread::Post;
    using WorkerThread::Synchronize;
    std::exception_ptr error;

protected:
    void Execute() override
    {
        try {
            body_(*this);
        } catch (...) {
            error = std::current_exception();
        }
    }

private:
    std::function<void(Worker &)> body_;
};

TEST(HandOff, StepsRunOnTheUiThreadInQueuedOrderAndErrorsGoBack)
{
    std::vector<int> order;
    const auto ui = std::this_thread::get_id();
    bool allOnUi = true;
    Worker worker(Queue(), [&](Worker &w) {
        for (int i = 0; i < 5; ++i)
            w.Synchronize([&, i] {
                allOnUi = allOnUi && std::this_thread::get_id() == ui;
                order.push_back(i);
            });
        w.Synchronize([] { throw std::runtime_error("from the step"); });
    });
    worker.Start();
    worker.WaitForEnd();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(allOnUi);
    ASSERT_TRUE(worker.error);
    EXPECT_THROW(std::rethrow_exception(worker.error), std::runtime_error);
}

TEST(HandOff, TheEventLoopServesStepsThroughTheWakeUp)
{
    std::atomic<bool> ran{false};
    Worker worker(Queue(), [&](Worker &w) { w.Synchronize([&] { ran = true; }); });
    worker.Start();
    EXPECT_TRUE(WaitUntil([&] { return ran.load(); }, 5s, Serving::EventLoop));
    worker.WaitForEnd();
}

TEST(HandOff, TheEventLoopGetsATurnBetweenQueuedStepsThatTakeLong)
{
    // Ten slow steps queued at once, as a discovery flood queues its batches;
    // a timer due at once must not wait for all of them.
    constexpr int Steps = 10;
    std::atomic<int> ran{0};
    int ranWhenTimerFired = -1;
    const auto queue = Queue();
    for (int i = 0; i < Steps; ++i)
        std::thread([&, i] {
            queue->Post([&, i] {
                if (i == 0)
                    QTimer::singleShot(0, qApp, [&] { ranWhenTimerFired = ran; });
                std::this_thread::sleep_for(15ms); // the step's own work
                ++ran;
            });
        }).join();
    EXPECT_TRUE(WaitUntil([&] { return ran == Steps && ranWhenTimerFired >= 0; }, 5s, Serving::EventLoop));
    EXPECT_GE(ranWhenTimerFired, 0);
    EXPECT_LT(ranWhenTimerFired, Steps);
}

TEST(HandOff, CutOffFailsQueuedAndNewStepsWithoutRunningThemAndSparesOtherOwners)
{
    const auto queue = Queue();
    const auto other = Queue();
    std::atomic<int> ran{0};
    std::atomic<bool> queued{false};
    Worker worker(queue, [&](Worker &w) {
        queued = true;
        w.Synchronize([&] { ++ran; }); // queued before the cut-off, never served
    });
    worker.Start();
    ASSERT_TRUE(WaitUntil([&] { return queued.load(); }, 5s, Serving::Nothing));
    // Nothing shows a queued step without running it: time lets it be queued.
    std::this_thread::sleep_for(50ms);
    queue->CutOff();
    worker.WaitForEnd();
    EXPECT_EQ(ran, 0);
    ASSERT_TRUE(worker.error);
    EXPECT_THROW(std::rethrow_exception(worker.error), HandOffCutOff);

    Worker late(queue, [&](Worker &w) { w.Synchronize([&] { ++ran; }); });
    late.Start();
    late.WaitForEnd();
    EXPECT_EQ(ran, 0);

    // Another owner's workers go on being served.
    Worker elsewhere(other, [&](Worker &w) { w.Synchronize([&] { ++ran; }); });
    elsewhere.Start();
    elsewhere.WaitForEnd();
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(elsewhere.error);
}

TEST(HandOff, PostedStepsKeepTheOrderWithWaitedOnesAndGoAfterTheCutOff)
{
    const auto queue = Queue();
    std::vector<int> order;
    Worker worker(queue, [&](Worker &w) {
        w.Post([&] { order.push_back(0); });
        w.Post([&] { throw std::runtime_error("dropped, not raised"); });
        w.Synchronize([&] { order.push_back(1); });
        w.Post([&] { order.push_back(2); });
    });
    worker.Start();
    worker.WaitForEnd();
    queue->Drain();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(worker.error);

    queue->CutOff();
    Worker late(queue, [&](Worker &w) { w.Post([&] { order.push_back(3); }); });
    late.Start();
    late.WaitForEnd();
    queue->Drain();
    EXPECT_EQ(order.size(), 3u);
}

TEST(WorkerThread, EndNotificationRunsOnTheUiThreadThenTheObjectFreesItself)
{
    struct Counted : WorkerThread {
        std::atomic<int> *destroyed;
        Counted(std::shared_ptr<HandOffQueue> q, std::atomic<int> *d)
            : WorkerThread(std::move(q)), destroyed(d)
        {
        }
        ~Counted() override { ++*destroyed; }
        void Execute() override { }
    };
    std::atomic<int> destroyed{0};
    bool notified = false;
    const auto queue = Queue();
    auto *thread = new Counted(queue, &destroyed);
    const auto ui = std::this_thread::get_id();
    thread->SetEndNotification([&](WorkerThread *sender) {
        EXPECT_EQ(sender, thread);
        EXPECT_EQ(std::this_thread::get_id(), ui);
        EXPECT_EQ(destroyed, 0);
        notified = true;
    });
    thread->SetReleaseOnEnd(true);
    thread->Start();
    queue->WaitForAllEnded();
    EXPECT_TRUE(notified);
    EXPECT_EQ(destroyed, 1);
}

TEST(WorkerThread, TheWaitForTheEndIsBoundedAndTheStopRequestWakesTheWorker)
{
    struct Pausing : WorkerThread {
        using WorkerThread::WorkerThread;
        void Execute() override { StopSignal().WaitFor(60000); }
    };
    const auto queue = Queue();
    auto *thread = new Pausing(queue);
    // As the window does: the thread frees itself only after the UI thread
    // has run its end notification, so the stop request cannot meet a freed
    // object.
    thread->SetEndNotification([](WorkerThread *) {});
    thread->SetReleaseOnEnd(true);
    thread->Start();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue->WaitForAllEnded(std::chrono::milliseconds(200)));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(200));
    thread->RequestStop();
    EXPECT_TRUE(queue->WaitForAllEnded(std::chrono::milliseconds(5000)));
}

} // namespace

#include "platform/HandOff.h"
#include "platform/WorkerThread.h"
#include "support/HandOffGuard.h"
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

class Worker : public WorkerThread {
public:
    explicit Worker(std::function<void(Worker &)> body) : body_(std::move(body)) { }
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
    Worker worker([&](Worker &) {
        for (int i = 0; i < 5; ++i)
            Synchronize([&, i] {
                allOnUi = allOnUi && std::this_thread::get_id() == ui;
                order.push_back(i);
            });
        Synchronize([] { throw std::runtime_error("from the step"); });
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
    Worker worker([&](Worker &) { Synchronize([&] { ran = true; }); });
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
    for (int i = 0; i < Steps; ++i)
        std::thread([&, i] {
            Post([&, i] {
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

TEST(HandOff, CutOffFailsQueuedAndNewStepsWithoutRunningThem)
{
    const test::HandOffGuard reopened;
    std::atomic<int> ran{0};
    std::atomic<bool> queued{false};
    Worker worker([&](Worker &) {
        queued = true;
        Synchronize([&] { ++ran; }); // queued before the cut-off, never served
    });
    worker.Start();
    ASSERT_TRUE(WaitUntil([&] { return queued.load(); }, 5s, Serving::Nothing));
    // Nothing shows a queued step without running it: time lets it be queued.
    std::this_thread::sleep_for(50ms);
    handoff::CutOff();
    worker.WaitForEnd();
    EXPECT_EQ(ran, 0);
    ASSERT_TRUE(worker.error);
    EXPECT_THROW(std::rethrow_exception(worker.error), HandOffCutOff);

    Worker late([&](Worker &) { Synchronize([&] { ++ran; }); });
    late.Start();
    late.WaitForEnd();
    EXPECT_EQ(ran, 0);
}

TEST(HandOff, PostedStepsKeepTheOrderWithWaitedOnesAndGoAfterTheCutOff)
{
    const test::HandOffGuard reopened;
    std::vector<int> order;
    Worker worker([&](Worker &) {
        Post([&] { order.push_back(0); });
        Post([&] { throw std::runtime_error("dropped, not raised"); });
        Synchronize([&] { order.push_back(1); });
        Post([&] { order.push_back(2); });
    });
    worker.Start();
    worker.WaitForEnd();
    handoff::Drain();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(worker.error);

    handoff::CutOff();
    Worker late([&](Worker &) { Post([&] { order.push_back(3); }); });
    late.Start();
    late.WaitForEnd();
    handoff::Drain();
    EXPECT_EQ(order.size(), 3u);
}

TEST(WorkerThread, EndNotificationRunsOnTheUiThreadThenTheObjectFreesItself)
{
    struct Counted : WorkerThread {
        std::atomic<int> *destroyed;
        explicit Counted(std::atomic<int> *d) : destroyed(d) { }
        ~Counted() override { ++*destroyed; }
        void Execute() override { }
    };
    std::atomic<int> destroyed{0};
    bool notified = false;
    auto *thread = new Counted(&destroyed);
    const auto ui = std::this_thread::get_id();
    thread->SetEndNotification([&](WorkerThread *sender) {
        EXPECT_EQ(sender, thread);
        EXPECT_EQ(std::this_thread::get_id(), ui);
        EXPECT_EQ(destroyed, 0);
        notified = true;
    });
    thread->SetReleaseOnEnd(true);
    thread->Start();
    WorkerThread::WaitForAllEnded();
    EXPECT_TRUE(notified);
    EXPECT_EQ(destroyed, 1);
}

TEST(WorkerThread, TheWaitForTheEndIsBoundedAndTheStopRequestWakesTheWorker)
{
    struct Pausing : WorkerThread {
        void Execute() override { StopSignal().WaitFor(60000); }
    };
    auto *thread = new Pausing;
    // As the window does: the thread frees itself only after the UI thread
    // has run its end notification, so the stop request cannot meet a freed
    // object.
    thread->SetEndNotification([](WorkerThread *) {});
    thread->SetReleaseOnEnd(true);
    thread->Start();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(WorkerThread::WaitForAllEnded(std::chrono::milliseconds(200)));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(200));
    thread->RequestStop();
    EXPECT_TRUE(WorkerThread::WaitForAllEnded(std::chrono::milliseconds(5000)));
}

} // namespace

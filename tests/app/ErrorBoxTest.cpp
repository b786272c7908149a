#include "app/ErrorBox.h"
#include "app/Application.h"
#include "platform/HandOff.h"
#include "platform/SocketErrorText.h"

#include "support/ModalBoxes.h"
#include "support/UdpPeer.h"
#include "support/Wait.h"
#include "ui/Handler.h"
#include "ui/Main.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace lumacast;
using namespace std::chrono_literals;
using test::ModalBoxes;
using test::Serving;
using test::WaitUntil;

namespace {

const QString Title = QStringLiteral("test_app_gui");

TEST(ErrorBoxTest, AnErrorFromAClickHandlerIsShownAndTheProgramGoesOn)
{
    ModalBoxes watcher;
    QWidget window;
    auto *failing = new QPushButton(QStringLiteral("fail"), &window);
    auto *working = new QPushButton(QStringLiteral("work"), &window);
    working->move(0, 40);
    bool before = false, after = false, workingRan = false;
    // Connected the way the window connects its handlers.
    QObject::connect(failing, &QPushButton::clicked, Handler([&] {
                         before = true;
                         throw std::runtime_error("ソケットエラー # 10048");
                         after = true;
                     }));
    QObject::connect(working, &QPushButton::clicked, [&] { workingRan = true; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QTest::mouseClick(failing, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return watcher.Seen().size() == 1u; }));
    EXPECT_TRUE(before);
    EXPECT_FALSE(after);
    const auto &box = watcher.Seen().front();
    EXPECT_EQ(box.name, ErrorMessageBoxName);
    EXPECT_EQ(box.title, Title);
    EXPECT_EQ(box.text, QStringLiteral("ソケットエラー # 10048."));
    EXPECT_EQ(box.buttons, QStringList{"OK"});
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_TRUE(box.modal);

    // The button is released and the window keeps working.
    EXPECT_FALSE(failing->isDown());
    QTest::mouseClick(working, Qt::LeftButton);
    EXPECT_TRUE(workingRan);
    QTest::mouseClick(failing, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return watcher.Seen().size() == 2u; }));
}

TEST(ErrorBoxTest, AWindowThatCannotBindShowsItsErrorAtStartAndOnFind)
{
    ASSERT_TRUE(test::InPrivateNetwork()) << "the window broadcasts: run it in a private network namespace";
    PanelPorts ports;
    ports.discoveryLocal = test::FreeUdpPort();
    ports.discoveryRemote = test::FreeUdpPort();
    const test::UdpPeer holder("0.0.0.0", ports.discoveryLocal);
    ModalBoxes watcher;
    TMainForm window(ports);
    EXPECT_FALSE(RunHandler([&] { window.FormCreate(); })); // as the program starts it
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_TRUE(watcher.Seen()[0].text.startsWith(QString::fromUtf8(CouldNotBindText)));
    window.show();
    QTest::mouseClick(window.FindBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return watcher.Seen().size() == 2u; }));
    EXPECT_EQ(watcher.Seen()[1].text, watcher.Seen()[0].text);
    EXPECT_FALSE(window.FindBtn->isEnabled()) << "the discovery window runs all the same";
}

TEST(ErrorBoxTest, ErrorsFromTimersAndOfUnknownKindAreShown)
{
    ModalBoxes watcher;
    QTimer::singleShot(0, [] { throw std::runtime_error("Timer failed"); });
    ASSERT_TRUE(WaitUntil([&] { return watcher.Seen().size() == 1u; }));
    EXPECT_EQ(watcher.Seen()[0].text, "Timer failed.");
    QTimer::singleShot(0, [] { throw 7; });
    ASSERT_TRUE(WaitUntil([&] { return watcher.Seen().size() == 2u; }));
    EXPECT_EQ(watcher.Seen()[1].text, "An error of an unknown kind occurred.");
}

TEST(ErrorBoxTest, RunHandlerShowsTheErrorAndStopsTheHandler)
{
    ModalBoxes watcher;
    bool after = false;
    EXPECT_FALSE(RunHandler([&] {
        throw std::runtime_error("Could not bind socket. Address and port are already in use.");
        after = true;
    }));
    EXPECT_FALSE(after);
    ASSERT_EQ(watcher.Seen().size(), 1u);
    // Ends in a full stop already: none is added.
    EXPECT_EQ(watcher.Seen()[0].text, "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(watcher.Seen()[0].title, Title);

    bool ran = false;
    EXPECT_TRUE(RunHandler([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(watcher.Seen().size(), 1u);
}

TEST(ErrorBoxTest, AnErrorOfAHandOffStepGoesBackToItsWorkerUnseen)
{
    ModalBoxes watcher;
    const auto handOffs = HandOffQueue::Make();
    handOffs->Watch();
    std::atomic<bool> done{false};
    std::string caught;
    std::thread worker([&] {
        try {
            handOffs->Synchronize([] { throw std::runtime_error("step failed"); });
        } catch (const std::exception &e) {
            caught = e.what();
        }
        done = true;
    });
    // Only the application's events run meanwhile: the step arrives through
    // its wake-up, as in the program.
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }, 5s, Serving::EventLoop));
    worker.join();
    EXPECT_EQ(caught, "step failed");
    // A box for the step would have come before an event posted now.
    bool after = false;
    QTimer::singleShot(0, qApp, [&] { after = true; });
    ASSERT_TRUE(WaitUntil([&] { return after; }, 5s, Serving::EventLoop));
    EXPECT_TRUE(watcher.Seen().empty());
}

} // namespace

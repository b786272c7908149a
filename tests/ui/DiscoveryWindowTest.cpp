#include "discovery/DiscoveryRequest.h"
#include "platform/HandOff.h"
#include "support/Device.h"
#include "support/Rows.h"
#include "support/UdpPeer.h"
#include "support/Wait.h"
#include "support/WindowFixture.h"
#include "ui/AddressComboBox.h"
#include "ui/AddressEntry.h"
#include "ui/IndicatorStrip.h"
#include "ui/Main.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace lumacast;
using namespace std::chrono_literals;
using test::Device;
using test::UdpPeer;
using test::WaitUntil;

namespace {

const std::string BindMessage = "ソケットをバインドできませんでした。アドレスとポートは既に使われています。";

class DiscoveryWindowTest : public test::WindowFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::InPrivateNetwork())
            << "the window broadcasts: run it in a private network namespace";
        WindowFixture::SetUp();
        ports.device = refusing.port();
        ports.discoveryLocal = test::FreeUdpPort();
        ports.discoveryRemote = test::FreeUdpPort();
        devices = std::make_unique<UdpPeer>("0.0.0.0", ports.discoveryRemote);
        ASSERT_TRUE(devices->ok());
    }

    // Counts the datagrams that the window has handled, counted or not.
    void create(bool runFormCreate = true, bool realTimer = false)
    {
        openWindow(ports, runFormCreate, realTimer);
        form->IdUDPServer1.OnRead = [this, read = form->IdUDPServer1.OnRead](auto *thread, const auto &data,
                                                                             auto &binding) {
            read(thread, data, binding);
            ++handled;
        };
    }

    void answer(const std::string &from, const std::string &data = "RK-DX420 here")
    {
        UdpPeer device(from);
        ASSERT_TRUE(device.ok()) << from;
        device.send(from.find(':') != std::string::npos ? "::1" : "127.0.0.1", ports.discoveryLocal, data);
    }

    // The request the window sent, when one came.
    bool requestArrived()
    {
        const auto got = devices->receive(2s);
        return got && got->data == DiscoveryRequest() && got->senderPort == ports.discoveryLocal;
    }

    QStringList entries() const
    {
        QStringList items;
        for (int i = 0; i < form->ComboBox1->count(); ++i)
            items << form->ComboBox1->itemText(i);
        return items;
    }

    const Device refusing{{.refuse = true}};
    PanelPorts ports;
    std::unique_ptr<UdpPeer> devices;
    std::size_t handled = 0;
};

TEST_F(DiscoveryWindowTest, NoAnswerLeavesTheListEmptyAndFindReturnsAfterTheWindow)
{
    // The system's timer itself: only the clock tells the window's length.
    const auto start = std::chrono::steady_clock::now();
    create(true, true);
    EXPECT_TRUE(requestArrived());
    EXPECT_TRUE(form->IdUDPServer1.Active());
    EXPECT_FALSE(form->FindBtn->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return form->FindBtn->isEnabled(); }));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(DiscoveryWindowMs));
    EXPECT_LT(took, std::chrono::milliseconds(2 * DiscoveryWindowMs));
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_EQ(form->ComboBox1->currentText(), "");
    EXPECT_FALSE(Discovering);
}

struct AnswerRow : test::Row {
    std::vector<std::string> senders;
    QStringList expected;
};

class AnswersTest : public DiscoveryWindowTest, public testing::WithParamInterface<AnswerRow> { };

TEST_P(AnswersTest, EachAnswerBecomesAnEntryInHandlingOrder)
{
    create();
    ASSERT_TRUE(requestArrived());
    for (const auto &sender : GetParam().senders) {
        if (!UdpPeer(sender).ok())
            GTEST_SKIP() << "no " << sender << " here";
        answer(sender);
    }
    const auto &expected = GetParam().expected;
    ASSERT_TRUE(WaitUntil([&] { return handled == GetParam().senders.size(); }));
    EXPECT_EQ(entries(), expected);
    EXPECT_EQ(form->ComboBox1->currentText(), expected.back());
    EXPECT_TRUE(Discovering);
}

INSTANTIATE_TEST_SUITE_P(Table, AnswersTest,
                         testing::Values(AnswerRow{"OneDevice", {"127.0.0.2"}, {"127.0.0.2"}},
                                         AnswerRow{"SeveralInOrder",
                                                   {"127.0.0.3", "127.0.0.2", "127.0.0.4"},
                                                   {"127.0.0.3", "127.0.0.2", "127.0.0.4"}},
                                         AnswerRow{"SameSenderTwiceIsKeptTwice",
                                                   {"127.0.0.5", "127.0.0.5"},
                                                   {"127.0.0.5", "127.0.0.5"}},
                                         AnswerRow{"IPv6Loopback", {"::1"}, {"0:0:0:0:0:0:0:1"}}),
                         test::RowName());

TEST_F(DiscoveryWindowTest, AnAnswerAfterTheWindowCountsForNothing)
{
    create();
    expireDiscovery();
    EXPECT_TRUE(form->FindBtn->isEnabled());
    answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return handled == 1; }));
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_EQ(form->ComboBox1->currentText(), "");
}

TEST_F(DiscoveryWindowTest, FindEmptiesTheListBeforeSendingAgain)
{
    create();
    ASSERT_TRUE(requestArrived());
    answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return entries().size() == 1; }));
    expireDiscovery();
    QTest::mouseClick(form->FindBtn, Qt::LeftButton);
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_EQ(form->ComboBox1->currentText(), "");
    EXPECT_FALSE(form->FindBtn->isEnabled());
    EXPECT_TRUE(Discovering);
    EXPECT_TRUE(requestArrived());
    answer("127.0.0.3");
    ASSERT_TRUE(WaitUntil([&] { return entries().size() == 1; }));
    EXPECT_EQ(entries(), QStringList{"127.0.0.3"});
}

TEST_F(DiscoveryWindowTest, HeldPortKeepsTheResourceStateAndFindRetries)
{
    auto holder = std::make_unique<UdpPeer>("0.0.0.0", ports.discoveryLocal);
    ASSERT_TRUE(holder->ok());
    create(false);
    try {
        form->FormCreate();
        FAIL() << "bound a held port";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(e.what(), BindMessage);
    }
    for (auto *strip : form->Strips()) {
        EXPECT_FALSE(strip->isHidden());
        EXPECT_EQ(strip->Color(), QColor(255, 255, 0));
    }
    for (auto *button : form->CommandButtons())
        EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(form->ComboBox1->currentText(), "ComboBox1");
    EXPECT_TRUE(form->FindBtn->isEnabled());
    EXPECT_TRUE(form->FindBtn->isVisible());
    EXPECT_FALSE(Discovering);
    EXPECT_FALSE(form->IdUDPServer1.Active());
    EXPECT_TRUE(devices->quiet()) << "no discovery while the port is held";

    // Still held: the window opens and runs out, nothing is sent.
    EXPECT_THROW(form->FindBtnClick(), EndpointBindError);
    EXPECT_EQ(form->ComboBox1->currentText(), "");
    EXPECT_FALSE(form->FindBtn->isEnabled());
    EXPECT_TRUE(Discovering);
    EXPECT_TRUE(devices->quiet());
    expireDiscovery();
    EXPECT_TRUE(form->FindBtn->isEnabled());

    holder.reset();
    form->FindBtnClick();
    EXPECT_TRUE(form->IdUDPServer1.Active());
    EXPECT_TRUE(requestArrived());
    answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return entries().size() == 1; }));
    // The strips and buttons stay as they were.
    EXPECT_TRUE(form->PowerOnBtn->isEnabled());
    EXPECT_FALSE(form->PowerStatusPnl->isHidden());
}

TEST_F(DiscoveryWindowTest, ABurstOfAThousandAnswersGivesAThousandEntries)
{
    create();
    ASSERT_TRUE(requestArrived());
    UdpPeer device("127.0.0.2");
    constexpr int Count = 1000;
    for (int i = 0; i < Count; ++i)
        device.send("127.0.0.1", ports.discoveryLocal, "answer " + std::to_string(i));
    // All of them within the time of one discovery window.
    ASSERT_TRUE(WaitUntil([&] { return handled == std::size_t(Count); },
                          std::chrono::milliseconds(DiscoveryWindowMs)))
        << handled << " handled";
    EXPECT_EQ(form->ComboBox1->count(), Count);
}

struct CloseRow : test::Row {
    bool formDestroy; // or straight to the destructor
};

class CloseDuringWindowTest : public DiscoveryWindowTest, public testing::WithParamInterface<CloseRow> { };

TEST_P(CloseDuringWindowTest, TheEndpointClosesAtOnceAndNothingIsAddedAfterwards)
{
    create();
    ASSERT_TRUE(requestArrived());
    answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return entries().size() == 1; }));
    answer("127.0.0.3"); // may be on its way while the window goes
    const auto start = std::chrono::steady_clock::now();
    if (GetParam().formDestroy)
        form->FormDestroy();
    else
        form.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    // Every socket is closed: the port is free, and what comes to it now
    // reaches whoever holds it then, not the window.
    const UdpPeer heir("0.0.0.0", ports.discoveryLocal);
    ASSERT_TRUE(heir.ok());
    const std::size_t handledAtClose = handled;
    answer("127.0.0.4");
    ASSERT_TRUE(heir.receive(2s));
    if (form) {
        ASSERT_TRUE(WaitUntil([] { return true; })); // serves whatever is queued
        EXPECT_EQ(handled, handledAtClose);
        EXPECT_FALSE(entries().contains("127.0.0.4"));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CloseDuringWindowTest,
                         testing::Values(CloseRow{"WithDestroyHandler", true},
                                         CloseRow{"DestructorOnly", false}),
                         test::RowName());

TEST_F(DiscoveryWindowTest, ConnectDuringTheWindowKeepsFindDisabledUntilTheConnectionEnds)
{
    const Device device({.silent = true});
    ports.device = device.port();
    create();
    ASSERT_TRUE(requestArrived());
    form->ComboBox1->setEditText("127.0.0.1");
    QTest::mouseClick(form->ConnectBtn, Qt::LeftButton);
    ASSERT_TRUE(Connected);
    answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return entries().size() == 1; }));
    EXPECT_EQ(form->ComboBox1->currentText(), "127.0.0.2");
    EXPECT_FALSE(form->ComboBox1->isEnabled());
    expireDiscovery();
    EXPECT_FALSE(form->FindBtn->isEnabled());
    QTest::mouseClick(form->ConnectBtn, Qt::LeftButton); // DISCONNECT
    ASSERT_TRUE(WaitUntil([] { return !Connected; }));
    EXPECT_TRUE(form->FindBtn->isEnabled());
}

TEST_F(DiscoveryWindowTest, AConnectionEndingDuringTheWindowEnablesFindAndAPressRestarts)
{
    create(); // the device refuses: the connection fails at once
    ASSERT_TRUE(requestArrived());
    answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return entries().size() == 1; }));
    form->ComboBox1->setEditText("127.0.0.1");
    QTest::mouseClick(form->ConnectBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return !Connected; }));
    EXPECT_TRUE(Discovering);
    EXPECT_TRUE(form->FindBtn->isEnabled());
    QTest::mouseClick(form->FindBtn, Qt::LeftButton);
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_TRUE(requestArrived());
}

TEST_F(DiscoveryWindowTest, ATimerThatCannotStartStopsTheDiscoveryBeforeTheRequest)
{
    create();
    ASSERT_TRUE(requestArrived());
    expireDiscovery();
    form->SetTimerStarter([](QTimer &) { return false; });
    answer("127.0.0.2"); // after the window: counts for nothing either way
    try {
        form->FindBtnClick();
        ADD_FAILURE() << "no error";
    } catch (const std::exception &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("タイマーを取得できません"));
    }
    EXPECT_TRUE(devices->quiet());
    EXPECT_TRUE(Discovering);
    EXPECT_FALSE(form->FindBtn->isEnabled());
    // Only the next connection's end gives FIND back.
    form->ComboBox1->setEditText("127.0.0.1");
    QTest::mouseClick(form->ConnectBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return !Connected; }));
    EXPECT_TRUE(form->FindBtn->isEnabled());
}

} // namespace

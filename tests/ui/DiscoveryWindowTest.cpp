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
        ports_.device = refusing_.Port();
        ports_.discoveryLocal = test::FreeUdpPort();
        ports_.discoveryRemote = test::FreeUdpPort();
        devices_ = std::make_unique<UdpPeer>("0.0.0.0", ports_.discoveryRemote);
        ASSERT_TRUE(devices_->Ok());
    }

    // Counts the datagrams that the window has handled, counted or not.
    void Create(bool runFormCreate = true, bool realTimer = false)
    {
        OpenWindow(ports_, runFormCreate, realTimer);
        form_->IdUDPServer1.onRead = [this, read = form_->IdUDPServer1.onRead](auto *thread, const auto &data,
                                                                               auto &binding) {
            read(thread, data, binding);
            ++handled_;
        };
    }

    void Answer(const std::string &from, const std::string &data = "RK-DX420 here")
    {
        UdpPeer device(from);
        ASSERT_TRUE(device.Ok()) << from;
        device.Send(from.find(':') != std::string::npos ? "::1" : "127.0.0.1", ports_.discoveryLocal, data);
    }

    // The request the window sent, when one came.
    bool RequestArrived()
    {
        const auto got = devices_->Receive(2s);
        return got && got->data == DiscoveryRequest() && got->senderPort == ports_.discoveryLocal;
    }

    QStringList Entries() const
    {
        QStringList items;
        for (int i = 0; i < form_->ComboBox1->count(); ++i)
            items << form_->ComboBox1->itemText(i);
        return items;
    }

    const Device refusing_{{.refuse = true}};
    PanelPorts ports_;
    std::unique_ptr<UdpPeer> devices_;
    std::size_t handled_ = 0;
};

TEST_F(DiscoveryWindowTest, NoAnswerLeavesTheListEmptyAndFindReturnsAfterTheWindow)
{
    // The system's timer itself: only the clock tells the window's length.
    const auto start = std::chrono::steady_clock::now();
    Create(true, true);
    EXPECT_TRUE(RequestArrived());
    EXPECT_TRUE(form_->IdUDPServer1.Active());
    EXPECT_FALSE(form_->FindBtn->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return form_->FindBtn->isEnabled(); }));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(DiscoveryWindowMs));
    EXPECT_LT(took, std::chrono::milliseconds(2 * DiscoveryWindowMs));
    EXPECT_TRUE(Entries().isEmpty());
    EXPECT_EQ(form_->ComboBox1->currentText(), "");
    EXPECT_FALSE(Discovering);
}

struct AnswerRow : test::Row {
    std::vector<std::string> senders;
    QStringList expected;
};

class AnswersTest : public DiscoveryWindowTest, public testing::WithParamInterface<AnswerRow> { };

TEST_P(AnswersTest, EachAnswerBecomesAnEntryInHandlingOrder)
{
    Create();
    ASSERT_TRUE(RequestArrived());
    for (const auto &sender : GetParam().senders) {
        if (!UdpPeer(sender).Ok())
            GTEST_SKIP() << "no " << sender << " here";
        Answer(sender);
    }
    const auto &expected = GetParam().expected;
    ASSERT_TRUE(WaitUntil([&] { return handled_ == GetParam().senders.size(); }));
    EXPECT_EQ(Entries(), expected);
    EXPECT_EQ(form_->ComboBox1->currentText(), expected.back());
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
    Create();
    ExpireDiscovery();
    EXPECT_TRUE(form_->FindBtn->isEnabled());
    Answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return handled_ == 1; }));
    EXPECT_TRUE(Entries().isEmpty());
    EXPECT_EQ(form_->ComboBox1->currentText(), "");
}

TEST_F(DiscoveryWindowTest, FindEmptiesTheListBeforeSendingAgain)
{
    Create();
    ASSERT_TRUE(RequestArrived());
    Answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return Entries().size() == 1; }));
    ExpireDiscovery();
    QTest::mouseClick(form_->FindBtn, Qt::LeftButton);
    EXPECT_TRUE(Entries().isEmpty());
    EXPECT_EQ(form_->ComboBox1->currentText(), "");
    EXPECT_FALSE(form_->FindBtn->isEnabled());
    EXPECT_TRUE(Discovering);
    EXPECT_TRUE(RequestArrived());
    Answer("127.0.0.3");
    ASSERT_TRUE(WaitUntil([&] { return Entries().size() == 1; }));
    EXPECT_EQ(Entries(), QStringList{"127.0.0.3"});
}

TEST_F(DiscoveryWindowTest, HeldPortKeepsTheResourceStateAndFindRetries)
{
    auto holder = std::make_unique<UdpPeer>("0.0.0.0", ports_.discoveryLocal);
    ASSERT_TRUE(holder->Ok());
    Create(false);
    try {
        form_->FormCreate();
        FAIL() << "bound a held port";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(e.what(), BindMessage);
    }
    for (auto *strip : form_->Strips()) {
        EXPECT_FALSE(strip->isHidden());
        EXPECT_EQ(strip->Color(), QColor(255, 255, 0));
    }
    for (auto *button : form_->CommandButtons())
        EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(form_->ComboBox1->currentText(), "ComboBox1");
    EXPECT_TRUE(form_->FindBtn->isEnabled());
    EXPECT_TRUE(form_->FindBtn->isVisible());
    EXPECT_FALSE(Discovering);
    EXPECT_FALSE(form_->IdUDPServer1.Active());
    EXPECT_TRUE(devices_->Quiet()) << "no discovery while the port is held";

    // Still held: the window opens and runs out, nothing is sent.
    EXPECT_THROW(form_->FindBtnClick(), EndpointBindError);
    EXPECT_EQ(form_->ComboBox1->currentText(), "");
    EXPECT_FALSE(form_->FindBtn->isEnabled());
    EXPECT_TRUE(Discovering);
    EXPECT_TRUE(devices_->Quiet());
    ExpireDiscovery();
    EXPECT_TRUE(form_->FindBtn->isEnabled());

    holder.reset();
    form_->FindBtnClick();
    EXPECT_TRUE(form_->IdUDPServer1.Active());
    EXPECT_TRUE(RequestArrived());
    Answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return Entries().size() == 1; }));
    // The strips and buttons stay as they were.
    EXPECT_TRUE(form_->PowerOnBtn->isEnabled());
    EXPECT_FALSE(form_->PowerStatusPnl->isHidden());
}

TEST_F(DiscoveryWindowTest, ABurstOfAThousandAnswersGivesAThousandEntries)
{
    Create();
    ASSERT_TRUE(RequestArrived());
    UdpPeer device("127.0.0.2");
    constexpr int Count = 1000;
    for (int i = 0; i < Count; ++i)
        device.Send("127.0.0.1", ports_.discoveryLocal, "answer " + std::to_string(i));
    // All of them within the time of one discovery window.
    ASSERT_TRUE(WaitUntil([&] { return handled_ == std::size_t(Count); },
                          std::chrono::milliseconds(DiscoveryWindowMs)))
        << handled_ << " handled";
    EXPECT_EQ(form_->ComboBox1->count(), Count);
}

struct CloseRow : test::Row {
    bool formDestroy; // or straight to the destructor
};

class CloseDuringWindowTest : public DiscoveryWindowTest, public testing::WithParamInterface<CloseRow> { };

TEST_P(CloseDuringWindowTest, TheEndpointClosesAtOnceAndNothingIsAddedAfterwards)
{
    Create();
    ASSERT_TRUE(RequestArrived());
    Answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return Entries().size() == 1; }));
    Answer("127.0.0.3"); // may be on its way while the window goes
    const auto start = std::chrono::steady_clock::now();
    if (GetParam().formDestroy)
        form_->FormDestroy();
    else
        form_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    // Every socket is closed: the port is free, and what comes to it now
    // reaches whoever holds it then, not the window.
    const UdpPeer heir("0.0.0.0", ports_.discoveryLocal);
    ASSERT_TRUE(heir.Ok());
    const std::size_t handledAtClose = handled_;
    Answer("127.0.0.4");
    ASSERT_TRUE(heir.Receive(2s));
    if (form_) {
        ASSERT_TRUE(WaitUntil([] { return true; })); // serves whatever is queued
        EXPECT_EQ(handled_, handledAtClose);
        EXPECT_FALSE(Entries().contains("127.0.0.4"));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CloseDuringWindowTest,
                         testing::Values(CloseRow{"WithDestroyHandler", true},
                                         CloseRow{"DestructorOnly", false}),
                         test::RowName());

TEST_F(DiscoveryWindowTest, ConnectDuringTheWindowKeepsFindDisabledUntilTheConnectionEnds)
{
    const Device device({.silent = true});
    ports_.device = device.Port();
    Create();
    ASSERT_TRUE(RequestArrived());
    form_->ComboBox1->setEditText("127.0.0.1");
    QTest::mouseClick(form_->ConnectBtn, Qt::LeftButton);
    ASSERT_TRUE(Connected);
    Answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return Entries().size() == 1; }));
    EXPECT_EQ(form_->ComboBox1->currentText(), "127.0.0.2");
    EXPECT_FALSE(form_->ComboBox1->isEnabled());
    ExpireDiscovery();
    EXPECT_FALSE(form_->FindBtn->isEnabled());
    QTest::mouseClick(form_->ConnectBtn, Qt::LeftButton); // DISCONNECT
    ASSERT_TRUE(WaitUntil([] { return !Connected; }));
    EXPECT_TRUE(form_->FindBtn->isEnabled());
}

TEST_F(DiscoveryWindowTest, AConnectionEndingDuringTheWindowEnablesFindAndAPressRestarts)
{
    Create(); // the device refuses: the connection fails at once
    ASSERT_TRUE(RequestArrived());
    Answer("127.0.0.2");
    ASSERT_TRUE(WaitUntil([&] { return Entries().size() == 1; }));
    form_->ComboBox1->setEditText("127.0.0.1");
    QTest::mouseClick(form_->ConnectBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return !Connected; }));
    EXPECT_TRUE(Discovering);
    EXPECT_TRUE(form_->FindBtn->isEnabled());
    QTest::mouseClick(form_->FindBtn, Qt::LeftButton);
    EXPECT_TRUE(Entries().isEmpty());
    EXPECT_TRUE(RequestArrived());
}

TEST_F(DiscoveryWindowTest, ATimerThatCannotStartStopsTheDiscoveryBeforeTheRequest)
{
    Create();
    ASSERT_TRUE(RequestArrived());
    ExpireDiscovery();
    form_->SetTimerStarter([](QTimer &) { return false; });
    Answer("127.0.0.2"); // after the window: counts for nothing either way
    try {
        form_->FindBtnClick();
        ADD_FAILURE() << "no error";
    } catch (const std::exception &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("タイマーを取得できません"));
    }
    EXPECT_TRUE(devices_->Quiet());
    EXPECT_TRUE(Discovering);
    EXPECT_FALSE(form_->FindBtn->isEnabled());
    // Only the next connection's end gives FIND back.
    form_->ComboBox1->setEditText("127.0.0.1");
    QTest::mouseClick(form_->ConnectBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return !Connected; }));
    EXPECT_TRUE(form_->FindBtn->isEnabled());
}

} // namespace

#include "platform/HandOff.h"
#include "support/FakeDevice.h"
#include "support/LoopbackPorts.h"
#include "support/ModalBoxes.h"
#include "support/Rows.h"
#include "support/UdpPeer.h"
#include "support/Wait.h"
#include "support/WindowFixture.h"
#include "ui/AddressEntry.h"
#include "ui/IndicatorStrip.h"
#include "ui/Main.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace lumacast;
using namespace std::chrono_literals;
using test::ClosedPort;
using test::FakeDevice;
using test::StalledListener;

namespace {

const QColor Yellow(255, 255, 0);
const QColor Orange(255, 96, 0);
const QColor Blue(0, 128, 255);

class MainFormTest : public test::WindowFixture {
protected:
    void create(std::uint16_t devicePort, bool runFormCreate = true)
    {
        PanelPorts ports;
        ports.device = devicePort;
        // Ports of their own, so windows of parallel tests do not meet.
        ports.discoveryLocal = test::FreeUdpPort();
        ports.discoveryRemote = test::FreeUdpPort();
        openWindow(ports, runFormCreate);
    }

    void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

    void connectTo(const QString &address)
    {
        form->ComboBox1->setEditText(address);
        click(form->ConnectBtn);
    }

    bool waitIdle()
    {
        return test::WaitUntil([] { return !Connected; });
    }

    std::vector<bool> visibleStrips() const
    {
        std::vector<bool> shown;
        for (auto *strip : form->strips())
            shown.push_back(!strip->isHidden());
        return shown;
    }

    struct StateSnapshot {
        QString caption, status;
        bool fieldEnabled, commandsEnabled, findEnabled, anyStrip;
    };
    StateSnapshot snapshot() const
    {
        bool commands = true;
        for (auto *b : form->commandButtons())
            commands = commands && b->isEnabled();
        bool anyStrip = false;
        for (bool v : visibleStrips())
            anyStrip = anyStrip || v;
        return {form->ConnectBtn->text(),     form->statusText(),
                form->ComboBox1->isEnabled(), commands,
                form->FindBtn->isEnabled(),   anyStrip};
    }
};

TEST_F(MainFormTest, WindowAndControlsSitWhereTheLayoutPutsThem)
{
    create(ClosedPort(), false);
    EXPECT_EQ(form->windowTitle(), "Lumacast2 For RK-DX420 Ver.1.00");
    EXPECT_EQ(form->size(), QSize(434, 182));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);

    struct Row {
        QWidget *widget;
        QRect rect;
        QString caption;
    };
    const Row rows[] = {
        {form->Label1, {9, 19, 64, 13}, "IP Address:"},   {form->PowerOnBtn, {6, 56, 79, 25}, "POWER ON "},
        {form->LampOnBtn, {88, 56, 79, 25}, "LAMP ON "},  {form->MuteOnBtn, {170, 56, 79, 25}, "MUTE ON "},
        {form->InpSelBtn1, {6, 126, 79, 25}, "1"},        {form->InpSelBtn2, {88, 126, 79, 25}, "2"},
        {form->InpSelBtn3, {170, 126, 79, 25}, "3"},      {form->InpSelBtn4, {252, 126, 79, 25}, "4"},
        {form->ConnectBtn, {330, 14, 83, 25}, "CONNECT"}, {form->ComboBox1, {86, 16, 163, 21}, {}},
        {form->StatusBar1, {0, 163, 434, 19}, {}},        {form->FindBtn, {259, 14, 63, 25}, "FIND"},
        {form->PowerStatusPnl, {6, 51, 79, 4}, {}},       {form->InpSelBtn5, {334, 126, 79, 25}, "5"},
        {form->LampStatusPnl, {88, 51, 79, 4}, {}},       {form->MuteStatusPnl, {170, 51, 79, 4}, {}},
        {form->InpSelStatusPnl1, {6, 121, 79, 4}, {}},    {form->InpSelStatusPnl2, {88, 121, 79, 4}, {}},
        {form->InpSelStatusPnl3, {170, 121, 79, 4}, {}},  {form->InpSelStatusPnl4, {252, 121, 79, 4}, {}},
        {form->InpSelStatusPnl5, {334, 121, 79, 4}, {}},  {form->PowerOffBtn, {6, 84, 79, 25}, "POWER OFF"},
        {form->LampOffBtn, {88, 84, 79, 25}, "LAMP OFF"}, {form->MuteOffBtn, {170, 84, 79, 25}, "MUTE OFF"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(row.widget->geometry(), row.rect) << row.widget->accessibleName().toStdString();
        EXPECT_FALSE(QAccessible::queryAccessibleInterface(row.widget)->text(QAccessible::Name).isEmpty());
        if (auto *button = qobject_cast<QPushButton *>(row.widget); button != nullptr) {
            EXPECT_EQ(button->text(), row.caption);
            EXPECT_TRUE(button->font().bold());
            EXPECT_EQ(button->font().pixelSize(), 11);
        }
        if (auto *label = qobject_cast<QLabel *>(row.widget); label != nullptr) {
            EXPECT_EQ(label->text(), row.caption);
        }
    }
    // No two controls overlap.
    for (const Row &a : rows)
        for (const Row &b : rows)
            if (a.widget != b.widget) {
                EXPECT_FALSE(a.rect.intersects(b.rect)) << a.widget->accessibleName().toStdString() << " / "
                                                        << b.widget->accessibleName().toStdString();
            }
}

TEST_F(MainFormTest, EveryCaptionFitsItsControl)
{
    create(ClosedPort(), false);
    struct Row {
        QWidget *widget;
        QString caption;
        int margin; // a button's frame takes a few pixels on each side
    };
    const Row rows[] = {
        {form->Label1, "IP Address:", 0},    {form->PowerOnBtn, "POWER ON ", 4},
        {form->PowerOffBtn, "POWER OFF", 4}, {form->LampOnBtn, "LAMP ON ", 4},
        {form->LampOffBtn, "LAMP OFF", 4},   {form->MuteOnBtn, "MUTE ON ", 4},
        {form->MuteOffBtn, "MUTE OFF", 4},   {form->ConnectBtn, "CONNECT", 4},
        {form->ConnectBtn, "DISCONNECT", 4}, {form->FindBtn, "FIND", 4},
        {form->ComboBox1->lineEdit(), "255.255.255.255", 2},
    };
    // Run again under display scales (see CMakeLists.txt): the layout scales as a whole.
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    EXPECT_DOUBLE_EQ(form->devicePixelRatioF(), scale.isEmpty() ? 1.0 : scale.toDouble());
    for (const Row &row : rows) {
        const int width = row.widget->fontMetrics().horizontalAdvance(row.caption);
        EXPECT_LE(width, row.widget->width() - 2 * row.margin)
            << row.caption.toStdString() << " in " << row.widget->font().family().toStdString();
    }
}

TEST_F(MainFormTest, TabOrderFollowsTheLayout)
{
    create(ClosedPort(), false);
    const std::vector<QWidget *> expected = {
        form->PowerOnBtn,       form->LampOnBtn,        form->MuteOnBtn,        form->InpSelBtn1,
        form->InpSelBtn2,       form->InpSelBtn3,       form->InpSelBtn4,       form->ConnectBtn,
        form->ComboBox1,        form->FindBtn,          form->PowerStatusPnl,   form->InpSelBtn5,
        form->LampStatusPnl,    form->MuteStatusPnl,    form->InpSelStatusPnl1, form->InpSelStatusPnl2,
        form->InpSelStatusPnl3, form->InpSelStatusPnl4, form->InpSelStatusPnl5, form->PowerOffBtn,
        form->LampOffBtn,       form->MuteOffBtn};
    std::vector<QWidget *> chain;
    QWidget *w = form->PowerOnBtn;
    do {
        if (std::find(expected.begin(), expected.end(), w) != expected.end())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != form->PowerOnBtn && chain.size() < expected.size());
    EXPECT_EQ(chain, expected);
    for (auto *strip : form->strips())
        EXPECT_EQ(strip->focusPolicy(), Qt::TabFocus);
}

TEST_F(MainFormTest, BeforeCreationHandlerTheControlsHoldTheirInitialState)
{
    create(ClosedPort(), false);
    for (auto *strip : form->strips()) {
        EXPECT_FALSE(strip->isHidden());
        EXPECT_EQ(strip->color(), Yellow);
    }
    for (auto *button : form->commandButtons())
        EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(form->ComboBox1->currentText(), "ComboBox1");
    EXPECT_TRUE(form->FindBtn->isEnabled());
    EXPECT_EQ(form->statusText(), "");
}

TEST_F(MainFormTest, IdleAsCreatedThenFindReturnsWhenTheDiscoveryWindowEnds)
{
    create(ClosedPort());
    auto s = snapshot();
    EXPECT_EQ(s.caption, "CONNECT");
    EXPECT_EQ(s.status, "");
    EXPECT_TRUE(s.fieldEnabled);
    EXPECT_FALSE(s.commandsEnabled);
    EXPECT_FALSE(s.findEnabled);
    EXPECT_FALSE(s.anyStrip);
    EXPECT_EQ(form->ComboBox1->currentText(), "");
    EXPECT_TRUE(Discovering);
    EXPECT_TRUE(test::WaitUntil([&] { return form->FindBtn->isEnabled(); }, 5s));
    EXPECT_FALSE(Discovering);
}

TEST_F(MainFormTest, ConnectingConnectedStoppingAndIdleAgain)
{
    FakeDevice device([](const std::string &, int) { return FakeDevice::reply("1113"); });
    create(device.port());
    connectTo("127.0.0.1");
    auto s = snapshot(); // connecting: nothing has been served yet
    EXPECT_EQ(s.caption, "DISCONNECT");
    EXPECT_EQ(form->ConnectBtn->accessibleName(), "Disconnect");
    EXPECT_EQ(s.status, "CONNECTING... [127.0.0.1]");
    EXPECT_FALSE(s.fieldEnabled);
    EXPECT_TRUE(s.commandsEnabled);
    EXPECT_FALSE(s.findEnabled);
    EXPECT_FALSE(s.anyStrip);
    EXPECT_TRUE(Connected);
    EXPECT_NE(ActivePoller, nullptr);

    ASSERT_TRUE(test::WaitUntil([&] { return !form->PowerStatusPnl->isHidden(); }));
    EXPECT_EQ(form->statusText(), "CONNECTED [127.0.0.1]");
    EXPECT_EQ(visibleStrips(), (std::vector<bool>{true, true, true, false, false, true, false, false}));

    click(form->ConnectBtn); // stopping: nothing visible changes
    s = snapshot();
    EXPECT_EQ(s.caption, "DISCONNECT");
    EXPECT_TRUE(s.commandsEnabled);
    EXPECT_TRUE(Connected);
    click(form->ConnectBtn); // again: no effect

    ASSERT_TRUE(waitIdle());
    s = snapshot();
    EXPECT_EQ(s.caption, "CONNECT");
    EXPECT_EQ(form->ConnectBtn->accessibleName(), "Connect");
    EXPECT_EQ(s.status, "DISCONNECTED");
    EXPECT_TRUE(s.fieldEnabled);
    EXPECT_FALSE(s.commandsEnabled);
    EXPECT_TRUE(s.findEnabled);
    EXPECT_FALSE(s.anyStrip);
    EXPECT_EQ(ActivePoller, nullptr);
    EXPECT_TRUE(device.waitForEndOfStream(2s));
    EXPECT_EQ(form->ComboBox1->currentText(), "127.0.0.1");
}

TEST_F(MainFormTest, RefusedConnectionGoesStraightToDisconnectedWithoutABox)
{
    create(ClosedPort());
    std::vector<QString> seen;
    connectTo("127.0.0.1");
    ASSERT_TRUE(test::WaitUntil([&] {
        seen.push_back(form->statusText());
        return !Connected;
    }));
    EXPECT_EQ(form->statusText(), "DISCONNECTED");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "CONNECTED [127.0.0.1]"), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(snapshot().anyStrip);
}

TEST_F(MainFormTest, PressesBeforeAFrameRideTheFirstFrameOnce)
{
    // The controls start enabled, so commands can be pressed before any connection.
    FakeDevice device([](const std::string &, int) { return FakeDevice::reply("0000"); });
    create(device.port(), false);
    click(form->PowerOnBtn);
    click(form->PowerOffBtn); // last press in a slot wins
    click(form->LampOnBtn);
    click(form->MuteOffBtn);
    click(form->InpSelBtn2);
    click(form->InpSelBtn4);
    click(form->InpSelBtn4); // twice: carried once
    connectTo("127.0.0.1");
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 2; }));
    EXPECT_EQ(device.frames()[0].bytes, std::string("@C10104 \r"));
    EXPECT_EQ(device.frames()[1].bytes, std::string("@C1     \r"));
}

TEST_F(MainFormTest, PressWhileStoppingIsCarriedByTheNextConnection)
{
    FakeDevice device; // silent: the poller waits for a reply and builds nothing
    create(device.port());
    connectTo("127.0.0.1");
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 1; }));
    click(form->ConnectBtn);
    click(form->InpSelBtn5);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(form->pendingCommands().InpSelCmd, '5');
    click(form->ConnectBtn);
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 2; }));
    EXPECT_EQ(device.frames()[1].bytes, std::string("@C1   5 \r"));
}

struct StatusRow : test::Row {
    std::vector<std::string> replies; // applied in order; the last one is checked
    std::vector<bool> shown;
    QColor power;
};

class ShowStatusTest : public MainFormTest, public testing::WithParamInterface<StatusRow> { };

TEST_P(ShowStatusTest, StripsFollowTheLastStatus)
{
    create(ClosedPort());
    for (const auto &r : GetParam().replies)
        form->ShowDeviceStatus({r[0], r[1], r[2], r[3]});
    EXPECT_EQ(visibleStrips(), GetParam().shown);
    if (GetParam().shown[0]) {
        EXPECT_EQ(form->PowerStatusPnl->color(), GetParam().power);
    }
    for (auto *strip : form->strips()) {
        if (!strip->isHidden() && strip != form->PowerStatusPnl) {
            EXPECT_EQ(strip->color(), Orange);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShowStatusTest,
    testing::Values(
        StatusRow{"PowerOne", {"1000"}, {true, false, false, false, false, false, false, false}, Orange},
        StatusRow{"PowerTwo", {"2000"}, {true, false, false, false, false, false, false, false}, Blue},
        StatusRow{"PowerZeroThenTwo",
                  {"0000", "2000"},
                  {true, false, false, false, false, false, false, false},
                  Blue},
        StatusRow{"PowerOneThenZero",
                  {"1000", "0000"},
                  {false, false, false, false, false, false, false, false},
                  {}},
        StatusRow{"LampAndMuteTwoAreHidden",
                  {"0220"},
                  {false, false, false, false, false, false, false, false},
                  {}},
        StatusRow{"LampAndMuteOne", {"0110"}, {false, true, true, false, false, false, false, false}, {}},
        StatusRow{"InputThreeThenFive",
                  {"0003", "0005"},
                  {false, false, false, false, false, false, false, true},
                  {}},
        StatusRow{
            "InputZero", {"0003", "0000"}, {false, false, false, false, false, false, false, false}, {}},
        StatusRow{"InputSpace", {"000 "}, {false, false, false, false, false, false, false, false}, {}},
        StatusRow{"InputSix", {"0006"}, {false, false, false, false, false, false, false, false}, {}},
        StatusRow{"QuestionMarkPower", {"?111"}, {false, true, true, true, false, false, false, false}, {}}),
    test::RowName());

TEST_F(MainFormTest, AnUnchangedStatusRepaintsNothing)
{
    create(ClosedPort());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    int paints = 0;
    struct Counter : QObject {
        int *count;
        explicit Counter(int *c) : count(c) { }
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                ++*count;
            return false;
        }
    } counter(&paints);
    for (auto *strip : form->strips())
        strip->installEventFilter(&counter);
    form->ShowDeviceStatus({'1', '1', '0', '3'});
    QTest::qWait(50);
    EXPECT_GT(paints, 0);
    paints = 0;
    form->ShowDeviceStatus({'1', '1', '0', '3'});
    QTest::qWait(50);
    EXPECT_EQ(paints, 0);
}

TEST_F(MainFormTest, AScreenReaderReadsWhatTheWindowShows)
{
    create(ClosedPort());
    form->ShowDeviceStatus({'1', '0', '0', '3'});
    form->SetStatusText(QStringLiteral("CONNECTED [10.0.0.1]"));
    struct Row {
        QWidget *widget;
        QAccessible::Role role;
        QString name;
    };
    const Row rows[] = {
        {form.get(), QAccessible::Window, "Lumacast2 For RK-DX420 Ver.1.00"},
        {form->PowerStatusPnl, QAccessible::StaticText, "Power: on"},
        {form->LampStatusPnl, QAccessible::StaticText, "Lamp: off"},
        {form->InpSelStatusPnl3, QAccessible::StaticText, "Input 3 selected"},
        {form->InpSelStatusPnl1, QAccessible::StaticText, "Input 1: off"},
        {form->StatusBar1, QAccessible::StatusBar, "CONNECTED [10.0.0.1]"},
        {form->ConnectBtn, QAccessible::Button, "Connect"},
    };
    for (const Row &row : rows) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(row.widget);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), row.role) << row.name.toStdString();
        EXPECT_EQ(iface->text(QAccessible::Name), row.name);
    }
    EXPECT_EQ(form->Label1->buddy(), form->ComboBox1);
}

TEST_F(MainFormTest, RejectedAddressShowsTheBoxAndStartsNothing)
{
    create(ClosedPort());
    const test::ModalBoxes boxes;
    connectTo("0x1g");
    ASSERT_EQ(boxes.seen().size(), 1u);
    EXPECT_EQ(boxes.seen()[0].text, "CHECK IP ADDRESS!!");
    EXPECT_FALSE(Connected);
    EXPECT_EQ(ActivePoller, nullptr);
    EXPECT_EQ(form->ConnectBtn->text(), "CONNECT");
    EXPECT_EQ(form->ComboBox1->currentText(), "0x1g");
}

TEST_F(MainFormTest, DisconnectWhileConnectingWaitsForTheAttempt)
{
    // A listener with a full backlog leaves the connect attempt hanging.
    const StalledListener listener;
    create(listener.port());
    connectTo("127.0.0.1");
    click(form->ConnectBtn);
    QTest::qWait(300);
    EXPECT_EQ(form->statusText(), "CONNECTING... [127.0.0.1]");
    EXPECT_EQ(form->ConnectBtn->text(), "DISCONNECT");
    EXPECT_TRUE(Connected);
    ActivePoller->AbortConnect(); // stands in for the system giving up
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(form->statusText(), "DISCONNECTED");
}

TEST_F(MainFormTest, EndOfProgramClosesTheConnectionInOrderAndPromptly)
{
    FakeDevice device([](const std::string &, int) { return FakeDevice::reply("1000"); });
    create(device.port());
    connectTo("127.0.0.1");
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 2; }));
    const auto start = std::chrono::steady_clock::now();
    EndPolling();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(device.waitForEndOfStream(1s));
    const auto frames = device.frames().size();
    QTest::qWait(400);
    EXPECT_EQ(device.frames().size(), frames);
    // The window was never touched after the cut-off.
    EXPECT_EQ(form->statusText(), "CONNECTED [127.0.0.1]");
}

} // namespace

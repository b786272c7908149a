#include "platform/HandOff.h"
#include "support/Device.h"
#include "support/ModalBoxes.h"
#include "support/Rows.h"
#include "support/UdpPeer.h"
#include "support/Wait.h"
#include "support/WindowFixture.h"
#include "ui/AddressComboBox.h"
#include "ui/AddressEntry.h"
#include "ui/IndicatorStrip.h"
#include "ui/Layout.h"
#include "ui/Main.h"
#include "ui/ScreenReader.h"
#include "ui/SpokenState.h"

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

using namespace lumacast;
using namespace std::chrono_literals;
using test::Device;
using test::WaitUntil;

namespace {

const QColor Yellow(255, 255, 0);
const QColor Orange(255, 96, 0);
const QColor Blue(0, 128, 255);

// The texts that the window announces to a screen reader while it lives.
// (The platform tells a screen reader of an announcement as it shows; there
// is no screen reader on the test's platform, so the showing is recorded.)
class Announcements : public QObject {
public:
    Announcements() { qApp->installEventFilter(this); }

    std::vector<QString> said;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            if (auto *announcement = qobject_cast<Announcement *>(watched))
                said.push_back(announcement->accessibleName());
        return false;
    }
};

class MainFormTest : public test::WindowFixture {
protected:
    // A window whose device refuses, unless `device` says another.
    void Create(bool runFormCreate = true, const Device *device = nullptr)
    {
        PanelPorts ports;
        ports.device = (device != nullptr ? *device : refusing_).Port();
        // Ports of their own, so windows of parallel tests do not meet.
        ports.discoveryLocal = test::FreeUdpPort();
        ports.discoveryRemote = test::FreeUdpPort();
        OpenWindow(ports, runFormCreate);
    }

    void Click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }

    void ConnectTo(const QString &address)
    {
        form_->ComboBox1->setEditText(address);
        Click(form_->ConnectBtn);
    }

    bool WaitIdle()
    {
        return WaitUntil([] { return !Connected; });
    }

    static std::size_t FramesAt(const Device &device) { return device.Record().frames.size(); }

    const Device refusing_{{.refuse = true}};

    // The visible strips' names, in the strips' order.
    std::vector<std::string> VisibleStrips() const
    {
        std::vector<std::string> shown;
        for (auto *strip : form_->Strips())
            if (!strip->isHidden())
                shown.push_back(strip->objectName().toStdString());
        return shown;
    }

    struct StateSnapshot {
        QString caption, status;
        bool fieldEnabled, commandsEnabled, findEnabled, anyStrip;
    };
    StateSnapshot Snapshot() const
    {
        bool commands = true;
        for (auto *b : form_->CommandButtons())
            commands = commands && b->isEnabled();
        return {form_->ConnectBtn->text(),   form_->StatusText(),     form_->ComboBox1->isEnabled(), commands,
                form_->FindBtn->isEnabled(), !VisibleStrips().empty()};
    }
};

QWidget *WidgetOf(QWidget *window, const ControlSpec &control)
{
    const auto found = window->findChildren<QWidget *>(QLatin1String(control.name));
    return found.size() == 1 ? found.front() : nullptr;
}

QRect RectOf(const ControlSpec &control)
{
    return {control.left, control.top, control.width, control.height};
}

TEST_F(MainFormTest, WindowAndControlsSitWhereTheLayoutPutsThem)
{
    Create(false);
    EXPECT_EQ(form_->windowTitle(), "Lumacast2 For RK-DX420 Ver.1.00");
    EXPECT_EQ(form_->size(), QSize(WindowWidth, WindowHeight));
    EXPECT_EQ(form_->minimumSize(), form_->maximumSize());
    EXPECT_FALSE(form_->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form_->windowFlags() & Qt::WindowMinimizeButtonHint);

    QStringList created;
    for (QObject *child : form_->children())
        if (child->isWidgetType() && !child->objectName().isEmpty())
            created << child->objectName();
    QStringList listed;
    for (const ControlSpec &control : Controls)
        listed << QLatin1String(control.name);
    EXPECT_EQ(created.join(u' ').toStdString(), listed.join(u' ').toStdString())
        << "created in the table's order";

    for (const ControlSpec &control : Controls) {
        SCOPED_TRACE(control.name);
        QWidget *widget = WidgetOf(form_.get(), control);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), RectOf(control));
        EXPECT_TRUE(form_->rect().contains(widget->geometry()));
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty());
        if (control.kind == ControlKind::Strip)
            EXPECT_EQ(widget->accessibleDescription(), control.accessible);
        else if (control.kind == ControlKind::Label)
            EXPECT_EQ(accessible->text(QAccessible::Name), control.accessible);
        else
            EXPECT_EQ(widget->accessibleName(), control.accessible);
        if (control.kind == ControlKind::Button || control.kind == ControlKind::Label ||
            control.kind == ControlKind::AddressField) {
            EXPECT_EQ(widget->font().bold(), control.bold);
            EXPECT_EQ(widget->font().pixelSize(), 11);
        }
        if (auto *button = qobject_cast<QPushButton *>(widget); button != nullptr) {
            EXPECT_EQ(button->text(), control.caption);
        }
        if (auto *label = qobject_cast<QLabel *>(widget); label != nullptr) {
            EXPECT_EQ(label->text(), control.caption);
        }
    }
    for (const ControlSpec &a : Controls)
        for (const ControlSpec &b : Controls)
            if (&a != &b) {
                EXPECT_FALSE(RectOf(a).intersects(RectOf(b))) << a.name << " / " << b.name;
            }
}

TEST_F(MainFormTest, EveryCaptionFitsItsControl)
{
    Create(false);
    struct Row {
        QWidget *widget;
        QString caption;
        int margin; // a button's frame takes a few pixels on each side
    };
    std::vector<Row> rows = {
        {form_->ConnectBtn, "DISCONNECT", 4},
        {form_->ComboBox1->lineEdit(), "255.255.255.255", 2},
    };
    for (const ControlSpec &control : Controls)
        if (control.kind == ControlKind::Button || control.kind == ControlKind::Label)
            rows.push_back({WidgetOf(form_.get(), control), QString::fromUtf8(control.caption),
                            control.kind == ControlKind::Button ? 4 : 0});
    // Run again under display scales (see CMakeLists.txt): the layout scales as a whole.
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    EXPECT_DOUBLE_EQ(form_->devicePixelRatioF(), scale.isEmpty() ? 1.0 : scale.toDouble());
    for (const Row &row : rows) {
        const int width = row.widget->fontMetrics().horizontalAdvance(row.caption);
        EXPECT_LE(width, row.widget->width() - 2 * row.margin)
            << row.caption.toStdString() << " in " << row.widget->font().family().toStdString();
    }
}

TEST_F(MainFormTest, TabOrderFollowsTheLayout)
{
    Create(false);
    std::vector<QWidget *> expected;
    for (const ControlSpec &control : Controls) {
        if (control.focus == Focus::InTabOrder)
            expected.push_back(WidgetOf(form_.get(), control));
        else
            EXPECT_EQ(WidgetOf(form_.get(), control)->focusPolicy(), Qt::NoFocus) << control.name;
    }
    std::vector<QWidget *> chain;
    QWidget *w = expected.front();
    do {
        if (std::find(expected.begin(), expected.end(), w) != expected.end())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != expected.front() && chain.size() < expected.size());
    EXPECT_EQ(chain, expected);
    for (auto *strip : form_->Strips())
        EXPECT_EQ(strip->focusPolicy(), Qt::TabFocus);
}

TEST_F(MainFormTest, BeforeCreationHandlerTheControlsHoldTheirInitialState)
{
    Create(false);
    for (auto *strip : form_->Strips()) {
        EXPECT_FALSE(strip->isHidden());
        EXPECT_EQ(strip->Color(), Yellow);
    }
    for (auto *button : form_->CommandButtons())
        EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(form_->ComboBox1->currentText(), "ComboBox1");
    EXPECT_TRUE(form_->FindBtn->isEnabled());
    EXPECT_EQ(form_->StatusText(), "");
}

TEST_F(MainFormTest, IdleAsCreatedThenFindReturnsWhenTheDiscoveryWindowEnds)
{
    Create();
    auto s = Snapshot();
    EXPECT_EQ(s.caption, "CONNECT");
    EXPECT_EQ(s.status, "");
    EXPECT_TRUE(s.fieldEnabled);
    EXPECT_FALSE(s.commandsEnabled);
    EXPECT_FALSE(s.findEnabled);
    EXPECT_FALSE(s.anyStrip);
    EXPECT_EQ(form_->ComboBox1->currentText(), "");
    EXPECT_TRUE(Discovering);
    ExpireDiscovery();
    EXPECT_TRUE(form_->FindBtn->isEnabled());
    EXPECT_FALSE(Discovering);
}

TEST_F(MainFormTest, ConnectingConnectedStoppingAndIdleAgain)
{
    const Device device({.warmUp = 0ms});
    Create(true, &device);
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    form_->ComboBox1->setEditText(QStringLiteral("127.0.0.1"));
    form_->ConnectBtn->setFocus();
    const QAccessible::Id before =
        QAccessible::uniqueId(QAccessible::queryAccessibleInterface(form_->ConnectBtn));
    const Announcements log;
    QTest::keyClick(form_->ConnectBtn, Qt::Key_Return);
    // A focused button is renamed as a new accessible object, which a screen
    // reader presents as newly focused.
    EXPECT_NE(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(form_->ConnectBtn)), before);
    auto s = Snapshot(); // connecting: nothing has been served yet
    EXPECT_EQ(s.caption, "DISCONNECT");
    EXPECT_EQ(form_->ConnectBtn->accessibleName(), "Disconnect");
    EXPECT_EQ(s.status, "CONNECTING... [127.0.0.1]");
    EXPECT_FALSE(s.fieldEnabled);
    EXPECT_TRUE(s.commandsEnabled);
    EXPECT_FALSE(s.findEnabled);
    EXPECT_FALSE(s.anyStrip);
    EXPECT_TRUE(Connected);
    EXPECT_NE(ActivePoller, nullptr);

    for (auto *button : {form_->PowerOnBtn, form_->LampOnBtn, form_->MuteOnBtn, form_->InpSelBtn3})
        Click(button);
    ASSERT_TRUE(WaitUntil([&] { return !form_->PowerStatusPnl->isHidden(); }));
    EXPECT_EQ(form_->StatusText(), "CONNECTED [127.0.0.1]");
    EXPECT_EQ(
        VisibleStrips(),
        (std::vector<std::string>{"PowerStatusPnl", "LampStatusPnl", "MuteStatusPnl", "InpSelStatusPnl3"}));

    Click(form_->ConnectBtn); // stopping: nothing visible changes
    s = Snapshot();
    EXPECT_EQ(s.caption, "DISCONNECT");
    EXPECT_TRUE(s.commandsEnabled);
    EXPECT_TRUE(Connected);
    Click(form_->ConnectBtn); // again: no effect

    ASSERT_TRUE(WaitIdle());
    s = Snapshot();
    EXPECT_EQ(s.caption, "CONNECT");
    EXPECT_EQ(form_->ConnectBtn->accessibleName(), "Connect");
    EXPECT_EQ(s.status, "DISCONNECTED");
    EXPECT_TRUE(s.fieldEnabled);
    EXPECT_FALSE(s.commandsEnabled);
    EXPECT_TRUE(s.findEnabled);
    EXPECT_FALSE(s.anyStrip);
    EXPECT_EQ(ActivePoller, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return device.Record().endsOfStream == 1; }, 2s));
    EXPECT_EQ(form_->ComboBox1->currentText(), "127.0.0.1");

    // Each text once as it appears; the device's state once, for all its polls.
    EXPECT_EQ(log.said,
              (std::vector<QString>{"CONNECTING... [127.0.0.1]", "CONNECTED [127.0.0.1]",
                                    "Power: on, Lamp: on, Mute: on, Input 3", "DISCONNECTED"}));
}

TEST_F(MainFormTest, RefusedConnectionGoesStraightToDisconnectedWithoutABox)
{
    Create();
    std::vector<QString> seen;
    ConnectTo("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] {
        seen.push_back(form_->StatusText());
        return !Connected;
    }));
    EXPECT_EQ(form_->StatusText(), "DISCONNECTED");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "CONNECTED [127.0.0.1]"), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(Snapshot().anyStrip);
}

TEST_F(MainFormTest, PressesBeforeAFrameRideTheFirstFrameOnce)
{
    // The controls start enabled, so commands can be pressed before any connection.
    const Device device;
    Create(false, &device);
    Click(form_->PowerOnBtn);
    Click(form_->PowerOffBtn); // last press in a slot wins
    Click(form_->LampOnBtn);
    Click(form_->MuteOffBtn);
    Click(form_->InpSelBtn2);
    Click(form_->InpSelBtn4);
    Click(form_->InpSelBtn4); // twice: carried once
    ConnectTo("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 2; }));
    EXPECT_EQ(device.Record().frames[0].bytes, "@C10104 \r");
    EXPECT_EQ(device.Record().frames[1].bytes, "@C1     \r");
}

TEST_F(MainFormTest, PressWhileStoppingIsCarriedByTheNextConnection)
{
    const Device device({.silent = true}); // the poller waits for a reply and builds nothing
    Create(true, &device);
    ConnectTo("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 1; }));
    Click(form_->ConnectBtn);
    Click(form_->InpSelBtn5);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(form_->Pending().InpSelCmd, '5');
    Click(form_->ConnectBtn);
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 2; }));
    EXPECT_EQ(device.Record().frames[1].bytes, "@C1   5 \r");
}

struct StatusRow : test::Row {
    std::vector<std::string> replies; // applied in order; the last one is checked
    std::vector<std::string> shown; // the visible strips
    QColor power;
};

class ShowStatusTest : public MainFormTest, public testing::WithParamInterface<StatusRow> { };

TEST_P(ShowStatusTest, StripsFollowTheLastStatus)
{
    Create();
    for (const auto &r : GetParam().replies)
        form_->ShowDeviceStatus({r[0], r[1], r[2], r[3]});
    EXPECT_EQ(VisibleStrips(), GetParam().shown);
    if (!form_->PowerStatusPnl->isHidden()) {
        EXPECT_EQ(form_->PowerStatusPnl->Color(), GetParam().power);
    }
    for (auto *strip : form_->Strips()) {
        if (!strip->isHidden() && strip != form_->PowerStatusPnl) {
            EXPECT_EQ(strip->Color(), Orange);
        }
    }
}

const std::string LastInput(1, static_cast<char>('0' + InputCount));
const std::string PastTheLastInput(1, static_cast<char>('1' + InputCount));

INSTANTIATE_TEST_SUITE_P(
    Table, ShowStatusTest,
    testing::Values(
        StatusRow{"PowerOne", {"1000"}, {"PowerStatusPnl"}, Orange},
        StatusRow{"PowerTwo", {"2000"}, {"PowerStatusPnl"}, Blue},
        StatusRow{"PowerZeroThenTwo", {"0000", "2000"}, {"PowerStatusPnl"}, Blue},
        StatusRow{"PowerOneThenZero", {"1000", "0000"}, {}, {}},
        StatusRow{"LampAndMuteTwoAreHidden", {"0220"}, {}, {}},
        StatusRow{"LampAndMuteOne", {"0110"}, {"LampStatusPnl", "MuteStatusPnl"}, {}},
        StatusRow{"InputThreeThenLast",
                  {"0003", "000" + LastInput},
                  {InputControlName(InputStripPrefix, InputCount)},
                  {}},
        StatusRow{"InputZero", {"0003", "0000"}, {}, {}}, StatusRow{"InputSpace", {"000 "}, {}, {}},
        StatusRow{"InputPastTheLast", {"0003", "000" + PastTheLastInput}, {}, {}},
        StatusRow{"QuestionMarkPower", {"?111"}, {"LampStatusPnl", "MuteStatusPnl", "InpSelStatusPnl1"}, {}}),
    test::RowName());

TEST_F(MainFormTest, AnUnchangedStatusRepaintsNothing)
{
    Create();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    struct Counter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            paints += e->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } strips, sentinel;
    for (auto *strip : form_->Strips())
        strip->installEventFilter(&strips);
    form_->Label1->installEventFilter(&sentinel);
    form_->ShowDeviceStatus({'1', '1', '0', '3'});
    ASSERT_TRUE(WaitUntil([&] { return strips.paints > 0; }));
    strips.paints = 0;
    form_->ShowDeviceStatus({'1', '1', '0', '3'});
    // Repaints of one window go out together: one the status asked for
    // comes no later than the label's asked for after it.
    form_->Label1->update();
    ASSERT_TRUE(WaitUntil([&] { return sentinel.paints > 0; }));
    EXPECT_EQ(strips.paints, 0);
}

TEST_F(MainFormTest, AScreenReaderReadsWhatTheWindowShows)
{
    Create();
    form_->SetStatusText(QStringLiteral("CONNECTED [10.0.0.1]"));
    struct Row {
        QWidget *widget;
        QAccessible::Role role;
        QString name;
    };
    const Row rows[] = {
        {form_.get(), QAccessible::Window, "Lumacast2 For RK-DX420 Ver.1.00"},
        {form_->PowerStatusPnl, QAccessible::StaticText, "Power: not known"},
        {form_->StatusBar1, QAccessible::StatusBar, "CONNECTED [10.0.0.1]"},
        {form_->ConnectBtn, QAccessible::Button, "Connect"},
    };
    for (const Row &row : rows) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(row.widget);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), row.role) << row.name.toStdString();
        EXPECT_EQ(iface->text(QAccessible::Name), row.name);
    }
    EXPECT_EQ(form_->Label1->buddy(), form_->ComboBox1);
}

// Each item's state, off included, is read on demand from its command
// buttons and named by its strips, and only as a reply gave it.
TEST_F(MainFormTest, TheStateIsReadOnDemandAndOnlyAsAReplyGaveIt)
{
    Create(false); // the resource state: every strip shows, in yellow
    const auto expect = [this](const char *when, const StateWords &words) {
        SCOPED_TRACE(when);
        const std::pair<std::vector<QWidget *>, QString> items[] = {
            {{form_->PowerOnBtn, form_->PowerOffBtn}, words.power},
            {{form_->LampOnBtn, form_->LampOffBtn}, words.lamp},
            {{form_->MuteOnBtn, form_->MuteOffBtn}, words.mute},
            {{form_->inputButtons.begin(), form_->inputButtons.end()}, words.input},
        };
        for (const auto &[buttons, text] : items)
            for (QWidget *button : buttons)
                EXPECT_EQ(button->accessibleDescription(), text) << button->objectName().toStdString();
        const std::vector<std::pair<QWidget *, QString>> strips = {
            {form_->PowerStatusPnl, words.power},     {form_->LampStatusPnl, words.lamp},
            {form_->MuteStatusPnl, words.mute},       {form_->inputStrips.front(), words.input},
            {form_->inputStrips.back(), words.input},
        };
        for (const auto &[strip, text] : strips)
            EXPECT_EQ(QAccessible::queryAccessibleInterface(strip)->text(QAccessible::Name), text);
    };
    const StateWords unknown{"Power: not known", "Lamp: not known", "Mute: not known", "Input: not known"};
    expect("before any reply", unknown);
    form_->ShowDeviceStatus({'2', '0', '1', '4'});
    expect("after a reply", {"Power: changing", "Lamp: off", "Mute: on", "Input 4"});
    form_->ShowDeviceStatus({'0', '1', '0', '0'});
    expect("after the next", {"Power: off", "Lamp: on", "Mute: off", "No input selected"});
    ConnectTo("127.0.0.1"); // refused: the connection ends at once
    ASSERT_TRUE(WaitIdle());
    expect("after the connection", unknown);
}

struct SpokenRow : test::Row {
    std::vector<std::string> replies;
    std::vector<QString> said;
};

class SpokenChangeTest : public MainFormTest, public testing::WithParamInterface<SpokenRow> { };

TEST_P(SpokenChangeTest, AChangeIsSaidOnceAsTheReplyBringsIt)
{
    Create();
    const Announcements log;
    for (const auto &r : GetParam().replies)
        form_->ShowDeviceStatus({r[0], r[1], r[2], r[3]});
    EXPECT_EQ(log.said, GetParam().said);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpokenChangeTest,
    testing::Values(
        SpokenRow{"TheFirstReplyTellsEveryItem", {"0001"}, {"Power: off, Lamp: off, Mute: off, Input 1"}},
        SpokenRow{"ARepeatedReplySaysNothing",
                  {"1113", "1113", "1113"},
                  {"Power: on, Lamp: on, Mute: on, Input 3"}},
        SpokenRow{"PowerChangingThenOn",
                  {"0001", "2001", "1001"},
                  {"Power: off, Lamp: off, Mute: off, Input 1", "Power: changing", "Power: on"}},
        SpokenRow{"OnlyTheItemsThatChanged",
                  {"1113", "1003", "1005"},
                  {"Power: on, Lamp: on, Mute: on, Input 3", "Lamp: off, Mute: off", "Input 5"}},
        SpokenRow{"NoInputSelected",
                  {"0003", "0000"},
                  {"Power: off, Lamp: off, Mute: off, Input 3", "No input selected"}},
        SpokenRow{"OtherBytesOfTheSameMeaningSayNothing",
                  {"0000", "?2 " + PastTheLastInput},
                  {"Power: off, Lamp: off, Mute: off, No input selected"}}),
    test::RowName());

struct KeyRow : test::Row {
    const char *control;
    Qt::Key key;
    PendingCommands pending;
};

class KeyPressTest : public MainFormTest, public testing::WithParamInterface<KeyRow> { };

TEST_P(KeyPressTest, ReturnAndEnterPressTheFocusedButton)
{
    Create(false); // the resource state: the command buttons are enabled
    QWidget *control = form_->findChild<QWidget *>(QLatin1String(GetParam().control));
    QTest::keyClick(control, GetParam().key);
    const PendingCommands &pending = form_->Pending();
    EXPECT_EQ(pending.PowerCmd, GetParam().pending.PowerCmd);
    EXPECT_EQ(pending.LampCmd, GetParam().pending.LampCmd);
    EXPECT_EQ(pending.InpSelCmd, GetParam().pending.InpSelCmd);
    EXPECT_FALSE(Connected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeyPressTest,
    testing::Values(KeyRow{"Return", "PowerOnBtn", Qt::Key_Return, {'1', 0, 0, 0}},
                    KeyRow{"Enter", "LampOffBtn", Qt::Key_Enter, {0, '0', 0, 0}},
                    KeyRow{"Space", "InpSelBtn3", Qt::Key_Space, {0, 0, 0, '3'}},
                    // The field keeps its own Return: it neither connects nor presses a button.
                    KeyRow{"ReturnInTheAddressField", "ComboBox1", Qt::Key_Return, {0, 0, 0, 0}}),
    test::RowName());

TEST_F(MainFormTest, RejectedAddressShowsTheBoxAndStartsNothing)
{
    Create();
    const test::ModalBoxes boxes;
    ConnectTo("0x1g");
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, "CHECK IP ADDRESS!!");
    EXPECT_FALSE(Connected);
    EXPECT_EQ(ActivePoller, nullptr);
    EXPECT_EQ(form_->ConnectBtn->text(), "CONNECT");
    EXPECT_EQ(form_->ComboBox1->currentText(), "0x1g");
}

TEST_F(MainFormTest, DisconnectWhileConnectingWaitsForTheAttempt)
{
    const Device device({.stall = true});
    Create(true, &device);
    ConnectTo("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return test::ConnectPending(device.Port()); }));
    Click(form_->ConnectBtn);
    // Nothing marks a stop request that is being ignored: only time tells.
    QTest::qWait(100);
    EXPECT_TRUE(test::ConnectPending(device.Port()));
    EXPECT_EQ(form_->StatusText(), "CONNECTING... [127.0.0.1]");
    EXPECT_EQ(form_->ConnectBtn->text(), "DISCONNECT");
    EXPECT_TRUE(Connected);
    ActivePoller->AbortConnect(); // stands in for the system giving up
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(form_->StatusText(), "DISCONNECTED");
}

TEST_F(MainFormTest, EndOfProgramClosesTheConnectionInOrderAndPromptly)
{
    const Device device;
    Create(true, &device);
    ConnectTo("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 2; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(EndPolling(*form_));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_TRUE(WaitUntil([&] { return device.Record().endsOfStream == 1; }, 1s));
    // The window was never touched after the cut-off.
    EXPECT_EQ(form_->StatusText(), "CONNECTED [127.0.0.1]");
}

} // namespace

#include "ui/Main.h"

#include "discovery/DiscoveryRequest.h"
#include "link/AddressValidation.h"
#include "platform/HandOff.h"
#include "ui/AddressComboBox.h"
#include "ui/AddressEntry.h"
#include "ui/Handler.h"
#include "ui/IndicatorStrip.h"
#include "ui/Layout.h"
#include "ui/ScreenReader.h"
#include "ui/SpokenState.h"
#include "ui/WindowText.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace lumacast {

TMainForm *MainForm = nullptr;
bool Connected = false;
TPollingThread *ActivePoller = nullptr;
bool Discovering = false;

namespace {

const QColor StripOn(255, 96, 0);
const QColor PowerSecond(0, 128, 255);

QFont WindowFont(bool bold)
{
    // Where Tahoma is missing, a face of like width, so "IP Address:" and "DISCONNECT"
    // still fit their controls; DejaVu Sans, the usual default, is wider.
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                    QStringLiteral("DejaVu Sans Condensed")});
        return true;
    }();
    Q_UNUSED(substituted);
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    font.setBold(bold);
    return font;
}

// Gives a control what the layout table holds for it.
template <class Widget> Widget *Place(Widget *widget, const ControlSpec &control)
{
    widget->setObjectName(QLatin1String(control.name));
    widget->setGeometry(control.left, control.top, control.width, control.height);
    const QString accessible = QString::fromUtf8(control.accessible);
    switch (control.kind) {
    case ControlKind::Label:
        // A label is read by its text.
        widget->setFont(WindowFont(control.bold));
        break;
    case ControlKind::Strip:
        widget->setAccessibleDescription(accessible);
        break;
    case ControlKind::StatusBar:
        widget->setFont(QApplication::font(widget));
        widget->setAccessibleName(accessible);
        // The name follows the status text; the description stays.
        widget->setAccessibleDescription(accessible);
        break;
    case ControlKind::Button:
    case ControlKind::AddressField:
        widget->setFont(WindowFont(control.bold));
        widget->setAccessibleName(accessible);
        break;
    }
    return widget;
}

QWidget *MakeControl(QWidget *parent, const ControlSpec &control)
{
    const QString caption = QString::fromUtf8(control.caption);
    switch (control.kind) {
    case ControlKind::Label:
        return Place(new QLabel(caption, parent), control);
    case ControlKind::Button: {
        auto *button = new QPushButton(caption, parent);
        button->setAutoDefault(false);
        return Place(button, control);
    }
    case ControlKind::AddressField: {
        auto *field = Place(new AddressComboBox(parent), control);
        field->setEditText(caption);
        return field;
    }
    case ControlKind::StatusBar:
        return Place(new QStatusBar(parent), control);
    case ControlKind::Strip:
        return Place(new IndicatorStrip(parent), control);
    }
    std::abort();
}

// The control of that name; the program stops on a name missing from the
// table, which is a fault of the code.
template <class Widget> Widget *ControlOf(const QWidget *form, std::string_view name)
{
    auto *widget = form->findChild<Widget *>(QLatin1String(name.data(), static_cast<qsizetype>(name.size())),
                                             Qt::FindDirectChildrenOnly);
    if (widget == nullptr)
        std::abort();
    return widget;
}

QAccessibleInterface *PanelAccessible(const QString &key, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget == nullptr)
        return nullptr;
    // Without these, a plain widget is a "filler" to a screen reader.
    if (key == QLatin1String(TMainForm::staticMetaObject.className()))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (key == QLatin1String(IndicatorStrip::staticMetaObject.className()))
        return new QAccessibleWidget(widget, QAccessible::StaticText);
    if (key == QLatin1String(Announcement::staticMetaObject.className()))
        return new QAccessibleWidget(widget, QAccessible::Notification);
    return nullptr;
}

// Return and Enter press the focused button, as Space does. The buttons are
// not auto-default, which would do the same but draw the focused one framed
// as the window's default button.
class ReturnPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if (!key->isAutoRepeat())
            static_cast<QPushButton *>(watched)->click();
        return true;
    }
};

void SetNameIfChanged(QWidget *widget, const QString &name)
{
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
}

void SetDescriptionIfChanged(QWidget *widget, const QString &description)
{
    if (widget->accessibleDescription() != description)
        widget->setAccessibleDescription(description);
}

} // namespace

TMainForm::TMainForm(const PanelPorts &ports, QWidget *parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                  Qt::MSWindowsFixedSizeDialogHint),
      ports_(ports)
{
    static const bool rolesInstalled = [] {
        QAccessible::installFactory(PanelAccessible);
        return true;
    }();
    Q_UNUSED(rolesInstalled);
    handOffs_->Watch();
    setWindowTitle(QString::fromUtf8(WindowTitle));
    setFixedSize(WindowWidth, WindowHeight);
    setFont(WindowFont(false));

    // In the table's order, which is the order they are stacked in.
    for (const ControlSpec &row : Controls)
        MakeControl(this, row);
    Label1 = ControlOf<QLabel>(this, "Label1");
    PowerOnBtn = ControlOf<QPushButton>(this, "PowerOnBtn");
    LampOnBtn = ControlOf<QPushButton>(this, "LampOnBtn");
    MuteOnBtn = ControlOf<QPushButton>(this, "MuteOnBtn");
    ConnectBtn = ControlOf<QPushButton>(this, "ConnectBtn");
    ComboBox1 = ControlOf<AddressComboBox>(this, "ComboBox1");
    StatusBar1 = ControlOf<QStatusBar>(this, "StatusBar1");
    FindBtn = ControlOf<QPushButton>(this, "FindBtn");
    PowerStatusPnl = ControlOf<IndicatorStrip>(this, "PowerStatusPnl");
    LampStatusPnl = ControlOf<IndicatorStrip>(this, "LampStatusPnl");
    MuteStatusPnl = ControlOf<IndicatorStrip>(this, "MuteStatusPnl");
    PowerOffBtn = ControlOf<QPushButton>(this, "PowerOffBtn");
    LampOffBtn = ControlOf<QPushButton>(this, "LampOffBtn");
    MuteOffBtn = ControlOf<QPushButton>(this, "MuteOffBtn");
    for (int i = 0; i < InputCount; ++i) {
        inputButtons[i] = ControlOf<QPushButton>(this, InputControlName(InputButtonPrefix, i + 1));
        inputStrips[i] = ControlOf<IndicatorStrip>(this, InputControlName(InputStripPrefix, i + 1));
    }
    // Named by its label too: screen readers follow the buddy relation.
    Label1->setBuddy(ComboBox1);
    StatusBar1->setSizeGripEnabled(false);
    // A permanent label: hints and tool tips cannot overwrite it.
    statusLabel_ = new QLabel(StatusBar1);
    statusLabel_->setFont(QApplication::font(StatusBar1));
    StatusBar1->addPermanentWidget(statusLabel_, 1);
    announcer_ = new Announcer(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the discovery window must not be shorter.
    Timer1->setTimerType(Qt::PreciseTimer);
    startTimer_ = [](QTimer &timer) {
        timer.start();
        return timer.isActive();
    };

    DescribeDeviceState();
    auto *returnPresses = new ReturnPresses(this);
    for (QPushButton *button : findChildren<QPushButton *>(Qt::FindDirectChildrenOnly))
        button->installEventFilter(returnPresses);

    Label1->setFocusPolicy(Qt::NoFocus);
    StatusBar1->setFocusPolicy(Qt::NoFocus);
    std::vector<std::pair<int, QWidget *>> tabOrder;
    for (const ControlSpec &control : Controls)
        if (control.tabPosition >= 0)
            tabOrder.emplace_back(control.tabPosition, findChild<QWidget *>(QLatin1String(control.name)));
    std::sort(tabOrder.begin(), tabOrder.end());
    for (std::size_t i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);

    // Every handler's error reaches the event loop without unwinding the toolkit.
    const auto handler = [this](void (TMainForm::*run)()) {
        return Handler([this, run] { (this->*run)(); });
    };
    connect(ConnectBtn, &QPushButton::clicked, this, handler(&TMainForm::ConnectBtnClick));
    connect(PowerOnBtn, &QPushButton::clicked, this, handler(&TMainForm::PowerOnBtnClick));
    connect(PowerOffBtn, &QPushButton::clicked, this, handler(&TMainForm::PowerOffBtnClick));
    connect(LampOnBtn, &QPushButton::clicked, this, handler(&TMainForm::LampOnBtnClick));
    connect(LampOffBtn, &QPushButton::clicked, this, handler(&TMainForm::LampOffBtnClick));
    connect(MuteOnBtn, &QPushButton::clicked, this, handler(&TMainForm::MuteOnBtnClick));
    connect(MuteOffBtn, &QPushButton::clicked, this, handler(&TMainForm::MuteOffBtnClick));
    for (int i = 0; i < InputCount; ++i)
        connect(inputButtons[i], &QPushButton::clicked, this, Handler([this, i] { InpSelBtnClick(i + 1); }));
    connect(FindBtn, &QPushButton::clicked, this, handler(&TMainForm::FindBtnClick));
    connect(Timer1, &QTimer::timeout, this, handler(&TMainForm::Timer1Timer));
    IdUDPServer1.onRead = [this](UdpListenerThread *, const std::vector<std::uint8_t> &,
                                 SocketBinding &binding) {
        IdUDPServer1UDPRead(QString::fromStdString(binding.peerIp));
    };
}

TMainForm::~TMainForm()
{
    // A window destroyed without FormDestroy must still not leave a
    // listener running into its handler.
    IdUDPServer1.SetActive(false);
}

std::vector<QPushButton *> TMainForm::CommandButtons() const
{
    std::vector<QPushButton *> buttons{PowerOnBtn, PowerOffBtn, LampOnBtn, LampOffBtn, MuteOnBtn, MuteOffBtn};
    for (QPushButton *button : inputButtons)
        buttons.push_back(button);
    return buttons;
}

std::vector<IndicatorStrip *> TMainForm::Strips() const
{
    std::vector<IndicatorStrip *> strips{PowerStatusPnl, LampStatusPnl, MuteStatusPnl};
    for (IndicatorStrip *strip : inputStrips)
        strips.push_back(strip);
    return strips;
}

void TMainForm::SetCommandButtonsEnabled(bool enabled)
{
    for (QPushButton *button : CommandButtons())
        button->setEnabled(enabled);
}

void TMainForm::HideStrips()
{
    for (IndicatorStrip *strip : Strips())
        strip->setVisible(false);
}

void TMainForm::showEvent(QShowEvent *event)
{
    if (!centred_) {
        centred_ = true;
        if (QScreen *screen = this->screen())
            move(screen->geometry().center() - rect().center());
    }
    QWidget::showEvent(event);
}

void TMainForm::FormCreate()
{
    IdUDPServer1.SetPort(ports_.discoveryLocal);
    IdUDPServer1.SetBroadcastEnabled(true);
    IdUDPServer1.SetActive(true);
    FindBtn->setVisible(true);
    HideStrips();
    SetCommandButtonsEnabled(false);
    StartDiscovery();
}

void TMainForm::FormDestroy()
{
    IdUDPServer1.SetActive(false);
}

void TMainForm::StartDiscovery()
{
    ComboBox1->clear();
    ComboBox1->setEditText(QString());
    FindBtn->setEnabled(false);
    Discovering = true;
    Timer1->stop();
    Timer1->setInterval(DiscoveryWindowMs);
    // Without its expiry the discovery would never end: send nothing, and
    // leave FIND to the next connection's end.
    if (!startTimer_(*Timer1))
        throw std::runtime_error(TimerUnavailableText);
    IdUDPServer1.Broadcast(DiscoveryRequest(), ports_.discoveryRemote);
}

void TMainForm::FindBtnClick()
{
    StartDiscovery();
}

void TMainForm::Timer1Timer()
{
    Timer1->stop();
    Discovering = false;
    if (!Connected)
        FindBtn->setEnabled(true);
}

void TMainForm::IdUDPServer1UDPRead(const QString &senderAddress)
{
    if (!Discovering)
        return;
    ComboBox1->setEditText(senderAddress);
    ComboBox1->addItem(senderAddress);
}

void TMainForm::ConnectBtnClick()
{
    if (Connected) {
        if (ActivePoller != nullptr)
            ActivePoller->RequestStop();
        return;
    }

    const QString address = ComboBox1->currentText();
    if (!IsValidAddress(address)) {
        ShowAddressRejection(this, ComboBox1);
        return;
    }

    auto *poller = new TPollingThread(address, ports_.device, *this, handOffs_);
    poller->SetEndNotification([this](WorkerThread *sender) { PollerEnded(sender); });
    poller->SetReleaseOnEnd(true);
    try {
        poller->Start();
    } catch (...) {
        delete poller;
        throw;
    }
    ActivePoller = poller;
    // Its name follows the caption.
    RenameButton(*ConnectBtn, QString::fromUtf8(DisconnectCaption), QString::fromUtf8(DisconnectName));
    SetStatusText(ConnectingText(address));
    Connected = true;
    ComboBox1->setEnabled(false);
    SetCommandButtonsEnabled(true);
    FindBtn->setEnabled(false);
}

void TMainForm::PollerEnded(WorkerThread *)
{
    const ControlSpec &connect = Control("ConnectBtn");
    RenameButton(*ConnectBtn, QString::fromUtf8(connect.caption), QString::fromUtf8(connect.accessible));
    Connected = false;
    ComboBox1->setEnabled(true);
    ActivePoller = nullptr;
    SetStatusText(QString::fromUtf8(DisconnectedText));
    HideStrips();
    SetCommandButtonsEnabled(false);
    FindBtn->setEnabled(true);
    // The strips no longer show the device: what it reported is not known now.
    shownState_.reset();
    DescribeDeviceState();
}

void TMainForm::PowerOnBtnClick()
{
    commands_.PowerCmd = '1';
}
void TMainForm::PowerOffBtnClick()
{
    commands_.PowerCmd = '0';
}
void TMainForm::LampOnBtnClick()
{
    commands_.LampCmd = '1';
}
void TMainForm::LampOffBtnClick()
{
    commands_.LampCmd = '0';
}
void TMainForm::MuteOnBtnClick()
{
    commands_.MuteCmd = '1';
}
void TMainForm::MuteOffBtnClick()
{
    commands_.MuteCmd = '0';
}
void TMainForm::InpSelBtnClick(int input)
{
    commands_.InpSelCmd = static_cast<char>('0' + input);
}

void TMainForm::ShowConnectedTo(const QString &address)
{
    SetStatusText(ConnectedText(address));
}

void TMainForm::SetStatusText(const QString &text)
{
    statusLabel_->setText(text);
    StatusBar1->setAccessibleName(text.isEmpty() ? QString::fromUtf8(Control("StatusBar1").accessible)
                                                 : text);
    announcer_->Say(text);
}

QString TMainForm::StatusText() const
{
    return statusLabel_->text();
}

void TMainForm::ShowDeviceStatus(const DeviceStatusChars &status)
{
    const DeviceState state = ReadDeviceState(status);
    switch (state.power) {
    case PowerState::On:
        PowerStatusPnl->SetColor(StripOn);
        PowerStatusPnl->setVisible(true);
        break;
    case PowerState::Changing:
        PowerStatusPnl->SetColor(PowerSecond);
        PowerStatusPnl->setVisible(true);
        break;
    case PowerState::Off:
        PowerStatusPnl->setVisible(false);
        break;
    }

    if (state.lamp)
        LampStatusPnl->SetColor(StripOn);
    LampStatusPnl->setVisible(state.lamp);

    if (state.mute)
        MuteStatusPnl->SetColor(StripOn);
    MuteStatusPnl->setVisible(state.mute);

    const auto inputs = inputStrips;
    if (state.input != 0)
        inputs[state.input - 1]->SetColor(StripOn);
    for (int i = 0; i < InputCount; ++i)
        inputs[i]->setVisible(i + 1 == state.input);

    // Spoken once per change, never for a reply that only repeats the last.
    if (state != shownState_) {
        announcer_->Say(ChangeWords(shownState_, state));
        shownState_ = state;
        DescribeDeviceState();
    }
}

void TMainForm::DescribeDeviceState()
{
    // The command buttons carry the state of their item, so each state can be
    // read on demand, off included, which hides its strip.
    const StateWords words = WordsFor(shownState_);
    for (QPushButton *button : {PowerOnBtn, PowerOffBtn})
        SetDescriptionIfChanged(button, words.power);
    for (QPushButton *button : {LampOnBtn, LampOffBtn})
        SetDescriptionIfChanged(button, words.lamp);
    for (QPushButton *button : {MuteOnBtn, MuteOffBtn})
        SetDescriptionIfChanged(button, words.mute);
    for (QPushButton *button : inputButtons)
        SetDescriptionIfChanged(button, words.input);
    SetNameIfChanged(PowerStatusPnl, words.power);
    SetNameIfChanged(LampStatusPnl, words.lamp);
    SetNameIfChanged(MuteStatusPnl, words.mute);
    for (IndicatorStrip *strip : inputStrips)
        SetNameIfChanged(strip, words.input);
}

bool EndPolling(TMainForm &form, std::chrono::milliseconds limit)
{
    if (ActivePoller != nullptr) {
        ActivePoller->RequestStop();
        ActivePoller->AbortConnect();
    }
    form.HandOffs().CutOff();
    const bool ended = form.HandOffs().WaitForAllEnded(limit);
    // The end notification could not run after the cut-off.
    ActivePoller = nullptr;
    Connected = false;
    return ended;
}

} // namespace lumacast

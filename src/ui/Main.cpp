#include "ui/Main.h"

#include "discovery/DiscoveryRequest.h"
#include "link/AddressValidation.h"
#include "platform/HandOff.h"
#include "ui/AddressComboBox.h"
#include "ui/AddressEntry.h"
#include "ui/IndicatorStrip.h"
#include "ui/Layout.h"
#include "ui/ScreenReader.h"
#include "ui/SpokenState.h"
#include "ui/WindowText.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <stdexcept>
#include <vector>

namespace lumacast {

TMainForm *MainForm = nullptr;
bool Connected = false;
TPollingThread *ActivePoller = nullptr;
bool Discovering = false;

namespace {

const QColor StripOn(255, 96, 0);
const QColor PowerSecond(0, 128, 255);

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
    Build();
    handOffs_->Watch();
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

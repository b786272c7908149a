#include "ui/Main.h"

#include "ProgramInfo.h"
#include "discovery/DiscoveryRequest.h"
#include "platform/HandOff.h"
#include "ui/AddressEntry.h"
#include "ui/AddressValidation.h"
#include "ui/IndicatorStrip.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <stdexcept>

namespace lumacast {

TMainForm *MainForm = nullptr;
bool Connected = false;
TPollingThread *ActivePoller = nullptr;
bool Discovering = false;

namespace {

const QColor StripOn(255, 96, 0);
const QColor PowerSecond(0, 128, 255);

QFont windowFont(bool bold)
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

QPushButton *makeButton(QWidget *parent, const QString &caption, const QString &accessible, int left, int top,
                        int width, int height)
{
    auto *button = new QPushButton(caption, parent);
    button->setGeometry(left, top, width, height);
    button->setFont(windowFont(true));
    button->setAutoDefault(false);
    button->setAccessibleName(accessible);
    return button;
}

TIndicatorStrip *makeStrip(QWidget *parent, const QString &meaning, int left, int top)
{
    auto *strip = new TIndicatorStrip(parent);
    strip->setGeometry(left, top, 79, 4);
    strip->setAccessibleDescription(meaning);
    return strip;
}

QAccessibleInterface *panelAccessible(const QString &key, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget == nullptr)
        return nullptr;
    // Without these, a plain widget is a "filler" to a screen reader.
    if (key == QLatin1String(TMainForm::staticMetaObject.className()))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (key == QLatin1String(TIndicatorStrip::staticMetaObject.className()))
        return new QAccessibleWidget(widget, QAccessible::StaticText);
    return nullptr;
}

// The accessible name of the connect button, following its caption.
QString connectName(bool connected)
{
    return connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect");
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
        QAccessible::installFactory(panelAccessible);
        return true;
    }();
    Q_UNUSED(rolesInstalled);
    setWindowTitle(QStringLiteral("Lumacast2 For RK-DX420 Ver." LC_CAPTION_VERSION));
    setFixedSize(434, 182);
    setFont(windowFont(false));

    Label1 = new QLabel(QStringLiteral("IP Address:"), this);
    Label1->setGeometry(9, 19, 64, 13);
    Label1->setFont(windowFont(true));

    PowerOnBtn = makeButton(this, QStringLiteral("POWER ON "), QStringLiteral("Power on"), 6, 56, 79, 25);
    LampOnBtn = makeButton(this, QStringLiteral("LAMP ON "), QStringLiteral("Lamp on"), 88, 56, 79, 25);
    MuteOnBtn = makeButton(this, QStringLiteral("MUTE ON "), QStringLiteral("Mute on"), 170, 56, 79, 25);
    InpSelBtn1 = makeButton(this, QStringLiteral("1"), QStringLiteral("Input 1"), 6, 126, 79, 25);
    InpSelBtn2 = makeButton(this, QStringLiteral("2"), QStringLiteral("Input 2"), 88, 126, 79, 25);
    InpSelBtn3 = makeButton(this, QStringLiteral("3"), QStringLiteral("Input 3"), 170, 126, 79, 25);
    InpSelBtn4 = makeButton(this, QStringLiteral("4"), QStringLiteral("Input 4"), 252, 126, 79, 25);
    ConnectBtn = makeButton(this, QStringLiteral("CONNECT"), connectName(false), 330, 14, 83, 25);

    ComboBox1 = new TAddressComboBox(this);
    ComboBox1->setGeometry(86, 16, 163, 21);
    ComboBox1->setFont(windowFont(true));
    ComboBox1->setEditText(QStringLiteral("ComboBox1"));
    // Named by its label: screen readers follow the buddy relation, and the
    // name serves where they read the name alone.
    Label1->setBuddy(ComboBox1);
    ComboBox1->setAccessibleName(Label1->text());

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setGeometry(0, 163, 434, 19);
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFont(QApplication::font(StatusBar1));
    // The status bar carries the status text as its name, so each change
    // reaches a screen reader as a name change of a status bar.
    StatusBar1->setAccessibleName(QStringLiteral("Connection"));
    StatusBar1->setAccessibleDescription(QStringLiteral("Connection"));
    // A permanent label: hints and tool tips cannot overwrite it.
    statusLabel_ = new QLabel(StatusBar1);
    statusLabel_->setFont(QApplication::font(StatusBar1));
    StatusBar1->addPermanentWidget(statusLabel_, 1);

    FindBtn = makeButton(this, QStringLiteral("FIND"), QStringLiteral("Find devices"), 259, 14, 63, 25);
    PowerStatusPnl = makeStrip(this, QStringLiteral("Power status"), 6, 51);
    InpSelBtn5 = makeButton(this, QStringLiteral("5"), QStringLiteral("Input 5"), 334, 126, 79, 25);
    LampStatusPnl = makeStrip(this, QStringLiteral("Lamp status"), 88, 51);
    MuteStatusPnl = makeStrip(this, QStringLiteral("Mute status"), 170, 51);
    InpSelStatusPnl1 = makeStrip(this, QStringLiteral("Input 1 status"), 6, 121);
    InpSelStatusPnl2 = makeStrip(this, QStringLiteral("Input 2 status"), 88, 121);
    InpSelStatusPnl3 = makeStrip(this, QStringLiteral("Input 3 status"), 170, 121);
    InpSelStatusPnl4 = makeStrip(this, QStringLiteral("Input 4 status"), 252, 121);
    InpSelStatusPnl5 = makeStrip(this, QStringLiteral("Input 5 status"), 334, 121);
    PowerOffBtn = makeButton(this, QStringLiteral("POWER OFF"), QStringLiteral("Power off"), 6, 84, 79, 25);
    LampOffBtn = makeButton(this, QStringLiteral("LAMP OFF"), QStringLiteral("Lamp off"), 88, 84, 79, 25);
    MuteOffBtn = makeButton(this, QStringLiteral("MUTE OFF"), QStringLiteral("Mute off"), 170, 84, 79, 25);

    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the discovery window must not be shorter.
    Timer1->setTimerType(Qt::PreciseTimer);
    startTimer_ = [](QTimer &timer) {
        timer.start();
        return timer.isActive();
    };

    PowerStatusPnl->setStateTexts(QStringLiteral("Power: on"), QStringLiteral("Power: off"));
    LampStatusPnl->setStateTexts(QStringLiteral("Lamp: on"), QStringLiteral("Lamp: off"));
    MuteStatusPnl->setStateTexts(QStringLiteral("Mute: on"), QStringLiteral("Mute: off"));
    const std::array inputs{InpSelStatusPnl1, InpSelStatusPnl2, InpSelStatusPnl3, InpSelStatusPnl4,
                            InpSelStatusPnl5};
    for (int i = 0; i < 5; ++i)
        inputs[i]->setStateTexts(QStringLiteral("Input %1 selected").arg(i + 1),
                                 QStringLiteral("Input %1: off").arg(i + 1));

    Label1->setFocusPolicy(Qt::NoFocus);
    StatusBar1->setFocusPolicy(Qt::NoFocus);
    QWidget *const tabOrder[] = {PowerOnBtn,       LampOnBtn,        MuteOnBtn,        InpSelBtn1,
                                 InpSelBtn2,       InpSelBtn3,       InpSelBtn4,       ConnectBtn,
                                 ComboBox1,        FindBtn,          PowerStatusPnl,   InpSelBtn5,
                                 LampStatusPnl,    MuteStatusPnl,    InpSelStatusPnl1, InpSelStatusPnl2,
                                 InpSelStatusPnl3, InpSelStatusPnl4, InpSelStatusPnl5, PowerOffBtn,
                                 LampOffBtn,       MuteOffBtn};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(ConnectBtn, &QPushButton::clicked, this, &TMainForm::ConnectBtnClick);
    connect(PowerOnBtn, &QPushButton::clicked, this, &TMainForm::PowerOnBtnClick);
    connect(PowerOffBtn, &QPushButton::clicked, this, &TMainForm::PowerOffBtnClick);
    connect(LampOnBtn, &QPushButton::clicked, this, &TMainForm::LampOnBtnClick);
    connect(LampOffBtn, &QPushButton::clicked, this, &TMainForm::LampOffBtnClick);
    connect(MuteOnBtn, &QPushButton::clicked, this, &TMainForm::MuteOnBtnClick);
    connect(MuteOffBtn, &QPushButton::clicked, this, &TMainForm::MuteOffBtnClick);
    connect(InpSelBtn1, &QPushButton::clicked, this, &TMainForm::InpSelBtn1Click);
    connect(InpSelBtn2, &QPushButton::clicked, this, &TMainForm::InpSelBtn2Click);
    connect(InpSelBtn3, &QPushButton::clicked, this, &TMainForm::InpSelBtn3Click);
    connect(InpSelBtn4, &QPushButton::clicked, this, &TMainForm::InpSelBtn4Click);
    connect(InpSelBtn5, &QPushButton::clicked, this, &TMainForm::InpSelBtn5Click);
    connect(FindBtn, &QPushButton::clicked, this, &TMainForm::FindBtnClick);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
    IdUDPServer1.OnUDPRead = [this](TIdUDPListenerThread *, const std::vector<std::uint8_t> &,
                                    TIdSocketHandle &ABinding) {
        IdUDPServer1UDPRead(QString::fromStdString(ABinding.PeerIP));
    };
}

TMainForm::~TMainForm()
{
    // A window destroyed without FormDestroy must still not leave a
    // listener running into its handler.
    IdUDPServer1.SetActive(false);
}

std::array<QPushButton *, 11> TMainForm::commandButtons() const
{
    return {PowerOnBtn, PowerOffBtn, LampOnBtn,  LampOffBtn, MuteOnBtn, MuteOffBtn,
            InpSelBtn1, InpSelBtn2,  InpSelBtn3, InpSelBtn4, InpSelBtn5};
}

std::array<TIndicatorStrip *, 8> TMainForm::strips() const
{
    return {PowerStatusPnl,   LampStatusPnl,    MuteStatusPnl,    InpSelStatusPnl1,
            InpSelStatusPnl2, InpSelStatusPnl3, InpSelStatusPnl4, InpSelStatusPnl5};
}

void TMainForm::setCommandButtonsEnabled(bool enabled)
{
    for (QPushButton *button : commandButtons())
        button->setEnabled(enabled);
}

void TMainForm::hideStrips()
{
    for (TIndicatorStrip *strip : strips())
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
    IdUDPServer1.SetDefaultPort(ports_.discoveryLocal);
    IdUDPServer1.SetBroadcastEnabled(true);
    IdUDPServer1.SetActive(true);
    FindBtn->setVisible(true);
    hideStrips();
    setCommandButtonsEnabled(false);
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
            ActivePoller->Terminate();
        return;
    }

    const QString address = ComboBox1->currentText();
    if (!IsValidAddress(address)) {
        ShowAddressRejection(this, ComboBox1);
        return;
    }

    auto *poller = new TPollingThread(address, ports_.device, *this);
    poller->SetOnTerminate([this](WorkerThread *sender) { PollerEnded(sender); });
    poller->SetFreeOnTerminate(true);
    try {
        poller->Start();
    } catch (...) {
        delete poller;
        throw;
    }
    ActivePoller = poller;
    ConnectBtn->setText(QStringLiteral("DISCONNECT"));
    ConnectBtn->setAccessibleName(connectName(true));
    SetStatusText(QStringLiteral("CONNECTING... [") + address + QStringLiteral("]"));
    Connected = true;
    ComboBox1->setEnabled(false);
    setCommandButtonsEnabled(true);
    FindBtn->setEnabled(false);
}

void TMainForm::PollerEnded(WorkerThread *)
{
    ConnectBtn->setText(QStringLiteral("CONNECT"));
    ConnectBtn->setAccessibleName(connectName(false));
    Connected = false;
    ComboBox1->setEnabled(true);
    ActivePoller = nullptr;
    SetStatusText(QStringLiteral("DISCONNECTED"));
    hideStrips();
    setCommandButtonsEnabled(false);
    FindBtn->setEnabled(true);
}

void TMainForm::PowerOnBtnClick()
{
    Commands.PowerCmd = '1';
}
void TMainForm::PowerOffBtnClick()
{
    Commands.PowerCmd = '0';
}
void TMainForm::LampOnBtnClick()
{
    Commands.LampCmd = '1';
}
void TMainForm::LampOffBtnClick()
{
    Commands.LampCmd = '0';
}
void TMainForm::MuteOnBtnClick()
{
    Commands.MuteCmd = '1';
}
void TMainForm::MuteOffBtnClick()
{
    Commands.MuteCmd = '0';
}
void TMainForm::InpSelBtn1Click()
{
    Commands.InpSelCmd = '1';
}
void TMainForm::InpSelBtn2Click()
{
    Commands.InpSelCmd = '2';
}
void TMainForm::InpSelBtn3Click()
{
    Commands.InpSelCmd = '3';
}
void TMainForm::InpSelBtn4Click()
{
    Commands.InpSelCmd = '4';
}
void TMainForm::InpSelBtn5Click()
{
    Commands.InpSelCmd = '5';
}

void TMainForm::SetStatusText(const QString &text)
{
    statusLabel_->setText(text);
    StatusBar1->setAccessibleName(text.isEmpty() ? QStringLiteral("Connection") : text);
}

QString TMainForm::statusText() const
{
    return statusLabel_->text();
}

void TMainForm::ShowDeviceStatus(const DeviceStatusChars &status)
{
    switch (status.Power) {
    case '1':
        PowerStatusPnl->setColor(StripOn);
        PowerStatusPnl->setStateTexts(QStringLiteral("Power: on"), QStringLiteral("Power: off"));
        PowerStatusPnl->setVisible(true);
        break;
    case '2':
        PowerStatusPnl->setColor(PowerSecond);
        PowerStatusPnl->setStateTexts(QStringLiteral("Power: status 2"), QStringLiteral("Power: off"));
        PowerStatusPnl->setVisible(true);
        break;
    default:
        PowerStatusPnl->setVisible(false);
    }

    if (status.Lamp == '1') {
        LampStatusPnl->setColor(StripOn);
        LampStatusPnl->setVisible(true);
    } else {
        LampStatusPnl->setVisible(false);
    }

    if (status.Mute == '1') {
        MuteStatusPnl->setColor(StripOn);
        MuteStatusPnl->setVisible(true);
    } else {
        MuteStatusPnl->setVisible(false);
    }

    const std::array inputs{InpSelStatusPnl1, InpSelStatusPnl2, InpSelStatusPnl3, InpSelStatusPnl4,
                            InpSelStatusPnl5};
    const int selected = (status.Input >= '1' && status.Input <= '5') ? status.Input - '0' : 0;
    if (selected != 0)
        inputs[selected - 1]->setColor(StripOn);
    for (int i = 0; i < 5; ++i)
        inputs[i]->setVisible(i + 1 == selected);
}

bool EndPolling(std::chrono::milliseconds limit)
{
    if (ActivePoller != nullptr) {
        ActivePoller->Terminate();
        ActivePoller->AbortConnect();
    }
    handoff::cutOff();
    const bool ended = WorkerThread::WaitForAllEnded(limit);
    // The end notification could not run after the cut-off.
    ActivePoller = nullptr;
    Connected = false;
    return ended;
}

} // namespace lumacast

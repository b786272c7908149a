#pragma once

#include "discovery/DiscoveryRequest.h"
#include "discovery/UdpServer.h"
#include "link/DeviceState.h"
#include "link/PollingThread.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QStatusBar;
class QTimer;

namespace lumacast {

class AddressComboBox;
class Announcer;
class IndicatorStrip;

// The ports the window talks on; tests move them so windows can run side by side.
struct PanelPorts {
    std::uint16_t device = DevicePort;
    std::uint16_t discoveryLocal = DiscoveryLocalPort;
    std::uint16_t discoveryRemote = DiscoveryRemotePort;
};

// What the error box says when the discovery timer cannot be started.
inline constexpr const char *TimerUnavailableText = "タイマーを取得できません";

// The panel's one window.
class TMainForm : public QWidget, public PollerWindow {
    Q_OBJECT
public:
    // Builds the controls in their initial state; FormCreate brings the window to life.
    explicit TMainForm(const PanelPorts &ports = PanelPorts{}, QWidget *parent = nullptr);
    ~TMainForm() override;

    void FormCreate();
    void FormDestroy();

    // How the discovery timer is started; false when the system gave it no
    // timer. Tests replace it to take that path.
    using TimerStarter = std::function<bool(QTimer &)>;
    void SetTimerStarter(TimerStarter starter) { startTimer_ = std::move(starter); }

    void ConnectBtnClick();
    void PowerOnBtnClick();
    void PowerOffBtnClick();
    void LampOnBtnClick();
    void LampOffBtnClick();
    void MuteOnBtnClick();
    void MuteOffBtnClick();
    void InpSelBtn1Click();
    void InpSelBtn2Click();
    void InpSelBtn3Click();
    void InpSelBtn4Click();
    void InpSelBtn5Click();
    void FindBtnClick();
    void Timer1Timer();
    void IdUDPServer1UDPRead(const QString &senderAddress);

    // The window side of the polling thread's hand-off steps.
    void SetStatusText(const QString &text) override;
    PendingCommands &Pending() override { return commands_; }
    void ShowDeviceStatus(const DeviceStatusChars &status) override;

    QString StatusText() const;

    // The controls, in creation order.
    QLabel *Label1;
    QPushButton *PowerOnBtn;
    QPushButton *LampOnBtn;
    QPushButton *MuteOnBtn;
    QPushButton *InpSelBtn1;
    QPushButton *InpSelBtn2;
    QPushButton *InpSelBtn3;
    QPushButton *InpSelBtn4;
    QPushButton *ConnectBtn;
    AddressComboBox *ComboBox1;
    QStatusBar *StatusBar1;
    QPushButton *FindBtn;
    IndicatorStrip *PowerStatusPnl;
    QPushButton *InpSelBtn5;
    IndicatorStrip *LampStatusPnl;
    IndicatorStrip *MuteStatusPnl;
    IndicatorStrip *InpSelStatusPnl1;
    IndicatorStrip *InpSelStatusPnl2;
    IndicatorStrip *InpSelStatusPnl3;
    IndicatorStrip *InpSelStatusPnl4;
    IndicatorStrip *InpSelStatusPnl5;
    QPushButton *PowerOffBtn;
    QPushButton *LampOffBtn;
    QPushButton *MuteOffBtn;
    QTimer *Timer1;
    // The discovery endpoint; open from FormCreate to FormDestroy.
    UdpServer IdUDPServer1;

    // Always switched together, in these orders: power, lamp, mute, the inputs.
    std::vector<QPushButton *> CommandButtons() const;
    std::vector<IndicatorStrip *> Strips() const;
    // A sixth input adds its button and strip above and here.
    std::array<QPushButton *, InputCount> InputButtons() const;
    std::array<IndicatorStrip *, InputCount> InputStrips() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void PollerEnded(WorkerThread *sender);
    void StartDiscovery();
    void SetCommandButtonsEnabled(bool enabled);
    void HideStrips();
    void DescribeDeviceState();

    PendingCommands commands_;
    PanelPorts ports_;
    TimerStarter startTimer_;
    QLabel *statusLabel_;
    Announcer *announcer_;
    // What the strips show of the device; nothing before the first accepted
    // reply of a connection.
    std::optional<DeviceState> shownState_;
    bool centred_ = false;
};

extern TMainForm *MainForm;
// True exactly while a polling thread exists whose end notification has not run.
extern bool Connected;
// The running polling thread, for the stop request only; not owned.
extern TPollingThread *ActivePoller;
// True while a discovery window is open.
extern bool Discovering;

// The program's end: asks a running polling thread to stop, aborts its
// connect attempt, cuts the hand-offs off from the window and waits up to
// `limit` for the thread to be gone. False when it is still running; it can
// no longer reach the window then. UI thread.
bool EndPolling(std::chrono::milliseconds limit = std::chrono::milliseconds::max());

} // namespace lumacast

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
    // Input `input`'s button: 1 up to InputCount.
    void InpSelBtnClick(int input);
    void InpSelBtn1Click() { InpSelBtnClick(1); }
    void InpSelBtn2Click() { InpSelBtnClick(2); }
    void InpSelBtn3Click() { InpSelBtnClick(3); }
    void InpSelBtn4Click() { InpSelBtnClick(4); }
    void InpSelBtn5Click() { InpSelBtnClick(5); }
    void FindBtnClick();
    void Timer1Timer();
    void IdUDPServer1UDPRead(const QString &senderAddress);

    // The window side of the polling thread's hand-off steps.
    void ShowConnectedTo(const QString &address) override;
    PendingCommands &Pending() override { return commands_; }
    void ShowDeviceStatus(const DeviceStatusChars &status) override;

    void SetStatusText(const QString &text);
    QString StatusText() const;

    // The controls, made from the layout table in its order.
    QLabel *Label1;
    QPushButton *PowerOnBtn;
    QPushButton *LampOnBtn;
    QPushButton *MuteOnBtn;
    QPushButton *ConnectBtn;
    AddressComboBox *ComboBox1;
    QStatusBar *StatusBar1;
    QPushButton *FindBtn;
    IndicatorStrip *PowerStatusPnl;
    IndicatorStrip *LampStatusPnl;
    IndicatorStrip *MuteStatusPnl;
    QPushButton *PowerOffBtn;
    QPushButton *LampOffBtn;
    QPushButton *MuteOffBtn;
    // The input buttons and their strips, input 1 first; the table has a row
    // for each, and the inputs' own names refer into them.
    std::array<QPushButton *, InputCount> inputButtons{};
    std::array<IndicatorStrip *, InputCount> inputStrips{};
    QPushButton *&InpSelBtn1 = std::get<0>(inputButtons);
    QPushButton *&InpSelBtn2 = std::get<1>(inputButtons);
    QPushButton *&InpSelBtn3 = std::get<2>(inputButtons);
    QPushButton *&InpSelBtn4 = std::get<3>(inputButtons);
    QPushButton *&InpSelBtn5 = std::get<4>(inputButtons);
    IndicatorStrip *&InpSelStatusPnl1 = std::get<0>(inputStrips);
    IndicatorStrip *&InpSelStatusPnl2 = std::get<1>(inputStrips);
    IndicatorStrip *&InpSelStatusPnl3 = std::get<2>(inputStrips);
    IndicatorStrip *&InpSelStatusPnl4 = std::get<3>(inputStrips);
    IndicatorStrip *&InpSelStatusPnl5 = std::get<4>(inputStrips);
    QTimer *Timer1;

    // The window's own hand-offs: its threads' steps run on the UI thread
    // through them, and the window's end cuts them off.
    HandOffQueue &HandOffs() const { return *handOffs_; }

private:
    std::shared_ptr<HandOffQueue> handOffs_ = HandOffQueue::Make();

public:
    // The discovery endpoint; open from FormCreate to FormDestroy.
    UdpServer IdUDPServer1{handOffs_};

    // Always switched together, in these orders: power, lamp, mute, the inputs.
    std::vector<QPushButton *> CommandButtons() const;
    std::vector<IndicatorStrip *> Strips() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Makes the controls from the layout table, with their fonts, names, tab
    // order and handlers (MainBuild.cpp); the constructor's whole work.
    void Build();
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
// connect attempt, cuts the window's hand-offs off and waits up to `limit`
// for the thread to be gone. False when it is still running; it can no
// longer reach the window then. UI thread.
bool EndPolling(TMainForm &form, std::chrono::milliseconds limit = std::chrono::milliseconds::max());

} // namespace lumacast

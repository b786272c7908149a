#include "ui/Main.h"

#include "ui/AddressComboBox.h"
#include "ui/Handler.h"
#include "ui/IndicatorStrip.h"
#include "ui/Layout.h"
#include "ui/ScreenReader.h"
#include "ui/WindowText.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <cstdlib>
#include <string_view>
#include <vector>

namespace lumacast {

namespace {

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

} // namespace

void TMainForm::Build()
{
    static const bool rolesInstalled = [] {
        QAccessible::installFactory(PanelAccessible);
        return true;
    }();
    Q_UNUSED(rolesInstalled);
    setWindowTitle(QString::fromUtf8(WindowTitle));
    setFixedSize(WindowWidth, WindowHeight);
    setFont(WindowFont(false));

    // In the table's order, which is the order they are stacked in and the tab order.
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

    // The focus moves in creation order, which is the table's.
    for (const ControlSpec &control : Controls)
        if (control.focus == Focus::Never)
            ControlOf<QWidget>(this, control.name)->setFocusPolicy(Qt::NoFocus);

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

} // namespace lumacast

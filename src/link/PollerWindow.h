#pragma once

#include "link/Protocol.h"

#include <QString>

namespace lumacast {

// What the polling thread's hand-off steps need of the window. Every call
// runs on the UI thread while the polling thread waits.
class PollerWindow {
public:
    // The connection to `address` stands.
    virtual void ShowConnectedTo(const QString &address) = 0;
    virtual PendingCommands &Pending() = 0;
    virtual void ShowDeviceStatus(const DeviceStatusChars &status) = 0;

protected:
    ~PollerWindow() = default;
};

} // namespace lumacast

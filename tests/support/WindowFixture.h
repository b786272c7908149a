#pragma once

#include "platform/HandOff.h"
#include "ui/Main.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <memory>

namespace lumacast::test {

// One window per test, with the module's shared state reset around it.
class WindowFixture : public testing::Test {
protected:
    void SetUp() override
    {
        handoff::Reopen();
        Connected = false;
        ActivePoller = nullptr;
        Discovering = false;
    }

    void TearDown() override
    {
        if (form) {
            EndPolling();
            form->FormDestroy();
            form.reset();
        }
        MainForm = nullptr;
        handoff::Reopen();
    }

    // Unless `realTimer`, the discovery window runs until expireDiscovery()
    // instead of for its time.
    void openWindow(const PanelPorts &ports, bool runFormCreate, bool realTimer = false)
    {
        form = std::make_unique<TMainForm>(ports);
        MainForm = form.get();
        if (!realTimer)
            form->SetTimerStarter([this](QTimer &timer) {
                EXPECT_EQ(timer.interval(), DiscoveryWindowMs);
                EXPECT_EQ(timer.timerType(), Qt::PreciseTimer) << "a coarse timer may end the window early";
                discoveryOpen = true;
                return true;
            });
        if (runFormCreate)
            form->FormCreate();
        form->show();
    }

    // The timer's expiry: ends the discovery window that is open.
    void expireDiscovery()
    {
        ASSERT_TRUE(discoveryOpen) << "no discovery window runs";
        discoveryOpen = false;
        QMetaObject::invokeMethod(form->Timer1, "timeout");
    }

    std::unique_ptr<TMainForm> form;
    bool discoveryOpen = false; // the driven timer has been started and has not expired
};

} // namespace lumacast::test

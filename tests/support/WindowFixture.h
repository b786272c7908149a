#pragma once

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
        Connected = false;
        ActivePoller = nullptr;
        Discovering = false;
    }

    void TearDown() override
    {
        if (form_) {
            EndPolling(*form_);
            form_->FormDestroy();
            form_.reset();
        }
        MainForm = nullptr;
    }

    // Unless `realTimer`, the discovery window runs until expireDiscovery()
    // instead of for its time.
    void OpenWindow(const PanelPorts &ports, bool runFormCreate, bool realTimer = false)
    {
        form_ = std::make_unique<TMainForm>(ports);
        MainForm = form_.get();
        if (!realTimer)
            form_->SetTimerStarter([this](QTimer &timer) {
                EXPECT_EQ(timer.interval(), DiscoveryWindowMs);
                EXPECT_EQ(timer.timerType(), Qt::PreciseTimer) << "a coarse timer may end the window early";
                discoveryOpen_ = true;
                return true;
            });
        if (runFormCreate)
            form_->FormCreate();
        form_->show();
    }

    // The timer's expiry: ends the discovery window that is open.
    void ExpireDiscovery()
    {
        ASSERT_TRUE(discoveryOpen_) << "no discovery window runs";
        discoveryOpen_ = false;
        QMetaObject::invokeMethod(form_->Timer1, "timeout");
    }

    std::unique_ptr<TMainForm> form_;
    bool discoveryOpen_ = false; // the driven timer has been started and has not expired
};

} // namespace lumacast::test

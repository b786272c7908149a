#pragma once

#include "platform/HandOff.h"
#include "ui/Main.h"

#include <gtest/gtest.h>

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

    void openWindow(const PanelPorts &ports, bool runFormCreate)
    {
        form = std::make_unique<TMainForm>(ports);
        MainForm = form.get();
        if (runFormCreate)
            form->FormCreate();
        form->show();
    }

    std::unique_ptr<TMainForm> form;
};

} // namespace lumacast::test

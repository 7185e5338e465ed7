#pragma once

#include "FakePort.h"
#include "PanelFixture.h"

#include <gtest/gtest.h>

// A started main window on a scripted controller at port 1, optionally connected.
struct FakeBoardTest : ::testing::Test {
    VirtualClock clock;
    FakePort port{clock};
    QTemporaryDir dir;
    std::unique_ptr<PanelHarness> h;

    void start(bool connect) {
        port.addPort(1, FakePort::controller());
        h = std::make_unique<PanelHarness>(port, clock, dir.path());
        h->model.startUp();
        if (connect)
            h->ui.btnConnect.click();
        h->prompter.shown.clear();
    }
};

#pragma once

#include "FakePort.h"
#include "PanelFixture.h"

#include <gtest/gtest.h>

// A main window on scripted ports.
struct FakePortTest : ::testing::Test {
    VirtualClock clock;
    FakePort port{clock};
    QTemporaryDir dir;
    std::unique_ptr<PanelHarness> h;

    // Starts the window (and its board detection) on the ports added so far.
    void startWindow() {
        h = std::make_unique<PanelHarness>(port, clock, dir.path());
        h->model.startUp();
    }
};

// A started main window on a scripted controller at port 1, optionally connected.
struct FakeBoardTest : FakePortTest {
    void start(bool connect) {
        port.addPort(1, FakePort::controller());
        startWindow();
        if (connect)
            h->ui.btnConnect.click();
        h->prompter.shown.clear();
    }
};

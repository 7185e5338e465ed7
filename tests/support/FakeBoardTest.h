#pragma once

#include "FakePort.h"
#include "PanelFixture.h"

#include <gtest/gtest.h>

// What a controller of version 1.0.9 is told.
inline const QString WrongVersion =
    "PSoC software version detected is 1.0.9.\r\n"
    "Zelto Board Programming Utility v3.4.1 requires version 1.1.0.\r\n"
    "Software files can be downloaded from the Zelto Vexa:\r\n\r\n"
    "           https://vexa.zelto.example/downloads";

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

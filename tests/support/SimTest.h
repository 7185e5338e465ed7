#pragma once

#include "support/SimHarness.h"

#include <gtest/gtest.h>
#include <memory>

enum class Mode { Fpga, Spi, Bpi };

// A test on a fresh simulated board per case, connected and in a mode: the server runs in the
// parallel flash mode, and the SPI mode has its device selected.
struct SimTest : ::testing::Test {
    std::unique_ptr<SimHarness> sim;
    // Flash busy times of the boards made, unless a case sets its own.
    double timeScale = 1.0;

    void board(Mode mode, BoardConfig config = {}, const QString& device = {}) {
        if (config.timeScale == 1.0)
            config.timeScale = timeScale;
        config.serverRunning |= mode == Mode::Bpi;
        sim = std::make_unique<SimHarness>(config);
        sim->startAndConnect();
        Control& menu = mode == Mode::Fpga  ? ui().mnuFPGA
                        : mode == Mode::Spi ? ui().mnuSPI
                                            : ui().mnuBPI;
        menu.click();
        if (mode == Mode::Spi)
            select(device.isEmpty() ? config.spiChip : device);
    }
    void select(const QString& device) {
        ui().cbFlash.setSelectedIndex(int(ui().cbFlash.items().indexOf(device)));
    }
    // Runs a request as the window's buttons make them, to its end.
    void launch(OperationRequest::Kind kind, const QString& path, qint64 offset, qint64 count,
                const QString& device = "M25P16") {
        OperationRequest r;
        r.kind = kind;
        r.path = path;
        r.device = device;
        r.offset = offset;
        r.count = count;
        sim->h->model.launches.launch(r);
        sim->h->runTimer();
    }

    MainPanelControls& ui() { return sim->h->ui; }
    Session& session() { return sim->h->model.session; }
    const Outcome& outcome() { return session().outcome; }
    ScriptedPrompter& prompter() { return sim->h->prompter; }
    QByteArray& spiFlash() { return sim->board.spi().memory(); }
    QByteArray& bpiFlash() { return sim->board.bpiFlash().memory(); }
    // The buttons of a flash mode.
    Control& program(Mode m) { return ui().btnProgram[m == Mode::Bpi]; }
    Control& read(Mode m) { return ui().btnRead[m == Mode::Bpi]; }
    Control& verify(Mode m) { return ui().btnVerify[m == Mode::Bpi]; }

    // Every flag an operation may set, and the controls it locks, still set after it has
    // ended in the mode (the FPGA mode's end may be its start state).
    QStringList leftBehind(Mode mode);
};

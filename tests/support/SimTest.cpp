#include "SimTest.h"

QStringList SimTest::leftBehind(Mode mode) {
    QStringList out;
    const Session& s = session();
    const std::int16_t state = s.opState.State();
    if (mode == Mode::Fpga
            ? state > OpStateObj::FpgaIdle
            : state != (mode == Mode::Spi ? OpStateObj::SpiIdle : OpStateObj::BpiIdle))
        out << QString("operation state %1").arg(state);
    if (sim->h->timer.isActive())
        out << "timer running";
    if (s.file.isOpen())
        out << "data file open";
    if (!s.FlushInput)
        out << "FlushInput off";
    if (s.TimeoutCnt != 0)
        out << "TimeoutCnt set";
    if (s.BpiServerLoading)
        out << "server load pending";
    if (s.abandonRequested || s.launching != 0)
        out << "stop or launch pending";
    if (sim->h->model.spi.State() != 0 || sim->h->model.bpi.State() != 0 ||
        sim->h->model.cfg.State() != 0)
        out << "a sequence not idle";
    for (Control* c :
         {&ui().txtOffset, &ui().txtPrgBytes, &ui().Command1, &ui().mnuOpenFile, &ui().mnuMode,
          &ui().mnuOptions, &ui().mnuFPGA, &ui().mnuSPI, &ui().mnuBPI, &ui().btnSendBlock})
        if (!c->enabled())
            out << c->name() + " off";
    if (ui().txtSendView.enabled() != s.connected())
        out << "send console does not follow the connection";
    if (ui().hscProgress.visible())
        out << "progress shown";
    const bool ready = s.connected() && ui().cbFlash.selectedIndex() >= 0;
    if (mode == Mode::Spi && ui().btnIDecho[0].enabled() != ready)
        out << "SPI buttons not by their rule";
    if (s.port.isOpen() && s.port.receiveThreshold() < 1)
        out << "receive events off";
    return out;
}

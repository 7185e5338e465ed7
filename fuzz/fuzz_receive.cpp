// The receive console between operations: each byte's rendering on its own, then whole runs
// of bytes through a ReceivePath over a port, in bursts, with the clear-screen and prompt rules
// and the display mode switched on the way.
#include "FuzzSupport.h"
#include "controls/MainPanelControls.h"
#include "engine/AckTimer.h"
#include "engine/Clock.h"
#include "engine/ReceivePath.h"
#include "engine/Session.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

void renderOne(char byte, bool hex) {
    const QString added = ReceivePath::render(byte, hex);
    const auto c = static_cast<unsigned char>(byte);
    if (hex)
        FUZZ_CHECK(added == QString::asprintf("%02X ", c));
    else if (c == '\r')
        FUZZ_CHECK(added == "\r\n");
    else if (c == '\n')
        FUZZ_CHECK(added.isEmpty());
    else
        FUZZ_CHECK(added.size() == 1 && added[0].unicode() == c);
}

// A line feed is shown only as the second half of a carriage return's CR LF.
bool lineFeedsPaired(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    return true;
}

// Bytes that arrive while a sequence runs are not the console's to show.
void arriveWhileRunning(FuzzedDataProvider& in, Session& session, QueuePort& port,
                        ReceivePath& path, CountingPrompter& prompter) {
    const std::int16_t running[] = {OpStateObj::FpgaRunning, OpStateObj::SpiRunning,
                                    OpStateObj::BpiRunning};
    session.opState.SetState(running[in.ConsumeIntegralInRange(0, 2)]);
    const int before = prompter.shown;
    const QString console = session.ui.txtRecvView.text();
    port.arrive(QByteArray(1, 'x'));
    path.OnComm(SerialPort::EventReceive);
    FUZZ_CHECK(prompter.shown == before + 1);
    FUZZ_CHECK(session.ui.txtRecvView.text() == console);
    port.setReadLength(0);
    port.read();
    port.setReadLength(1);
    const std::int16_t idle[] = {OpStateObj::Start, OpStateObj::FpgaIdle, OpStateObj::SpiIdle,
                                 OpStateObj::BpiIdle};
    session.opState.SetState(idle[in.ConsumeIntegralInRange(0, 3)]);
    port.setReceiveThreshold(1);
    prompter.shown = before;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    MainPanelControls ui;
    QueuePort port;
    VirtualClock clock;
    ManualAckTimer timer;
    CountingPrompter prompter;
    NoPicker picker;
    Session session(ui, port, clock, timer, prompter, picker);
    session.clearScreen = QString("\x1b[H\x1b[J");
    ReceivePath path(session);
    port.setReceiveThreshold(1);

    const bool mayToggle = in.ConsumeBool();
    bool everHex = false;
    qsizetype received = 0;
    while (in.remaining_bytes() > 0) {
        const int action = in.ConsumeIntegralInRange(0, 9);
        if (action == 0 && mayToggle) {
            session.displayMode.nextState();
            continue;
        }
        if (action == 1) {
            arriveWhileRunning(in, session, port, path, prompter);
            continue;
        }
        const std::string burst = in.ConsumeRandomLengthString(64);
        const bool hex = session.displayMode.State() == 1;
        everHex = everHex || hex;
        if (!burst.empty())
            renderOne(burst[0], hex);
        port.arrive(QByteArray(burst.data(), qsizetype(burst.size())));
        received += qsizetype(burst.size());
        path.OnComm(SerialPort::EventReceive);
        if (in.ConsumeBool())
            path.OnComm(SerialPort::EventReceive + 1); // a line event: ignored
        FUZZ_CHECK(port.bytesWaiting() == 0);
        FUZZ_CHECK(prompter.shown == 0);
        const QString& text = ui.txtRecvView.text();
        FUZZ_CHECK(text.size() <= 3 * received);
        FUZZ_CHECK(!text.endsWith(session.clearScreen));
        if (!everHex)
            FUZZ_CHECK(lineFeedsPaired(text));
    }
    // An event with nothing waiting shows nothing and asks nothing.
    const QString console = ui.txtRecvView.text();
    path.OnComm(SerialPort::EventReceive);
    FUZZ_CHECK(ui.txtRecvView.text() == console && prompter.shown == 0);
    return 0;
}

#include "link/Session.h"

#include "link/RuntimeError.h"

Session::Session(MainPanelControls& ui, SerialPort& port, Clock& clock, AckTimer& timer,
                 Prompter& prompter, FilePicker& picker)
    : ui(ui)
    , port(port)
    , clock(clock)
    , timer(timer)
    , prompter(prompter)
    , picker(picker)
    , opState(port, prompter)
    , displayMode(prompter) {}

void Session::appendLine(const QString& text) {
    ui.txtRecvView.appendText(text + "\r\n");
}

void Session::reportError(const RuntimeError& error) {
    prompter.tell(QString("Error: %1\r\n%2").arg(error.number()).arg(error.description()),
                  "Application Error", Prompter::Icon::Critical);
}

bool Session::waitForBytes(int count, int maxPolls, int budgetMs) {
    const std::int64_t budget = std::int64_t(budgetMs) * 1000;
    std::int64_t deadline = clock.nowUs() + budget;
    int seen = port.bytesWaiting();
    for (int polls = 0; polls < maxPolls; ++polls) {
        const int waiting = port.bytesWaiting();
        if (waiting >= count)
            return true;
        // The budget is for silence: a slow link that keeps delivering is not cut off.
        if (waiting > seen) {
            seen = waiting;
            deadline = clock.nowUs() + budget;
        }
        if (clock.nowUs() >= deadline)
            return false;
        port.waitForData(1);
    }
    return port.bytesWaiting() >= count;
}

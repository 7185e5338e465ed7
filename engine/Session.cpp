#include "engine/Session.h"

#include "engine/RuntimeError.h"

#include <QRegularExpression>

Session::Session(MainPanelControls& ui, SerialPort& port, Clock& clock, AckTimer& timer,
                 Prompter& prompter, FilePicker& picker)
    : ui(ui)
    , port(port)
    , clock(clock)
    , timer(timer)
    , prompter(prompter)
    , picker(picker)
    , opState(port, prompter)
    , displayMode(prompter) {
    port.giveUpWriting = [this] { return leaving(); };
    file.onDiscarded = [this](const QString& target) {
        appendOwnLine("The read did not finish: " + target +
                      " was left as it was, and the partial data discarded.");
    };
}

void Session::appendLine(const QString& text) {
    appendToConsole(text + "\r\n");
}

void Session::appendOwnLine(const QString& text) {
    const QString& shown = ui.txtRecvView.text();
    const bool lineStart =
        shown.isEmpty() || shown.endsWith(QLatin1Char('\n')) || shown.endsWith(QLatin1Char('\r'));
    appendLine(lineStart ? text : "\r\n" + text);
}

void Session::appendToConsole(const QString& text) {
    auto& view = ui.txtRecvView;
    view.appendText(text);
    const QString& all = view.text();
    if (all.size() <= ConsoleLimit)
        return;
    // Cut a sixteenth more than needed, at a line start, so that trimming stays rare.
    const qsizetype atLeast = all.size() - ConsoleLimit + ConsoleLimit / 16;
    const qsizetype lineEnd = all.indexOf(QLatin1Char('\n'), atLeast);
    view.dropFront(lineEnd >= 0 && lineEnd < all.size() - 1 ? lineEnd + 1 : atLeast);
}

void Session::reportError(const RuntimeError& error) {
    fail(error.description());
    if (windowClosed)
        return;
    prompter.tell(QString("Error: %1\r\n%2").arg(error.number()).arg(error.description()),
                  "Application Error", Prompter::Icon::Critical);
}

bool Session::waitForBytes(int count, int maxPolls, int budgetMs, bool stoppable) {
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
        if (clock.nowUs() >= deadline || (stoppable && stopRequested()))
            return false;
        port.waitForData(1);
    }
    return port.bytesWaiting() >= count;
}

bool Session::busy() const {
    return launching > 0 || opState.running();
}

void Session::beginOperation() {
    operationStartUs = clock.nowUs();
    confirmed_ = false;
    verdict_ = {};
    abandonRequested = false;
    leaveRequested = false;
}

void Session::succeed() {
    confirmed_ = true;
    confirmedUs_ = clock.nowUs();
}

void Session::fail(const QString& message) {
    if (verdict_.kind != Outcome::Kind::Failed) {
        verdict_ = {Outcome::Kind::Failed, message};
        verdictUs_ = clock.nowUs();
    }
}

void Session::refuse(const QString& message) {
    if (verdict_.kind == Outcome::Kind::None) {
        verdict_ = {Outcome::Kind::Refused, message};
        verdictUs_ = clock.nowUs();
    }
}

Outcome Session::closeOperation(bool abandoned) {
    outcomeUs = clock.nowUs();
    if (abandoned) {
        outcome = {Outcome::Kind::Abandoned, "The operation was abandoned."};
    } else if (verdict_.kind != Outcome::Kind::None) {
        outcome = verdict_;
        outcomeUs = verdictUs_;
    } else if (confirmed_) {
        outcome = {Outcome::Kind::Succeeded, {}};
        outcomeUs = confirmedUs_;
    } else {
        outcome = {Outcome::Kind::Failed, "The operation ended without confirmation."};
    }
    verdict_ = {};
    confirmed_ = false;
    abandonRequested = false;
    leaveRequested = false;
    return outcome;
}

QString statusLine(const QString& operation, const Outcome& outcome, std::int64_t elapsedUs) {
    const QString seconds = QString::number(double(elapsedUs) / 1e6, 'f', 1) + " s";
    const QString name = operation.isEmpty() ? QStringLiteral("Operation") : operation;
    QString why = outcome.message.section(QRegularExpression("[\r\n]"), 0, 0).trimmed();
    if (!why.isEmpty())
        why = " (" + why + ")";
    switch (outcome.kind) {
    case Outcome::Kind::Succeeded:
        return name + ": successful in " + seconds;
    case Outcome::Kind::Refused:
        return name + ": refused after " + seconds + why;
    case Outcome::Kind::Abandoned:
        return name + ": abandoned after " + seconds;
    case Outcome::Kind::Failed:
    case Outcome::Kind::None:
        break;
    }
    return name + ": failed after " + seconds + why;
}

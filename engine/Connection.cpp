#include "engine/Connection.h"

#include "engine/Dispatcher.h"
#include "engine/RuntimeError.h"
#include "engine/TransferFinisher.h"
#include "link/ControllerProtocol.h"

#include <QDateTime>

using protocol::VersionVerdict;

Connection::Connection(Session& session, Dispatcher& dispatcher)
    : s_(session)
    , dispatcher_(dispatcher) {}

Connection::Check Connection::checkController() {
    auto& port = s_.port;
    port.setReadLength(0);
    // Whatever a previous session left on the line is not this controller's answer.
    port.read();
    port.write(protocol::frame("get_ver"));
    const QByteArray reply = versionReply();
    // The window's own spelling of a Windows port in this message: "Com3".
    QString name = port.portName();
    if (name.startsWith("COM"))
        name = "Com" + name.mid(3);
    switch (protocol::judgeVersionReply(reply)) {
    case VersionVerdict::NoController:
        s_.prompter.tell("Board not detected on " + name +
                             ".  Please check your Com port selection.",
                         "Warning", Prompter::Icon::Information);
        port.close();
        return Check::Refused;
    case VersionVerdict::WrongVersion: {
        if (!reply.contains('\0'))
            throw RuntimeError(5, "Invalid procedure call or argument");
        const QStringList lines = {
            "PSoC software version detected is " + protocol::detectedVersion(reply) + ".",
            s_.ui.MainPanel.text() + " requires version " + protocol::RequiredFirmware + ".",
            "Software files can be downloaded from the Zelto Vexa:", "",
            QString(11, ' ') + MakerDownloadSite};
        s_.prompter.tell(lines.join("\r\n"), "Error", Prompter::Icon::Critical);
        port.close();
        return Check::Refused;
    }
    case VersionVerdict::Compatible:
        break;
    }
    return Check::Passed;
}

// The reply is read after 50 ms; one that is still coming then (a slow adapter or firmware) is
// waited for until its acknowledgement is in, up to the reply deadline.
QByteArray Connection::versionReply() {
    const std::int64_t start = s_.clock.nowUs();
    s_.clock.sleepMs(50);
    QByteArray reply = s_.port.read();
    const std::int64_t deadline = start + std::int64_t(protocol::ReplyDeadlineMs) * 1000;
    while (!protocol::isAcknowledgement(reply.right(4)) && s_.clock.nowUs() < deadline) {
        s_.port.waitForData(1);
        reply += s_.port.read();
    }
    return reply;
}

void Connection::Connect() {
    auto& port = s_.port;
    try {
        if (!port.isOpen())
            port.open();
        offerToFinishTransfer();
        if (!s_.BoardCheckDisabled && checkController() == Check::Refused)
            return;
        port.setReadLength(1);
        port.setReceiveThreshold(1);
        s_.BpiServerRunning = CheckBpiServer();
        s_.setConnected(true);
        if (onConnected)
            onConnected();
        if (s_.arrangePanel)
            s_.arrangePanel();
    } catch (const RuntimeError& e) {
        s_.prompter.tell(e.description() + "\n\rPlease verify your Com port (Options | Comm)",
                         "Error opening " + port.portName(), Prompter::Icon::None);
    }
}

// A run that had to leave a transfer unfinished on this port left a board that takes whatever
// comes as the transfer's bytes: it is named before anything is sent, and finished with filler
// when the operator agrees.
void Connection::offerToFinishTransfer() {
    const QString name = s_.port.portName();
    const std::optional<StuckTransfers::Entry> entry = s_.stuck.find(name);
    if (!entry)
        return;
    s_.stuck.clear(name);
    if (entry->erasingUntilMs > 0) {
        const QDateTime until = QDateTime::fromMSecsSinceEpoch(entry->erasingUntilMs);
        if (QDateTime::currentDateTime() < until)
            s_.appendOwnLine("The last run on " + name +
                             " stopped a parallel flash chip erase: the chip may go on erasing "
                             "until " +
                             until.toString("HH:mm:ss") +
                             ", and the BPI server answers nothing until then.");
        return;
    }
    const QString whose = entry->server ? "the BPI server" : "the controller";
    const QString text =
        QString("The last run on %1 left %2 in the middle of a transfer: it still expects %3 "
                "bytes.\r\nFinish that transfer now with filler (about %4 s)? If not, power the "
                "board off and on first.")
            .arg(name, whose)
            .arg(entry->bytes)
            .arg(TransferFinisher::secondsFor(s_.port, entry->bytes));
    if (s_.prompter.ask(text, "Unfinished transfer", Prompter::Icon::Question,
                        Prompter::Buttons::YesNo) != Prompter::Answer::Yes)
        return;
    TransferFinisher finisher(s_, "Finishing " + whose + "'s transfer, %1 s");
    s_.port.setReadLength(0);
    const std::int64_t left = finisher.finish(
        entry->bytes, entry->server ? TransferFinisher::serverFiller(s_, entry->burst, 5000)
                                    : TransferFinisher::controllerFiller(s_));
    if (left > 0) {
        s_.stuck.record(name, {entry->server, left, entry->burst});
        s_.appendOwnLine(QString("%1 still expects %2 bytes; power the board off and on.")
                             .arg(entry->server ? "The BPI server" : "The controller")
                             .arg(left));
        return;
    }
    // The count errs on the high side (bytes still queued when a run left may have gone out
    // after all): a NUL ends whatever filler reached the controller's command line. Then the
    // controller must answer a command again, given time to take what is still on the line.
    if (!controllerAnswers()) {
        s_.appendOwnLine("The controller does not answer after the filler; power the board off "
                         "and on.");
        return;
    }
    s_.waitForBytes(INT32_MAX, Session::QuietPollLimit, protocol::ReplyDeadlineMs);
    s_.port.read();
    s_.appendOwnLine("The unfinished transfer was completed: " + whose + " reads commands again.");
}

bool Connection::controllerAnswers() {
    auto& port = s_.port;
    port.write(QByteArray(1, '\0') + protocol::frame("get_ver"));
    const std::int64_t deadline = s_.clock.nowUs() + std::int64_t(SettleMs) * 1000;
    QByteArray reply;
    while (!protocol::isAcknowledgement(reply.right(4)) && s_.clock.nowUs() < deadline) {
        port.waitForData(1);
        reply += port.read();
    }
    return protocol::isAcknowledgement(reply.right(4));
}

bool Connection::CheckBpiServer() {
    auto& port = s_.port;
    if (!port.isOpen())
        return false;
    port.write("x\r");
    s_.clock.sleepMs(50);
    port.setReadLength(0);
    const QByteArray reply = port.read();
    port.setReadLength(1);
    return reply.contains(protocol::ServerVersion.toLatin1());
}

void Connection::Disconnect() {
    auto& port = s_.port;
    // A running operation lets the controller go while the port is still open.
    dispatcher_.abandonOperation("Operation abandoned: the port was closed.");
    if (port.isOpen())
        port.close();
    s_.setConnected(false);
    if (onDisconnected)
        onDisconnected();
    if (s_.arrangePanel)
        s_.arrangePanel();
}

#pragma once

#include "PanelFixture.h"
#include "engine/RuntimeError.h"
#include "sim/Board.h"
#include "sim/SimulatedPort.h"

#include <QTemporaryDir>

// The simulated board on one port number; the others do not exist.
class BoardOnPort : public SimulatedPort {
public:
    BoardOnPort(Board& board, Clock& clock, int number)
        : SimulatedPort(board, clock)
        , number_(number) {}
    void open() override {
        if (portNumber() != number_)
            throw RuntimeError(RuntimeError::PortOpenFailed, "Port open failed: no such port");
        SimulatedPort::open();
    }
    // Sees, and may change, every read the program makes and every write on its way to the
    // board (a byte lost or garbled on the line).
    std::function<void(QByteArray&)> onRead, onWrite;
    void write(const QByteArray& bytes) override {
        QByteArray sent = bytes;
        if (onWrite)
            onWrite(sent);
        SimulatedPort::write(sent);
    }

protected:
    QByteArray take(int maxBytes) override {
        QByteArray bytes = SimulatedPort::take(maxBytes);
        if (onRead)
            onRead(bytes);
        return bytes;
    }

private:
    int number_;
};

// A whole main window on the in-process simulated board, in a program folder that holds the
// shipped description files and the server bitstream, all on a virtual clock.
class SimHarness {
public:
    explicit SimHarness(BoardConfig config = {});

    // Starts the window (detection, lists) and connects.
    void startAndConnect();
    // An operator who takes this long to read each message box (0: answers at once).
    void setReadingTime(int ms);

    // The operator picks a new file holding these bytes through the Open menu.
    QString choose(const QString& name, const QByteArray& bytes);
    // Presses an enabled button and runs the acknowledgement timer until the operation is done.
    void press(Control& button);

    // The operation's commands as the controller saw them, from the mark on.
    QStringList commandsSince(int mark) const { return board.commandsSeen().mid(mark); }
    int mark() const { return int(board.commandsSeen().size()); }
    QString console() const { return h->ui.txtRecvView.text(); }
    QString lastMessage() const { return h->prompter.last(); }
    // A main window control by its name, for tables of cases.
    Control& control(const QString& name) const;
    QString path(const QString& name) const { return dir.path() + "/" + name; }

    QTemporaryDir dir;
    VirtualClock clock;
    Board board;
    BoardOnPort port;
    std::unique_ptr<PanelHarness> h;
};

#pragma once

#include "controls/MainPanelControls.h"
#include "engine/AckTimer.h"
#include "engine/Clock.h"
#include "engine/DataFolders.h"
#include "engine/FileSlot.h"
#include "engine/OpStateObj.h"
#include "engine/Outcome.h"
#include "engine/Prompter.h"
#include "engine/StuckTransfers.h"
#include "link/SerialPort.h"

#include <QString>
#include <cstdint>
#include <functional>

class RuntimeError;

// What the main window holds and every collaborator shares: its controls, the port and
// timer, the operation state, the shared data file and the window's own fields.
struct Session {
    Session(MainPanelControls& ui, SerialPort& port, Clock& clock, AckTimer& timer,
            Prompter& prompter, FilePicker& picker);
    // The port may outlive the session: it keeps nothing that refers back to it.
    ~Session() { port.giveUpWriting = {}; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    MainPanelControls& ui;
    SerialPort& port;
    Clock& clock;
    AckTimer& timer;
    Prompter& prompter;
    FilePicker& picker;

    OpStateObj opState;
    StateControlObj displayMode;
    FileSlot file;

    std::int16_t TimeoutCnt = 0;
    bool FlushInput = true;
    std::int16_t timeoutLimit = 4;
    bool BpiServerRunning = false;
    bool BoardCheckDisabled = false;
    bool BpiServerLoading = false;
    bool scrollRequest = false;
    // Proceed as soon as a step's reply is in instead of at the next tick (the default).
    bool fastAck = true;
    // The acknowledgement budget per step (the timer runs faster while polling in fast mode).
    int ackIntervalMs = 15;
    std::int64_t stepStartUs = 0;
    QString clearScreen;
    QString fpgaPath, spiPath, bpiPath;
    // By mode (FPGA, SPI, parallel flash): the file the last read wrote, and the last image
    // programmed or verified. A read's target is not the file to program next time.
    QString readInto[3], imageFrom[3];
    // A flash mode's offset (hex) and byte count, kept while another mode shows its own: a
    // Program in one mode must not write at the other's offset. Both start as the form has them.
    struct FlashRange {
        QString offset, bytes;
    };
    FlashRange spiRange{ui.txtOffset.text(), ui.txtPrgBytes.text()};
    FlashRange bpiRange{ui.txtOffset.text(), ui.txtPrgBytes.text()};
    QString SavedBitFile, SavedBitFilePath;
    // Where description files, server bitstreams and skins are looked for.
    DataFolders dataFolders;
    // Transfers a run left unfinished, by port.
    StuckTransfers stuck;

    // The verdict of the running operation, gathered as it goes; `outcome` holds the last
    // finished one. A failure outweighs any success seen before it.
    void beginOperation();
    void succeed();
    void fail(const QString& message);
    void refuse(const QString& message);
    Outcome closeOperation(bool abandoned);
    Outcome outcome;
    // When the last outcome was reached (the clock's time): a message box the operator leaves
    // open afterwards does not count.
    std::int64_t outcomeUs = 0;
    // What the launch called the operation, and when it began (the clock's time).
    QString operationName;
    std::int64_t operationStartUs = 0;

    // An operation runs, or one is being launched: nothing else may start.
    bool busy() const;
    int launching = 0;
    // Set when the operation must stop at its next safe point (port or window closed,
    // interrupt): long transfers look at it between bursts.
    bool abandonRequested = false;
    std::function<bool()> interrupted;
    bool stopRequested() const { return abandonRequested || (interrupted && interrupted()); }
    // A second stop while the first finishes a transfer: leave at once, whatever is left.
    bool leaveRequested = false;
    std::function<bool()> interruptedTwice;
    bool leaving() const { return leaveRequested || (interruptedTwice && interruptedTwice()); }
    // The window has gone: no more message boxes.
    bool windowClosed = false;

    // Set by the panel when it wires its collaborators together.
    std::function<void()> arrangePanel;
    std::function<void()> finishBpiServerLoad;
    // A server load that did not succeed gives the operator's FPGA file back.
    std::function<void()> cancelBpiServerLoad;
    // Brings the controller back to reading commands when a transfer came back short: filler
    // for what it may still expect, a NUL, then quiet. False when that could not be done.
    std::function<bool()> resynchronise;
    // Lets the window handle pending events once (long parallel flash transfers).
    std::function<void()> processEvents;

    // A result line in the receive console: the text, CR and LF.
    void appendLine(const QString& text);
    // The same on a line of its own, even when the console's last line is unfinished.
    void appendOwnLine(const QString& text);
    // Adds to the receive console, which keeps only its latest text: past ConsoleLimit
    // characters the oldest lines drop off.
    void appendToConsole(const QString& text);
    static constexpr qsizetype ConsoleLimit = 1 << 20;
    // "Error: " number, CR LF, description; critical, "Application Error".
    void reportError(const RuntimeError& error);
    // Set by Connect once the board passed its checks, cleared by Disconnect.
    bool connected() const { return connected_; }
    void setConnected(bool on) { connected_ = on; }

    // Waits for at least count bytes, polling the port and letting each empty poll wait a
    // short slice; gives up after maxPolls polls or budgetMs of silence, whichever comes first,
    // and, when stoppable, as soon as the operation is asked to stop.
    bool waitForBytes(int count, int maxPolls, int budgetMs, bool stoppable = false);
    // Polls of a millisecond or more: bounds a wait for quiet on a line that keeps talking.
    static constexpr int QuietPollLimit = 2000;

private:
    bool connected_ = false;
    bool confirmed_ = false;
    Outcome verdict_;
    std::int64_t verdictUs_ = 0, confirmedUs_ = 0;
};

// Holds the launch gate while a launch handler asks its questions and sets up.
class LaunchScope {
public:
    explicit LaunchScope(Session& s)
        : s_(s) {
        ++s_.launching;
    }
    ~LaunchScope() { --s_.launching; }
    LaunchScope(const LaunchScope&) = delete;
    LaunchScope& operator=(const LaunchScope&) = delete;

private:
    Session& s_;
};

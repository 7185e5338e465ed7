#pragma once

#include "cli/CliFrontEnd.h"
#include "cli/CliOptions.h"
#include "cli/CliReport.h"
#include "engine/AckTimer.h"
#include "engine/Clock.h"
#include "engine/OperationRequest.h"
#include "link/PortDirectory.h"
#include "link/QtSerialPort.h"
#include "panel/MainPanelModel.h"
#include "panel/Skinning.h"

#include <QTemporaryDir>
#include <cstdio>
#include <memory>

// A headless operator: builds each operation's request from its arguments and launches it on
// the same panel model as the window. Operations joined by "+" run in order on one
// connection. Exit codes: 0 success, 1 failure, 2 refused or usage, 130 interrupted.
class CliRunner {
public:
    explicit CliRunner(QList<CliOptions> chain);
    explicit CliRunner(CliOptions options)
        : CliRunner(QList<CliOptions>{std::move(options)}) {}
    int run();

    static constexpr int Success = cliexit::Success, Failure = cliexit::Failure,
                         Usage = cliexit::Usage, Interrupted = cliexit::Interrupted;

private:
    // Every operation's words are checked before the first one touches the board.
    int checkChain();
    void report(int code, double seconds);
    bool choosePorts();
    bool boot();
    bool connect();

    // The commands (CliCommands.cpp): one operation of the run, on the options in o_.
    int runOperation();
    int bitinfo();
    int sfh();
    int ports();
    int devices();
    int detect();
    int connectCommand();
    int fpga();
    int spi();
    int spiDetect();
    int bpi();
    int bpiLoad();

    void runTimer();
    OperationRequest request(OperationRequest::Kind kind, const QString& path) const;
    std::optional<OperationRequest> transfer(OperationRequest::Kind kind, const QString& file);
    int launch(const OperationRequest& r);
    QString fileProblem(bool written, const QString& path) const;
    int press(Control& button);
    int press(const std::function<void()>& start);
    // A wrong word: one line and where help is. A refused input: one line.
    int usage(const QString& why);
    int refuse(const QString& why);
    void out(const QString& line) const;
    void err(const QString& line);

    QList<CliOptions> chain_;
    CliOptions o_;
    PortDirectory ports_;
    int portNumber_ = 0; // a port chosen by its number on the command line
    SystemClock clock_;
    ManualAckTimer timer_;
    CliPrompter prompter_;
    CliPicker picker_;
    NoSkinning skinning_;
    std::unique_ptr<QtSerialPort> port_;
    std::unique_ptr<MainPanelModel> model_;
    std::unique_ptr<ConsoleEcho> echo_;
    // Console lines and reports: standard error when standard output carries data or JSON.
    std::FILE* text_ = stdout;
    // Only the words are looked at, nothing is touched: a run is refused before it starts.
    bool checking_ = false;
    // The operation's own account, for its JSON object.
    QString message_;
    qint64 bytes_ = 0;
    qsizetype boxesBefore_ = 0;
    // The operation's numbers, read from its own arguments.
    CliNumbers numbers_;
    // Files the reads of the chain write, while the chain is checked.
    QStringList readInChain_;
    // The part the operation named, for its JSON object.
    QString device_;
};

#pragma once

#include "cli/CliFrontEnd.h"
#include "cli/CliOptions.h"
#include "link/AckTimer.h"
#include "link/Clock.h"
#include "link/PortDirectory.h"
#include "link/QtSerialPort.h"
#include "link/Skinning.h"
#include "panel/MainPanelModel.h"

#include <memory>

// A headless operator: sets the fields an operator would set and presses the same buttons
// of the same panel model as the window. Exit codes: 0 success, 1 failure, 2 usage.
class CliRunner {
public:
    explicit CliRunner(CliOptions options);
    int run();

    // Interrupted: as a shell reports a program ended by Ctrl-C.
    static constexpr int Success = 0, Failure = 1, Usage = 2, Interrupted = 130;

private:
    int bitinfo();
    int sfh();
    bool boot();
    bool connect();
    int detect();
    int connectCommand();
    int fpga();
    int spi();
    int spiDetect();
    int bpi();
    int bpiLoad();

    void runTimer();
    void drain(int ms);
    bool chooseFile(const QString& path);
    bool applyRange();
    bool prepareTransfer(const QString& file, bool isRead);
    int press(Control& button);
    int press(const std::function<void()>& start);
    int usage(const QString& why) const;

    CliOptions o_;
    PortDirectory ports_;
    SystemClock clock_;
    ManualAckTimer timer_;
    CliPrompter prompter_;
    CliPicker picker_;
    NoSkinning skinning_;
    std::unique_ptr<QtSerialPort> port_;
    std::unique_ptr<MainPanelModel> model_;
    std::unique_ptr<ConsoleEcho> echo_;
    // A file created to read into: removed again when the read never ran.
    QString created_;
};

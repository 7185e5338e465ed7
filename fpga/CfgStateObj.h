#pragma once

#include "engine/OperationRequest.h"
#include "engine/Sequence.h"
#include "engine/Session.h"

// Configures the FPGA in slave-serial mode through the controller: PROG pulse, INIT check,
// the raw download of the whole bitstream, then INIT and DONE and the controller's release.
class CfgStateObj : public Sequence {
public:
    enum : std::int16_t {
        CFG_IDLE = 0,
        CFG_LOAD_CONFIG_ON,
        CFG_PROG_LOW,
        CFG_DRIVE_MODE_7,
        CFG_SPI_MODE_ON,
        CFG_PROG_HIGH,
        CFG_READ_INIT,
        WAIT_FOR_INIT,
        CFG_FPGA_RST_ON,
        CFG_SS_PROGRAM,
        CFG_DOWNLOAD,
        CFG_READ_INIT_2,
        CFG_READ_DONE,
        CFG_WAIT_FOR_DONE,
        CFG_LOAD_CONFIG_OFF,
        CFG_FINISH
    };

    // Longer than the memory clear of the largest part the board may carry.
    static constexpr int InitRiseLimitMs = 100;
    // The download lets the window's events run at least this often.
    static constexpr int SliceMs = 50;

    explicit CfgStateObj(Session& session)
        : s_(session) {}

    // Sets the sequence up afresh for one configuration of `length` bitstream bytes from the
    // request's file, at its first state.
    void begin(const OperationRequest& request, std::int32_t length);

    std::int16_t State() const override { return state_; }
    void SetState(std::int16_t value) override;
    void NextStep() override;
    // Once "ss_program" is out the controller takes every byte as bitstream: a missing
    // acknowledgement of it is not answered by sending it again, which would become bitstream.
    bool FileTransfer() const override { return state_ == CFG_DOWNLOAD; }
    std::int64_t BytesDone() const override { return bytesSent_; }
    std::int16_t GetPreviousState() const override;
    int ReplyLength() const override { return replyLength_; }
    std::int64_t PendingBytes() const override {
        return state_ == CFG_DOWNLOAD ? std::int64_t(length_) - bytesSent_ : 0;
    }
    void FillerSent() override { bytesSent_ = length_; }
    bool HoldsUnfinishedDesign() const override {
        return state_ >= CFG_DOWNLOAD && state_ <= CFG_WAIT_FOR_DONE;
    }

private:
    struct Row;
    static const Row* rowFor(std::int16_t state);
    void step();
    // To the state the table gives after this one.
    void advance();
    // The steps' own parts, named in the table.
    bool disableButton();
    void noteProgHigh();
    bool awaitInit();
    bool announceDownload();
    bool download();
    bool hideProgress();
    bool takeInitLevel();
    bool judgeDone();
    bool finish();
    void send(const QString& command);
    // The pin level: the first of at least 2 waiting bytes; -1 when fewer wait.
    int readPin();
    std::int32_t fileLength() const;

    Session& s_;
    std::int16_t state_ = 0;
    std::int32_t bytesSent_ = 0;
    std::int64_t progHighUs_ = 0;
    std::uint8_t initLevel_ = 0;
    std::uint8_t doneLevel_ = 0;
    int replyLength_ = 4;
    // The file and its length, taken at launch.
    QString runPath_, lengthText_;
    std::int32_t length_ = 0;
};

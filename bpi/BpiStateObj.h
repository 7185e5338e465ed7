#pragma once

#include "engine/FlashImage.h"
#include "engine/OperationRequest.h"
#include "engine/Sequence.h"
#include "engine/Session.h"

#include <optional>

// The parallel flash operations through the BPI server running in the FPGA. One NextStep
// performs a whole operation, paced by the server's replies.
class BpiStateObj : public Sequence {
public:
    enum : std::int16_t { BPI_IDLE = 0, BPI_ID, BPI_ERASE, BPI_PROGRAM, BPI_READ, BPI_VERIFY };

    // How long the server may stay silent before an operation is given up.
    static constexpr int SilenceLimitMs = 5000;
    // How long a read or verify listens for bytes beyond those it asked for.
    static constexpr int ExtraByteWaitMs = 100;
    // The longest chip erase waited for: the largest parts supported take a few minutes at
    // their datasheet maximum.
    static constexpr int EraseLimitMs = 10 * 60 * 1000;
    // The most one server command moves: about 3 s at 115200 baud, so that a stop can finish
    // the command under way.
    static constexpr std::int32_t PieceBytes = 32 * 1024;

    explicit BpiStateObj(Session& session)
        : s_(session) {}

    QString ServerVersion() const;
    std::int16_t State() const override { return state_; }
    void SetState(std::int16_t value) override;
    void NextStep() override;
    // Sets the sequence up afresh for one request: what the window does afterwards (it redraws
    // before a transfer) does not change it.
    void begin(const OperationRequest& request);

private:
    void operation();
    void sendCommand();
    void waitFor(int count);
    QByteArray header(bool withBurst, std::int64_t offset, std::int32_t count,
                      std::int32_t burst) const;
    // Opens the files: whatever can fail, before the server is told.
    void prepareTransfer();
    bool loadImage();
    QByteArray imageBytes(std::int64_t position, std::int64_t length);
    void transfer();
    void programPiece();
    void receivePiece(bool verify);
    void movePieces();
    // What a transfer's last pass was for: a Verify, or the check after a Program or a Read (a
    // Program's check ends quietly: the caller says it succeeded).
    enum class Pass { Verify, ProgramCheck, ReadCheck };
    void checkPass(Pass pass);
    void transferEnd(Pass pass);
    bool extraBytes();
    void failWith(const QString& text);
    void progress(std::int64_t position, std::int64_t count);

    // Between bursts and blocks: the window's events run, and a stop asked meanwhile ends here.
    void letEventsRun();
    bool settle();
    void eraseLeftRunning();
    void awaitErase();
    void awaitIdentification();

    Session& s_;
    std::int16_t state_ = 0;
    QString runPath_;
    std::int64_t offset_ = 0;
    int eraseLimitMs_ = EraseLimitMs;
    std::int32_t count_ = 0, burst_ = 0;
    // The server command under way: where its bytes start in the whole transfer, how many it
    // moves, and how far it has come.
    std::int64_t pieceAt_ = 0;
    std::int32_t pieceCount_ = 0;
    enum class Transfer { None, Sending, Receiving } transferring_ = Transfer::None;
    std::int64_t position_ = 0;
    bool allAnswered_ = true;
    // A burst has gone out and its answer not yet come.
    bool answerOwed_ = false;
    std::int64_t mismatch_ = -1;
    std::optional<FlashImage> image_;
    // A Read's first pass, which its second must agree with.
    QByteArray firstRead_;
};

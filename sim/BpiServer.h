#pragma once

#include "sim/CfiFlash.h"
#include "sim/ReplySink.h"

#include <QByteArray>
#include <cstdint>

// The MicroBlaze firmware that the BPI server bitstream runs: one-letter commands ended by CR,
// binary headers with big-endian numbers, programming in bursts acknowledged with "A".
class BpiServer {
public:
    // silentAfterBytes < 0: never falls silent.
    BpiServer(CfiFlash& flash, ReplySink& out, std::int64_t latencyUs,
              std::int64_t silentAfterBytes = -1);

    // The FPGA lost its configuration: whatever command was under way is forgotten.
    void stop();
    // Inside "w", "r" or "v": every byte belongs to the command, NULs and CRs included.
    bool takesData() const { return phase_ != Phase::Idle && !hung(); }
    void command(char letter, std::int64_t nowUs);
    void receive(quint8 byte, std::int64_t nowUs);
    // During a chip erase the firmware reads nothing: bytes wait in the UART's receive FIFO,
    // and those beyond its depth are lost. False when some of the bytes are lost so.
    bool fifoTakes(std::int64_t nowUs, int bytes = 1);
    static constexpr int RxFifoBytes = 16;
    // What one programming burst may hold; the header of a larger one is refused.
    static constexpr int BurstBufferBytes = 65536;

    static constexpr const char* Banner = "MicroBlaze BPI Server v036\r\n";

private:
    // Discard: the data of a refused write, which must not be taken as commands.
    enum class Phase { Idle, WriteHeader, WriteData, ReadHeader, Discard };

    void reply(const QByteArray& bytes, std::int64_t nowUs);
    bool hung() const { return silentAfter_ >= 0 && received_ >= silentAfter_; }
    bool count(int bytes);
    void headerComplete(std::int64_t nowUs);
    void burstComplete(std::int64_t nowUs);
    qint64 burstLength() const;
    bool refuseWrite(std::int64_t nowUs);
    QString idText() const;

    CfiFlash& flash_;
    ReplySink& out_;
    std::int64_t latencyUs_;
    std::int64_t silentAfter_;
    std::int64_t received_ = 0;
    std::int64_t busyUntilUs_ = 0; // the firmware waits for the flash before it answers
    std::int64_t erasingUntilUs_ = 0;
    int heldInFifo_ = 0;

    Phase phase_ = Phase::Idle;
    QByteArray header_;
    quint32 offset_ = 0;
    quint32 count_ = 0;
    quint32 burst_ = 0;
    qint64 position_ = 0;
    QByteArray burstData_;
};

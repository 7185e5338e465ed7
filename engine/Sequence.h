#pragma once

#include <cstdint>

// What the dispatcher and the acknowledgement timer need of a sequence object.
class Sequence {
public:
    virtual ~Sequence() = default;
    virtual std::int16_t State() const = 0;
    virtual void SetState(std::int16_t value) = 0;
    virtual void NextStep() = 0;
    virtual bool FileTransfer() const { return false; }
    virtual std::int16_t GetPreviousState() const { return std::int16_t(State() - 1); }
    // Bytes the last step's reply holds: the acknowledgement and any value bytes after it.
    virtual int ReplyLength() const { return 4; }
    // Data bytes moved so far: with the state, how far the operation has come.
    virtual std::int64_t BytesDone() const { return 0; }
    // Bytes the controller still expects for a transfer it was told of: they must reach it
    // (as harmless filler) before it reads commands again.
    virtual std::int64_t PendingBytes() const { return 0; }
    // The dispatcher has sent those bytes.
    virtual void FillerSent() {}
    // The FPGA has taken bitstream of this run that was not confirmed: a stop clears it.
    virtual bool HoldsUnfinishedDesign() const { return false; }
};

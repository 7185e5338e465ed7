#include "sim/ConfigStream.h"

namespace {

constexpr quint32 CommandStart = 0x05;
constexpr quint32 CommandDesync = 0x0D;
constexpr quint32 Spartan6FirstPacket = 0x30A1;
constexpr int WriteOp = 2;

} // namespace

void ConfigStream::feed(quint8 byte) {
    switch (mode_) {
    case Mode::Hunting:
        shift_ = (shift_ << 8) | byte;
        if ((shift_ & 0xFFFF) == 0xAA99) {
            mode_ = Mode::AfterAa99;
            assembled_ = 0;
            assembledBytes_ = 0;
        }
        return;
    case Mode::AfterAa99:
    case Mode::Peek:
        assembled_ = (assembled_ << 8) | byte;
        if (++assembledBytes_ < 2)
            return;
        syncSeen_ = true;
        if (mode_ == Mode::AfterAa99 && assembled_ == 0x5566) {
            mode_ = Mode::Peek;
            assembled_ = 0;
            assembledBytes_ = 0;
            return;
        }
        if (mode_ == Mode::AfterAa99 || assembled_ == Spartan6FirstPacket) {
            width_ = 16;
            mode_ = Mode::Words;
            assembledBytes_ = 0;
            word(assembled_);
            return;
        }
        width_ = 32;
        mode_ = Mode::Words;
        return; // two bytes of the first 32-bit word are in
    case Mode::Words:
        assembled_ = (assembled_ << 8) | byte;
        if (++assembledBytes_ * 8 < width_)
            return;
        assembledBytes_ = 0;
        word(width_ == 16 ? assembled_ & 0xFFFF : assembled_);
        return;
    }
}

void ConfigStream::word(quint32 value) {
    if (countWordsDue_ > 0) {
        count_ = (count_ << 16) | value;
        if (--countWordsDue_ == 0)
            remaining_ = count_;
        return;
    }
    if (remaining_ > 0) {
        --remaining_;
        data(value);
        return;
    }
    header(value);
}

void ConfigStream::header(quint32 value) {
    const int type = int(value >> (width_ - 3));
    const int op = int(value >> (width_ - 5)) & 3;
    if (type == 1) {
        const int reg = width_ == 32 ? int(value >> 13) & 0x3FFF : int(value >> 5) & 0x3F;
        const int count = width_ == 32 ? int(value & 0x7FF) : int(value & 0x1F);
        if (reg != register_)
            marker_ = 0;
        if (reg == IdcodeRegister) {
            idcode_ = 0;
            idcodeWords_ = 0;
        }
        register_ = reg;
        remaining_ = op == WriteOp ? count : 0;
    } else if (type == 2 && op == WriteOp) {
        if (width_ == 32) {
            remaining_ = value & 0x07FFFFFF;
        } else {
            countWordsDue_ = 2;
            count_ = 0;
        }
    }
}

void ConfigStream::data(quint32 value) {
    const int commandRegister = width_ == 32 ? 4 : 5;
    if (register_ == commandRegister) {
        const quint32 command = value & 0x1F;
        if (command == CommandStart)
            started_ = true;
        if (command == CommandDesync) {
            finished_ = finished_ || started_;
            mode_ = Mode::Hunting;
            shift_ = 0;
            remaining_ = 0;
        }
    }
    if (register_ == IdcodeRegister) {
        idcode_ = width_ == 32 ? value : (idcode_ << 16) | value;
        ++idcodeWords_;
    }
    if (register_ == MarkerRegister) {
        marker_ = width_ == 32 ? value : (marker_ << 16) | value;
        markerSeen_ = markerSeen_ || marker_ == ServerMarker;
    }
}

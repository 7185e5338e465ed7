#pragma once

#include "sim/Board.h"
#include "sim/SpiFlash.h"
#include "support/Doubles.h"

#include <QByteArray>
#include <cstdint>

namespace simtest {

inline const QByteArray Ack("ack\0", 4);

// A controller command as the program frames it: the text and one NUL.
inline QByteArray command(const char* text) {
    return QByteArray(text) + '\0';
}

// One SPI transaction, all of it at one instant.
inline QByteArray transfer(SpiFlash& flash, const QByteArray& mosi, std::int64_t atUs) {
    QByteArray miso;
    flash.select(atUs);
    for (char c : mosi)
        miso.append(char(flash.clock(quint8(c), atUs)));
    flash.deselect(atUs);
    return miso;
}

// A host on a hand-moved clock: sends, then collects what the board sent within a window.
struct Host {
    Board& board;
    std::int64_t nowUs = 1'000'000;

    QByteArray exchange(const QByteArray& bytes, std::int64_t windowUs = 100'000) {
        board.receive(bytes, nowUs);
        nowUs += windowUs;
        return board.takeOutput(nowUs);
    }
};

} // namespace simtest

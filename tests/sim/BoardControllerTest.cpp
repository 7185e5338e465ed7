#include "sim/BitstreamBuilder.h"
#include "sim/Board.h"
#include "sim/ServerBitstream.h"
#include "sim/SpiProtection.h"

#include <gtest/gtest.h>

namespace {

const QByteArray Ack("ack\0", 4);

// A controller command as the program frames it: the text and one NUL.
QByteArray command(const char* text) {
    return QByteArray(text) + '\0';
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

// One SPI transaction, all of it at one instant.
QByteArray transfer(SpiFlash& flash, const QByteArray& mosi, std::int64_t atUs) {
    QByteArray miso;
    flash.select(atUs);
    for (char c : mosi)
        miso.append(char(flash.clock(quint8(c), atUs)));
    flash.deselect(atUs);
    return miso;
}

const QByteArray Wren = QByteArray::fromHex("06");

QByteArray address(qint64 a) {
    return QByteArray::fromHex(QByteArray::number(a, 16).rightJustified(6, '0'));
}

} // namespace

// Each fault of the board changes what the host sees as documented.
TEST(BoardController, EveryCommandGetsExactlyTheReplyBytesTheProgramExpects) {
    const QByteArray low("\x00\x00", 2), version = command("get_ver"),
                                         config = command("get_config"), twice = config + config;
    const auto pair = [](const char* a, const char* b) { return command(a) + command(b); };
    const struct {
        QByteArray sent, reply;
        BoardConfig config = {};
        const char* fault = "";
    } rows[] = {
        // INIT is low while PROG is held.
        {pair("drive_prog 0", "read_init"), Ack + Ack + low},
        {command("sf_transfer 0"), Ack + Ack + Ack},
        // Nothing that is not a command is answered; a CR or LF throws a partial line away.
        {pair("bogus", "load_config") + pair("load_config x", "drive_prog -1") +
             pair("get_ver now", "") + "get_config",
         {}},
        {"x\r" + config, Ack},
        {"get_\nconfig" + command(""), {}},
        {"junk\r\n" + config, Ack},
        {version, QByteArray("1.1.0\0", 6), {.dropAckRate = 1}, "every acknowledgement dropped"},
        {config, "", {.ackDelayUs = 150'000}, "acknowledgements later than waited for"},
        {version + config, QByteArray("1.1.0\0ack\0", 10), {.closeAfterBytes = 10}, "link closed"},
        {config, "", {.hostLossRate = 1}, "every host byte lost"},
        {config, "", {.hostGarbleRate = 1}, "every host byte garbled"},
        // The second command arrives while the first is worked on: four bytes fit.
        {twice, Ack, {.rxBufferBytes = 4}, "receive buffer overflows"},
        {twice, Ack + Ack, {.rxBufferBytes = 11}, "a buffer that holds the second command"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault + (" " + row.sent.toHex(' ')).toStdString());
        Board board(row.config);
        EXPECT_EQ(Host{board}.exchange(row.sent).toHex(' '), row.reply.toHex(' '));
    }
}

TEST(BoardTiming, RepliesReachTheHostAtUsbFramesAfterTheLatencyTimer) {
    const QByteArray echoed = command("sf_transfer 70") + QByteArray(70, '\x03');
    const struct {
        const char* name;
        BoardConfig config;
        QByteArray sent;
        std::int64_t firstUs, lastUs;
    } rows[] = {
        {"no bridge", {.usbFrameUs = 0}, command("get_config"), 1'000'300, 1'000'300},
        {"the next frame", {}, command("get_config"), 1'001'000, 1'001'000},
        {"a 16 ms timer", {.latencyTimerUs = 16'000}, command("get_config"), 1'017'000, 1'017'000},
        // 78 bytes: a full packet leaves at once, the rest when the timer runs out.
        {"a full packet", {.latencyTimerUs = 16'000}, echoed, 1'001'000, 1'017'000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Board board(row.config);
        board.receive(row.sent, 1'000'100);
        EXPECT_EQ(board.nextOutputUs(), row.firstUs);
        EXPECT_TRUE(board.takeOutput(row.firstUs - 1).isEmpty());
        board.takeOutput(row.lastUs - 1);
        EXPECT_FALSE(board.takeOutput(row.lastUs).isEmpty());
        EXPECT_EQ(board.nextOutputUs(), -1);
    }
}

TEST(BoardServer, TheProbeIsAnsweredOnlyWhileTheServerBitstreamRuns) {
    Board board;
    Host host{board};
    const auto load = [&](const QByteArray& file) {
        for (const char* c : {"load_config 1", "drive_prog 0", "drive_mode 7", "spi_mode 1",
                              "drive_prog 1", "drive_mode 8", "fpga_rst 1"})
            host.exchange(command(c));
        // As the program does: the download once the command is acknowledged.
        host.exchange(command(qPrintable(QString("ss_program %1").arg(file.size()))));
        host.exchange(file);
        for (const char* c : {"spi_mode 0", "load_config 0", "fpga_rst 0"})
            host.exchange(command(c));
    };
    EXPECT_EQ(host.exchange("x\r"), QByteArray());
    load(buildBitFile(buildConfigPayload()));
    EXPECT_EQ(host.exchange("x\r"), QByteArray()) << "an ordinary design";
    load(serverBitFile());
    EXPECT_EQ(host.exchange("x\r"), QByteArray("MicroBlaze BPI Server v036\r\n"));
    host.exchange(command("drive_prog 0") + command("drive_prog 1"));
    EXPECT_EQ(host.exchange("x\r"), QByteArray()) << "a PROG pulse stops it";
}

// A chip erase holds the server's firmware for the erase's real time: it answers nothing, and
// of what is sent meanwhile only the UART's 16-byte FIFO survives, answered afterwards.
TEST(BoardServer, AChipEraseHoldsTheServerAndItsFifoKeepsSixteenBytes) {
    Board board({.timeScale = 0.01, .serverRunning = true});
    Host host{board};
    EXPECT_EQ(host.exchange("e\r" + QByteArray("x\r").repeated(10)), "Erasing flash...\r\n");
    EXPECT_EQ(host.exchange({}, 1'000'000),
              "Erase complete\r\n" + QByteArray(BpiServer::Banner).repeated(8));
    EXPECT_EQ(host.exchange("x\r"), QByteArray(BpiServer::Banner));
}

// The server programs whole 16-bit words from a buffer of its own: a write that starts at an
// odd offset or announces a larger burst is refused, and its data is dropped rather than taken
// as commands (an "e" among it would erase the chip).
TEST(BoardServer, AWriteAtAnOddOffsetOrWithABurstPastTheBufferIsRefusedAndItsDataDropped) {
    const auto header = [](quint32 offset, quint32 burst) {
        const auto word = [](quint32 v) { return QString("%1").arg(v, 8, 16, QChar('0')); };
        return QByteArray::fromHex((word(offset) + word(4) + word(burst)).toLatin1());
    };
    const struct {
        quint32 offset, burst;
        QByteArray reply;
    } cases[] = {{0x101, 4, "Odd offset\r\n"},
                 {0x100, BpiServer::BurstBufferBytes, "A"},
                 {0x100, BpiServer::BurstBufferBytes + 2, "Burst too large\r\n"}};
    for (const auto& c : cases) {
        Board board({.serverRunning = true});
        Host host{board};
        const QByteArray data = "e\rx\r";
        EXPECT_EQ(host.exchange("w\r" + header(c.offset, c.burst) + data), "w\r\n" + c.reply)
            << c.offset << " " << c.burst;
        EXPECT_EQ(board.bpiFlash().read(0x100, 4), c.reply == "A" ? data : QByteArray(4, '\xFF'));
        EXPECT_EQ(board.serverCommandsSeen(), QStringList{"w"});
        EXPECT_EQ(host.exchange("x\r"), QByteArray(BpiServer::Banner));
    }
}

// Block protect bits lock the ranges of the datasheets' tables: a program or a sector erase
// there is refused before any cycle starts, and a bulk erase needs every BP bit clear.
TEST(SimSpiFlash, BlockProtectBitsLockTheRangesOfTheDatasheetTables) {
    const qint64 M = 1024 * 1024, K = 1024;
    const struct {
        const char* chip;
        quint8 status;
        qint64 begin, end;
    } rows[] = {
        {"M25P16", 0x00, 0, 0},
        {"M25P16", 0x04, 2 * M - 64 * K, 2 * M},  // sector 31
        {"M25P16", 0x14, M, 2 * M},               // upper half
        {"M25P64", 0x04, 8 * M - 128 * K, 8 * M}, // two sectors
        {"W25Q32", 0x24, 0, 64 * K},              // TB: from the bottom
        {"W25Q32", 0x44, 4 * M - 4 * K, 4 * M},   // SEC: 4 KiB sectors
        {"MX25L3206E", 0x20, 0, 4 * M},           // BP3
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.chip) + " status " + std::to_string(row.status));
        const SpiChipSpec& chip = *findSpiChip(row.chip);
        const ProtectedRange r = protectedRange(chip, row.status);
        EXPECT_EQ(r.isEmpty() ? 0 : r.begin, row.begin);
        EXPECT_EQ(r.isEmpty() ? 0 : r.end, row.end);
        SpiFlash flash(chip);
        std::int64_t t = 0;
        // Write enable and the instruction: whether a cycle started. Then time for it to end.
        const auto started = [&](const QByteArray& instruction) {
            transfer(flash, Wren, t);
            transfer(flash, instruction, t);
            const bool busy = flash.busy(t);
            t += 300'000'000;
            return busy;
        };
        started(QByteArray("\x01", 1) + char(row.status));
        for (const qint64 a : {row.begin - 1, row.begin, row.end - 1, row.end}) {
            const bool locked = a >= row.begin && a < row.end;
            if (a >= 0 && a < chip.size) {
                EXPECT_EQ(started('\x02' + address(a) + '\0'), !locked) << a;
                EXPECT_EQ(transfer(flash, '\x03' + address(a) + '\0', t)[4],
                          locked ? '\xFF' : '\0');
            }
        }
        EXPECT_EQ(started('\xD8' + address(row.begin)), row.begin == row.end);
        EXPECT_EQ(started(QByteArray::fromHex("C7")), row.status == 0);
    }
}

TEST(SimSpiFlashTimes, AMaximumTimesFlashStaysBusyForTheDatasheetMaximum) {
    for (const bool longest : {false, true}) {
        SCOPED_TRACE(longest ? "maximum" : "typical");
        const SpiChipSpec& chip = *findSpiChip("M25P16");
        SpiFlash flash(chip, {.maxTimes = longest});
        transfer(flash, Wren, 0);
        transfer(flash, '\x02' + address(0) + QByteArray(4, '\0'), 0);
        EXPECT_TRUE(flash.busy(std::int64_t(chip.pageProgramTypUs) - 1));
        EXPECT_EQ(flash.busy(std::int64_t(chip.pageProgramTypUs)), longest);
        EXPECT_FALSE(flash.busy(std::int64_t(chip.pageProgramMaxUs)));
    }
}

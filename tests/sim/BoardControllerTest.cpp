#include "sim/BitstreamBuilder.h"
#include "sim/Board.h"
#include "sim/ServerBitstream.h"

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

} // namespace

// Each fault of the board changes what the host sees as documented.
TEST(BoardController, EveryCommandGetsExactlyTheReplyBytesTheProgramExpects) {
    const QByteArray high("\x01\x00", 2), low("\x00\x00", 2),
        version = command("get_ver"), config = command("get_config"), twice = config + config;
    const auto pair = [](const char* a, const char* b) { return command(a) + command(b); };
    const struct {
        QByteArray sent, reply;
        BoardConfig config = {};
        const char* fault = "";
    } rows[] = {
        {version, QByteArray("1.1.0\0ack\0", 10)},
        {config, Ack},
        {pair("load_config 1", "load_config 0") + pair("drive_mode 7", "drive_mode 8") +
             pair("spi_mode 1", "spi_mode 0") + pair("fpga_rst 1", "fpga_rst 0"),
         Ack.repeated(8)},
        {command("read_init"), Ack + high},
        {command("read_done"), Ack + low},
        {pair("drive_prog 0", "read_init"), Ack + Ack + low},
        {pair("drive_prog 1", "read_init"), Ack + Ack + high},
        {command("ss_program 0"), Ack},
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

TEST(BoardFaults, TheSameSeedGivesTheSameBytesAndAnotherSeedOthers) {
    const auto session = [](quint64 seed, double rate) {
        Board board({.seed = seed, .dropAckRate = rate, .garbageRate = rate / 6});
        Host host{board};
        QByteArray out;
        for (int i = 0; i < 20; ++i)
            out += host.exchange(command("get_ver") + command("sf_transfer 4") +
                                 QByteArray::fromHex("9F000000"));
        return out;
    };
    const QByteArray a = session(7, 0.3);
    EXPECT_EQ(a, session(7, 0.3));
    EXPECT_NE(a, session(8, 0.3));
    EXPECT_NE(a, session(7, 0));
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
    const auto header = [](quint32 offset, quint32 count, quint32 burst) {
        QByteArray h;
        for (quint32 v : {offset, count, burst})
            for (int shift = 24; shift >= 0; shift -= 8)
                h.append(char(v >> shift));
        return h;
    };
    const struct {
        quint32 offset, burst;
        QByteArray reply;
    } cases[] = {{0x100, 4, "A"},
                 {0x101, 4, "Odd offset\r\n"},
                 {0x100, BpiServer::BurstBufferBytes, "A"},
                 {0x100, BpiServer::BurstBufferBytes + 2, "Burst too large\r\n"}};
    for (const auto& c : cases) {
        Board board({.serverRunning = true});
        Host host{board};
        const QByteArray data = "e\rx\r";
        EXPECT_EQ(host.exchange("w\r" + header(c.offset, 4, c.burst) + data), "w\r\n" + c.reply)
            << c.offset << " " << c.burst;
        EXPECT_EQ(board.bpiFlash().read(0x100, 4), c.reply == "A" ? data : QByteArray(4, '\xFF'));
        EXPECT_EQ(board.serverCommandsSeen(), QStringList{"w"});
        EXPECT_EQ(host.exchange("x\r"), QByteArray(BpiServer::Banner));
    }
}

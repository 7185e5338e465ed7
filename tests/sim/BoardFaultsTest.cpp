#include "SimTestSupport.h"

#include <functional>
#include <gtest/gtest.h>

using simtest::Ack;
using simtest::be32;
using simtest::command;
using simtest::Host;

namespace {

// A mixed session: commands, an SPI transaction and some server traffic.
QByteArray session(Board& board) {
    Host host(board);
    QByteArray out;
    for (int i = 0; i < 20; ++i) {
        out += host.exchange(command("get_ver"));
        out += host.exchange(command("load_config 1") + command("read_init"));
        out += host.exchange(command("sf_transfer 4") + QByteArray::fromHex("9F000000"));
    }
    return out;
}

BoardConfig noisy(quint64 seed) {
    BoardConfig config;
    config.seed = seed;
    config.dropAckRate = 0.3;
    config.garbageRate = 0.05;
    return config;
}

} // namespace

TEST(BoardFaults, TheSameSeedGivesTheSameBytesAndAnotherSeedOthers) {
    Board first(noisy(7)), second(noisy(7)), third(noisy(8)), clean{BoardConfig{}};
    const QByteArray a = session(first);
    EXPECT_EQ(a, session(second));
    EXPECT_NE(a, session(third));
    EXPECT_NE(a, session(clean));
}

TEST(BoardFaults, EachFaultChangesWhatTheHostSeesAsDocumented) {
    struct Row {
        const char* name;
        std::function<void(BoardConfig&)> set;
        QByteArray sent;
        QByteArray reply;
    };
    const QByteArray version = command("get_ver");
    const QByteArray three = command("get_config") + command("get_config") + command("get_config");
    const Row rows[] = {
        {"every acknowledgement dropped", [](BoardConfig& c) { c.dropAckRate = 1; }, version,
         QByteArray("1.1.0\0", 6)},
        {"acknowledgements later than the program waits",
         [](BoardConfig& c) { c.ackDelayUs = 150'000; },
         command("get_config"),
         {}},
        {"another firmware version", [](BoardConfig& c) { c.firmwareVersion = "1.0.9"; }, version,
         QByteArray("1.0.9\0ack\0", 10)},
        {"silent", [](BoardConfig& c) { c.silent = true; }, version, {}},
        {"silent after two commands", [](BoardConfig& c) { c.silentAfterCommands = 2; }, three,
         Ack + Ack},
        {"link closed after ten bytes", [](BoardConfig& c) { c.closeAfterBytes = 10; },
         version + command("get_config"), QByteArray("1.1.0\0ack\0", 10)},
        {"INIT held low", [](BoardConfig& c) { c.initStuckLow = true; }, command("read_init"),
         Ack + QByteArray(2, '\0')},
        {"server silent after four bytes",
         [](BoardConfig& c) {
             c.serverRunning = true;
             c.serverSilentAfterBytes = 4;
         },
         "x\rx\rx\r", QByteArray("MicroBlaze BPI Server v036\r\nMicroBlaze BPI Server v036\r\n")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BoardConfig config;
        row.set(config);
        Board board(config);
        Host host(board);
        EXPECT_EQ(host.exchange(row.sent).toHex(' '), row.reply.toHex(' '));
    }
}

TEST(BoardFaults, ASilentControllerStillCarriesOutItsCommands) {
    BoardConfig config;
    config.silent = true;
    Board board(config);
    Host host(board);
    host.exchange(command("drive_prog 0"));
    EXPECT_FALSE(board.fpga().init());
    EXPECT_EQ(board.commandsSeen(), QStringList{"drive_prog 0"});
}

TEST(BoardFaults, AClosedLinkIgnoresEverythingAfterwards) {
    BoardConfig config;
    config.closeAfterBytes = 3;
    Board board(config);
    Host host(board);
    host.exchange(command("drive_prog 0"));
    EXPECT_TRUE(board.linkClosed());
    EXPECT_TRUE(board.fpga().init()) << "the command never reached the controller";
    EXPECT_EQ(board.hostBytes(), command("drive_prog 0"));
}

TEST(BoardFaults, GarbageIsInsertedBetweenTheRealBytes) {
    BoardConfig config;
    config.garbageRate = 1;
    Board board(config);
    Host host(board);
    const QByteArray reply = host.exchange(command("get_config"));
    ASSERT_EQ(reply.size(), 8);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(reply[2 * i + 1], Ack[i]);
}

TEST(BoardFaults, AStuckFlashStaysBusyAfterItsFirstWriteCycle) {
    BoardConfig config;
    config.spiStuckBusy = StuckBusy::EveryCycle;
    Board board(config);
    Host host(board);
    const QByteArray poll = command("sf_transfer 2") + QByteArray::fromHex("0500");
    host.exchange(command("sf_transfer 1") + QByteArray::fromHex("06"));
    host.exchange(command("sf_transfer 2") + QByteArray::fromHex("0100"));
    host.nowUs += 60'000'000;
    EXPECT_EQ(host.exchange(poll).mid(4, 2), QByteArray::fromHex("FF03"));
}

TEST(BoardFaults, AHungServerLeavesTheControllerAnswering) {
    BoardConfig config;
    config.serverRunning = true;
    config.serverSilentAfterBytes = 14; // inside the write header
    Board board(config);
    Host host(board);
    host.exchange("w\r" + be32(0) + be32(256) + be32(128));
    EXPECT_EQ(host.exchange(QByteArray(127, '\x55') + '\0'), QByteArray()) << "no A";
    EXPECT_EQ(host.exchange(command("get_config")), Ack);
}

#include "SimTestSupport.h"

#include "sim/BitstreamBuilder.h"
#include "sim/ServerBitstream.h"

#include <gtest/gtest.h>

using simtest::Ack;
using simtest::be32;
using simtest::command;
using simtest::Host;

namespace {

// The configuration sequence's commands around a download of the given file.
void loadBitstream(Host& host, const QByteArray& file) {
    for (const char* c : {"load_config 1", "drive_prog 0", "drive_mode 7", "spi_mode 1",
                          "drive_prog 1", "read_init", "drive_mode 8", "fpga_rst 1"})
        host.exchange(command(c));
    host.exchange(command(qPrintable(QString("ss_program %1").arg(file.size()))) + file);
    for (const char* c : {"read_init", "read_done", "spi_mode 0", "load_config 0", "fpga_rst 0"})
        host.exchange(command(c));
}

BoardConfig serverRunning() {
    BoardConfig config;
    config.serverRunning = true;
    return config;
}

QByteArray bytes(int n, int seed) {
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out.append(char((i * 37 + seed) & 0xFF));
    return out;
}

} // namespace

TEST(BoardServer, TheProbeIsAnsweredOnlyWhileTheServerBitstreamRuns) {
    Board board;
    Host host(board);
    EXPECT_EQ(host.exchange("x\r"), QByteArray());
    loadBitstream(host, buildBitFile(buildConfigPayload()));
    EXPECT_EQ(host.exchange("x\r"), QByteArray()) << "an ordinary design";
    loadBitstream(host, serverBitFile());
    EXPECT_TRUE(board.serverRunning());
    EXPECT_TRUE(host.exchange("x\r").contains("036"));
    host.exchange(command("drive_prog 0") + command("drive_prog 1"));
    EXPECT_EQ(host.exchange("x\r"), QByteArray()) << "a PROG pulse stops it";
}

TEST(BoardServer, TheServerWaitsWhileTheFpgaLogicIsHeldInReset) {
    Board board(serverRunning());
    Host host(board);
    host.exchange(command("fpga_rst 1"));
    EXPECT_EQ(host.exchange("x\r"), QByteArray());
    host.exchange(command("fpga_rst 0"));
    EXPECT_EQ(host.exchange("x\r"), QByteArray(BpiServer::Banner));
}

TEST(BoardServer, ControllerCommandsStillWorkBetweenServerCommands) {
    Board board(serverRunning());
    Host host(board);
    EXPECT_EQ(host.exchange("i\r" + command("get_config")).right(4), Ack);
    EXPECT_EQ(board.serverCommandsSeen(), QStringList{"i"});
    EXPECT_EQ(board.commandsSeen(), QStringList{"get_config"});
}

TEST(BoardServer, IdentificationNamesTheParallelFlash) {
    Board board(serverRunning());
    Host host(board);
    const QByteArray text = host.exchange("i\r");
    EXPECT_TRUE(text.contains("0x01")) << text.toStdString();
    EXPECT_TRUE(text.contains("0x227E 0x2221 0x2201")) << text.toStdString();
}

TEST(BoardServer, ProgrammingAcknowledgesEachBurstAndDropsThePadByteOfAnOddOne) {
    struct Row {
        quint32 offset, count, burst;
        QList<int> bursts; // data bytes in each burst, as the program sends them
    };
    const Row rows[] = {
        {0x200, 256, 128, {128, 128}},
        {0, 300, 128, {128, 128, 44}},
        {0x10, 5, 128, {5}},
        {0x1000, 7, 3, {3, 3}}, // 3 + pad, then 3 + pad: positions 0 and 4
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.count);
        Board board(serverRunning());
        Host host(board);
        EXPECT_EQ(host.exchange("w\r"), QByteArray("w\r\n"));
        EXPECT_EQ(host.exchange(be32(row.offset) + be32(row.count) + be32(row.burst)),
                  QByteArray());
        qint64 position = 0;
        for (int length : row.bursts) {
            const QByteArray data = bytes(length, int(position));
            const QByteArray pad = length % 2 ? QByteArray(1, '\0') : QByteArray();
            EXPECT_EQ(host.exchange(data + pad), QByteArray("A"));
            EXPECT_EQ(board.bpiFlash().read(row.offset + position, length), data);
            if (!pad.isEmpty()) {
                EXPECT_EQ(board.bpiFlash().read(row.offset + position + length, 1), "\xFF");
            }
            position += length + pad.size();
        }
        EXPECT_EQ(host.exchange(command("get_config")), Ack) << "the command is over";
    }
}

TEST(BoardServer, ReadAndVerifySendExactlyTheCountFromTheOffset) {
    for (char letter : {'r', 'v'}) {
        Board board(serverRunning());
        const QByteArray image = bytes(1000, 3);
        board.bpiFlash().array().load(QByteArray(0x300, '\xFF') + image);
        Host host(board);
        EXPECT_EQ(host.exchange(QByteArray(1, letter) + '\r'), QByteArray(1, letter) + "\r\n");
        EXPECT_EQ(host.exchange(be32(0x300) + be32(1000)), image);
        EXPECT_EQ(host.exchange("x\r"), QByteArray(BpiServer::Banner));
    }
}

TEST(BoardServer, ProgrammingDataThatLooksLikeCommandsStaysData) {
    Board board(serverRunning());
    Host host(board);
    const QByteArray data = command("drive_prog 0") + "x\r";
    host.exchange("w\r" + be32(0) + be32(data.size()) + be32(128));
    EXPECT_EQ(host.exchange(data + QByteArray(data.size() % 2, '\0')), QByteArray("A"));
    EXPECT_TRUE(board.serverRunning());
    EXPECT_EQ(board.bpiFlash().read(0, data.size()), data);
}

TEST(BoardServer, EraseTakesTheChipEraseTimeThenReports) {
    BoardConfig config = serverRunning();
    config.timeScale = 0.001; // 128 blocks of 0.5 s: 64 ms
    Board board(config);
    board.bpiFlash().memory()[5] = 0;
    Host host(board);
    EXPECT_EQ(host.exchange("e\r", 10'000), QByteArray("Erasing flash...\r\n"));
    EXPECT_EQ(host.exchange({}, 50'000), QByteArray());
    EXPECT_EQ(host.exchange({}, 10'000), QByteArray("Erase complete\r\n"));
    EXPECT_EQ(board.bpiFlash().read(5, 1), "\xFF");
}

TEST(BoardServer, ProgrammingAtTheLineRateIsPacedByTheAcknowledgements) {
    BoardConfig config = serverRunning();
    config.baud = 115200;
    Board board(config);
    Host host(board);
    host.exchange("w\r" + be32(0) + be32(11520) + be32(128));
    // The host sends a burst only after the previous "A"; 90 bursts of 128 bytes.
    const std::int64_t start = host.nowUs;
    for (int i = 0; i < 90; ++i)
        ASSERT_GT(host.replyTimeUs(QByteArray(128, char(i))), 0);
    EXPECT_GE(host.nowUs - start, 1'000'000) << "11,520 bytes cannot pass in under a second";
    EXPECT_LE(host.nowUs - start, 1'200'000);
}

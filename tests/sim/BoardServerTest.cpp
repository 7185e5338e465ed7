#include "SimTestSupport.h"

#include "sim/BitstreamBuilder.h"
#include "sim/ServerBitstream.h"

#include <gtest/gtest.h>

using simtest::Ack;
using simtest::be32;
using simtest::command;
using simtest::Host;

namespace {

QByteArray bytes(int n, int seed) {
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out.append(char((i * 37 + seed) & 0xFF));
    return out;
}

} // namespace

TEST(BoardServer, TheProbeIsAnsweredOnlyWhileTheServerBitstreamRuns) {
    Board board;
    Host host{board};
    const auto load = [&](const QByteArray& file) {
        for (const char* c : {"load_config 1", "drive_prog 0", "drive_mode 7", "spi_mode 1",
                              "drive_prog 1", "drive_mode 8", "fpga_rst 1"})
            host.exchange(command(c));
        host.exchange(command(qPrintable(QString("ss_program %1").arg(file.size()))) + file);
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

TEST(BoardServer, ProgrammingAcknowledgesEachBurstAndDropsThePadByteOfAnOddOne) {
    const struct {
        quint32 offset, count, burst;
        QList<int> bursts; // data bytes in each burst, as the program sends them
    } rows[] = {
        {0x200, 256, 128, {128, 128}},
        {0, 300, 128, {128, 128, 44}},
        {0x1000, 7, 3, {3, 3}}, // 3 + pad, then 3 + pad: positions 0 and 4
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.count);
        Board board({.serverRunning = true});
        Host host{board};
        EXPECT_EQ(host.exchange("w\r"), QByteArray("w\r\n"));
        EXPECT_EQ(host.exchange(be32(row.offset) + be32(row.count) + be32(row.burst)), "");
        qint64 position = 0;
        for (int length : row.bursts) {
            const QByteArray data = bytes(length, int(position));
            const QByteArray pad(length % 2, '\0');
            EXPECT_EQ(host.exchange(data + pad), QByteArray("A"));
            EXPECT_EQ(board.bpiFlash().read(row.offset + position, length + pad.size()),
                      data + QByteArray(pad.size(), '\xFF'));
            position += length + pad.size();
        }
        EXPECT_EQ(host.exchange(command("get_config")), Ack) << "the command is over";
    }
}

TEST(BoardServer, ReadSendsExactlyTheCountFromTheOffset) {
    Board board({.serverRunning = true});
    const QByteArray image = bytes(1000, 3);
    board.bpiFlash().array().load(QByteArray(0x300, '\xFF') + image);
    Host host{board};
    EXPECT_EQ(host.exchange("r\r"), QByteArray("r\r\n"));
    EXPECT_EQ(host.exchange(be32(0x300) + be32(1000)), image);
    EXPECT_EQ(host.exchange("x\r"), QByteArray("MicroBlaze BPI Server v036\r\n"));
}

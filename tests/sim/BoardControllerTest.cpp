#include "SimTestSupport.h"

#include "sim/BitstreamBuilder.h"

#include <gtest/gtest.h>

using simtest::Ack;
using simtest::command;
using simtest::Host;

TEST(BoardController, EveryCommandGetsExactlyTheReplyBytesTheProgramExpects) {
    struct Row {
        QByteArray sent;
        QByteArray reply;
    };
    const QByteArray high("\x01\x00", 2), low("\x00\x00", 2);
    const Row rows[] = {
        {command("get_ver"), QByteArray("1.1.0\0ack\0", 10)},
        {command("get_config"), Ack},
        {command("load_config 1"), Ack},
        {command("load_config 0"), Ack},
        {command("drive_mode 7"), Ack},
        {command("drive_mode 8"), Ack},
        {command("spi_mode 1"), Ack},
        {command("spi_mode 0"), Ack},
        {command("fpga_rst 1"), Ack},
        {command("fpga_rst 0"), Ack},
        {command("read_init"), Ack + high},
        {command("read_done"), Ack + low},
        {command("drive_prog 0") + command("read_init"), Ack + Ack + low},
        {command("drive_prog 1") + command("read_init"), Ack + Ack + high},
        {command("ss_program 0"), Ack},
        {command("sf_transfer 0"), Ack + Ack + Ack},
        // Nothing that is not a command is answered.
        {command("bogus"), {}},
        {command("load_config"), {}},
        {command("load_config x"), {}},
        {command("drive_prog -1"), {}},
        {command("get_ver now"), {}},
        {command(""), {}},
        {"x\r", {}},
        {"get_config", {}},
        // A CR or LF throws a partial line away.
        {"x\r" + command("get_config"), Ack},
        {"get_\nconfig" + command(""), {}},
        {"junk\r\n" + command("get_config"), Ack},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sent.toHex(' ').toStdString());
        Board board;
        Host host(board);
        EXPECT_EQ(host.exchange(row.sent).toHex(' '), row.reply.toHex(' '));
    }
}

TEST(BoardController, RepliesComeAfterAShortLatencyAndWellInsideTheProgramsWaits) {
    struct Row {
        const char* command;
        std::int64_t atLeastUs, withinUs;
    };
    for (Row row : {Row{"get_ver", 1000, 50'000}, Row{"get_config", 100, 20'000},
                    Row{"load_config 1", 100, 15'000}}) {
        Board board;
        Host host(board);
        const std::int64_t took = host.replyTimeUs(command(row.command));
        EXPECT_GE(took, row.atLeastUs) << row.command;
        EXPECT_LE(took, row.withinUs) << row.command;
    }
}

TEST(BoardController, ADownloadPassesEveryByteToTheFpgaAndIsNotAnswered) {
    Board board;
    Host host(board);
    QByteArray data;
    for (int i = 0; i < 130; ++i)
        data.append(char(i * 7)); // NULs, CRs and LFs among them
    EXPECT_EQ(host.exchange(command("ss_program 130") + data), Ack);
    EXPECT_EQ(board.fpga().received(), data);
    EXPECT_EQ(host.exchange(command("get_config")), Ack);
    EXPECT_EQ(board.commandsSeen(), QStringList({"ss_program 130", "get_config"}));
}

TEST(BoardController, AStalledDownloadIsAbandonedAndCommandsWorkAgain) {
    Board board;
    Host host(board);
    host.exchange(command("ss_program 100") + QByteArray(10, '\xFF'));
    host.nowUs += 2'000'000;
    EXPECT_EQ(host.exchange(command("get_config")), Ack);
}

TEST(BoardController, ACompleteConfigurationRaisesDone) {
    Board board;
    Host host(board);
    const QByteArray bit = buildBitFile(buildConfigPayload());
    host.exchange(command("load_config 1") + command("drive_prog 0") + command("drive_mode 7") +
                  command("spi_mode 1") + command("drive_prog 1"));
    EXPECT_EQ(host.exchange(command("read_init")), Ack + QByteArray("\x01\x00", 2));
    host.exchange(command("drive_mode 8") + command("fpga_rst 1"));
    EXPECT_EQ(host.exchange(command(qPrintable("ss_program " + QString::number(bit.size()))) + bit),
              Ack);
    EXPECT_EQ(host.exchange(command("read_init") + command("read_done")),
              Ack + QByteArray("\x01\x00", 2) + Ack + QByteArray("\x01\x00", 2));
    EXPECT_EQ(board.fpga().received(), bit);
}

TEST(BoardController, ASpiTransactionReturnsOneByteForEachByteThenTwoAcknowledgements) {
    Board board;
    Host host(board);
    const QByteArray reply =
        host.exchange(command("sf_transfer 4") + QByteArray::fromHex("9F000000"));
    EXPECT_EQ(reply, Ack + QByteArray::fromHex("FF202015") + Ack + Ack);
    EXPECT_EQ(board.spiTransactions(), QList<QByteArray>{QByteArray::fromHex("9F000000")});
}

TEST(BoardController, APageProgramThroughTransactionsReachesTheFlashAndKeepsItBusy) {
    Board board;
    Host host(board);
    const QByteArray page = QByteArray::fromHex("0200010012345678");
    const QByteArray poll = command("sf_transfer 2") + QByteArray::fromHex("0500");
    const QByteArray twoAcks = Ack + Ack;
    host.exchange(command("sf_transfer 1") + QByteArray::fromHex("06"));
    EXPECT_EQ(host.exchange(command("sf_transfer 8") + page + poll).toHex(' '),
              (Ack + QByteArray(8, '\xFF') + twoAcks + Ack + QByteArray::fromHex("FF03") + twoAcks)
                  .toHex(' '))
        << "busy, with the latch still set, straight after the page";
    EXPECT_EQ(host.exchange(poll), Ack + QByteArray::fromHex("FF00") + twoAcks);
    EXPECT_EQ(board.spi().array().read(0x100, 4), QByteArray::fromHex("12345678"));
    EXPECT_EQ(board.spiTransactions().size(), 4);
}

TEST(BoardController, SpiTransactionBytesAreNeverTakenForCommandText) {
    Board board;
    Host host(board);
    const QByteArray tricky = command("get_ver");
    const QByteArray reply = host.exchange(command("sf_transfer 8") + tricky);
    EXPECT_EQ(reply, Ack + QByteArray(8, '\xFF') + Ack + Ack);
    EXPECT_EQ(board.commandsSeen(), QStringList{"sf_transfer 8"});
}

TEST(BoardController, AtALineRateEveryByteTakesTenBitTimesInEachDirection) {
    BoardConfig config;
    config.baud = 115200;
    Board board(config);
    Host host(board);
    // 16 + 1152 + 11 bytes in, then the four acknowledgement bytes out: about 103 ms.
    const QByteArray sent =
        command("ss_program 1152") + QByteArray(1152, '\xFF') + command("get_config");
    const std::int64_t took = host.replyTimeUs(sent);
    const double byteUs = 1e7 / 115200;
    EXPECT_NEAR(double(took), (sent.size() + 4) * byteUs + config.replyLatencyUs, 2.0);
}

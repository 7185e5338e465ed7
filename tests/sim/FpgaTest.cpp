#include "sim/Fpga.h"
#include "sim/BitstreamBuilder.h"
#include "sim/ServerBitstream.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

PayloadOptions payload(SyncWord sync, bool busWidth = false) {
    PayloadOptions o;
    o.size = 2048;
    o.sync = sync;
    o.busWidthPattern = busWidth;
    return o;
}

// PROG pulse, then the whole download as the controller clocks it.
void configure(Fpga& fpga, const QByteArray& stream) {
    fpga.setProg(false);
    fpga.setProg(true);
    for (char c : stream)
        fpga.receive(quint8(c));
    fpga.endOfStream();
}

} // namespace

TEST(SimFpga, InitAndDoneFollowWhatTheDownloadHeld) {
    const QByteArray bit32 = buildBitFile(buildConfigPayload(payload(SyncWord::Word32)));
    struct Row {
        const char* name;
        QByteArray stream;
        bool initStuckLow;
        bool init, done;
    };
    const Row rows[] = {
        {"a .bit file with the 32-bit sync word", bit32, false, true, true},
        {"a .bin file", buildConfigPayload(payload(SyncWord::Word32)), false, true, true},
        {"the 16-bit sync of Spartan-3A",
         buildBitFile(buildConfigPayload(payload(SyncWord::Half16))), false, true, true},
        {"the 7-series bus-width pattern before the sync word",
         buildConfigPayload(payload(SyncWord::Word32, true)), false, true, true},
        {"Spartan-6: the 32-bit sync word, then 16-bit packets",
         QByteArray::fromHex("FFFFFFFF"
                             "AA995566"
                             "30A10007"
                             "2000"
                             "3060"
                             "5060"
                             "00000002"
                             "12345678"
                             "30A10005"
                             "2000"
                             "30A1000D"
                             "20002000"),
         false, true, true},
        {"no sync word at all", buildBitFile(buildConfigPayload(payload(SyncWord::None))), false,
         false, false},
        {"a stream cut short", bit32.left(bit32.size() - 40), false, true, false},
        {"a stream cut inside its frame data", bit32.left(bit32.size() / 2), false, true, false},
        {"INIT held low on the board", bit32, true, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fpga fpga(row.initStuckLow);
        configure(fpga, row.stream);
        EXPECT_EQ(fpga.init(), row.init);
        EXPECT_EQ(fpga.done(), row.done);
        EXPECT_EQ(fpga.received(), row.stream);
    }
}

TEST(SimFpga, APulseOnProgClearsTheConfigurationAndRaisesInitAgain) {
    Fpga fpga;
    configure(fpga, buildConfigPayload());
    ASSERT_TRUE(fpga.done());
    fpga.setProg(false);
    EXPECT_FALSE(fpga.done());
    EXPECT_FALSE(fpga.init());
    EXPECT_TRUE(fpga.received().isEmpty());
    fpga.setProg(true);
    EXPECT_TRUE(fpga.init());
    EXPECT_EQ(fpga.progPulses(), 2);
}

TEST(SimFpga, AConfigurationErrorLastsUntilTheNextProgPulse) {
    Fpga fpga;
    configure(fpga, QByteArray(64, '\xFF'));
    EXPECT_FALSE(fpga.init());
    configure(fpga, buildConfigPayload());
    EXPECT_TRUE(fpga.init());
    EXPECT_TRUE(fpga.done());
}

TEST(SimFpga, OnlyTheServerDesignIsTakenForTheBpiServer) {
    PayloadOptions marked;
    marked.serverMarker = true;
    PayloadOptions marked16 = marked;
    marked16.sync = SyncWord::Half16;
    struct Row {
        const char* name;
        QByteArray stream;
        bool server;
    };
    const QByteArray server = serverBitFile();
    const Row rows[] = {
        {"the shipped stand-in", server, true},
        {"a marked 16-bit design", buildConfigPayload(marked16), true},
        {"an ordinary design", buildConfigPayload(), false},
        {"the stand-in without its last commands", server.left(server.size() - 30), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fpga fpga;
        configure(fpga, row.stream);
        EXPECT_EQ(fpga.runsServer(), row.server);
    }
}

TEST(SimFpga, BytesAfterTheStartUpSequenceDoNotUndoIt) {
    Fpga fpga;
    configure(fpga, buildConfigPayload() + QByteArray::fromHex("AA995566") + QByteArray(64, 'x'));
    EXPECT_TRUE(fpga.done());
    EXPECT_TRUE(fpga.init());
}

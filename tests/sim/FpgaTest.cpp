#include "sim/Fpga.h"
#include "sim/BitstreamBuilder.h"

#include <gtest/gtest.h>

TEST(SimFpga, InitAndDoneFollowWhatTheDownloadHeld) {
    const auto payload = [](SyncWord sync, bool busWidth = false) {
        return buildConfigPayload({.size = 2048, .busWidthPattern = busWidth, .sync = sync});
    };
    const QByteArray bit32 = buildBitFile(payload(SyncWord::Word32));
    const struct {
        const char* name;
        QByteArray stream;
        bool initStuckLow, init, done;
    } rows[] = {
        {"a .bit file with the 32-bit sync word", bit32, false, true, true},
        {"a .bin file", payload(SyncWord::Word32), false, true, true},
        {"the 16-bit sync word", buildBitFile(payload(SyncWord::Half16)), false, true, true},
        {"the bus-width pattern before the sync word", payload(SyncWord::Word32, true), false, true,
         true},
        {"no sync word at all", buildBitFile(payload(SyncWord::None)), false, false, false},
        {"a stream cut short", bit32.left(bit32.size() - 40), false, true, false},
        {"a stream cut inside its frame data", bit32.left(bit32.size() / 2), false, true, false},
        {"INIT held low on the board", bit32, true, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fpga fpga(row.initStuckLow);
        fpga.setProg(false);
        fpga.setProg(true);
        for (char c : row.stream)
            fpga.receive(quint8(c));
        fpga.endOfStream();
        EXPECT_EQ(fpga.init(), row.init);
        EXPECT_EQ(fpga.done(), row.done);
        EXPECT_EQ(fpga.received(), row.stream);
    }
}

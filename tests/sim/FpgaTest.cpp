#include "sim/Fpga.h"
#include "sim/BitstreamBuilder.h"

#include <gtest/gtest.h>

TEST(SimFpga, InitAndDoneFollowWhatTheDownloadHeld) {
    const auto payload = [](SyncWord sync, bool busWidth = false, quint32 idcode = 0) {
        return buildConfigPayload(
            {.size = 2048, .busWidthPattern = busWidth, .sync = sync, .idcode = idcode});
    };
    const QByteArray bit32 = buildBitFile(payload(SyncWord::Word32));
    const quint32 own = FpgaOptions().idcode;
    const struct {
        const char* name;
        QByteArray stream;
        bool initStuckLow, init, done;
        std::int64_t startUs = 1000; // after the memory clear
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
        {"the device's own IDCODE", payload(SyncWord::Word32, false, own), false, true, true},
        {"its IDCODE of another revision", payload(SyncWord::Half16, false, own ^ 0x30000000),
         false, true, true},
        {"the IDCODE of another part", payload(SyncWord::Word32, false, 0x01C2E093), false, false,
         false},
        {"another part, 16-bit packets", payload(SyncWord::Half16, false, 0x01C2E093), false, false,
         false},
        // Sent while the memory is being cleared, the stream is lost.
        {"a stream sent during the memory clear", bit32, false, false, false, 200},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fpga fpga({.initStuckLow = row.initStuckLow, .clearUs = 1000});
        fpga.setProg(false, 0);
        fpga.setProg(true, 0);
        EXPECT_FALSE(fpga.init(999));
        for (char c : row.stream)
            fpga.receive(quint8(c), row.startUs);
        fpga.endOfStream(2000);
        EXPECT_EQ(fpga.init(2000), row.init);
        EXPECT_EQ(fpga.done(), row.done);
        EXPECT_EQ(fpga.received(), row.stream);
    }
}

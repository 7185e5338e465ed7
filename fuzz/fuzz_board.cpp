// The simulated board's firmware on arbitrary host bytes, written at increasing times with the
// output drained as it arrives: no crash, and what the board sends stays in proportion to what
// it was sent.
#include "FuzzSupport.h"
#include "sim/Board.h"
#include "sim/SpiChipTable.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// The server answers a read of any length at once, with all of it (a header can ask for 4 GB):
// its read and verify commands are left out so that the rest can be searched.
void withoutServerReads(QByteArray& bytes, char& previous) {
    for (char& c : bytes) {
        if (c == '\r' && (previous == 'r' || previous == 'v'))
            c = '\n';
        previous = c;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    BoardConfig config;
    const auto& chips = spiChipTable();
    config.spiChip = chips[in.ConsumeIntegralInRange<std::size_t>(0, chips.size() - 1)].name;
    config.serverRunning = in.ConsumeBool();
    config.spiPowerUpProtected = in.ConsumeBool();
    config.baud = in.ConsumeBool() ? 115200 : 0;
    config.timeScale = in.ConsumeBool() ? 0.001 : 1.0;
    config.seed = in.ConsumeIntegral<std::uint8_t>();
    if (in.ConsumeBool()) {
        config.dropAckRate = 0.2;
        config.garbageRate = 0.05;
        config.ackDelayUs = 16000;
    }
    Board board(config);

    std::int64_t now = 0;
    qint64 sent = 0, received = 0;
    char previous = 0;
    while (in.remaining_bytes() > 0) {
        now += in.ConsumeIntegralInRange<std::int64_t>(0, 3'000'000);
        QByteArray bytes = QByteArray::fromStdString(in.ConsumeRandomLengthString(300));
        withoutServerReads(bytes, previous);
        board.receive(bytes, now);
        sent += bytes.size();
        const qint64 most = in.ConsumeIntegralInRange<qint64>(-1, 4096);
        const QByteArray out = board.takeOutput(now, most);
        FUZZ_CHECK(most < 0 || out.size() <= most);
        received += out.size();
    }
    // Everything still on its way arrives within the longest erase.
    received += board.takeOutput(now + 3600LL * 1'000'000).size();
    FUZZ_CHECK(board.nextOutputUs() < 0);
    // The longest answer to one command is the server's identification text.
    FUZZ_CHECK(received <= 64 * sent + 1024);
    return 0;
}

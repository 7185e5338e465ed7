// The part name from a bitstream's first bytes: only those 64 bytes count, and the answer is
// a family code's text up to a NUL, empty, or "Not recognized".
#include "FuzzSupport.h"
#include "fpga/BitfileHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzzBytes(data, size);
    const QString device = deviceFromHeader(bytes);
    FUZZ_CHECK(device == deviceFromHeader(bytes.left(64)));
    if (device == "Not recognized") {
        const QByteArray head = bytes.left(64);
        FUZZ_CHECK(!head.contains("3s") && !head.contains("4v") && !head.contains("5v"));
        return 0;
    }
    FUZZ_CHECK(device.size() <= 64);
    FUZZ_CHECK(!device.contains(QChar(0)));
    if (!device.isEmpty())
        FUZZ_CHECK(device.startsWith("3s") || device.startsWith("4v") || device.startsWith("5v"));
    return 0;
}

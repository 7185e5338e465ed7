// The flash description reader on arbitrary text: it either fills the description or throws a
// RuntimeError with one of the numbers it documents, and its tables stay consistent.
#include "FuzzSupport.h"
#include "spi/SpiDeviceFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray text = fuzzBytes(data, size);
    SpiDescription d;
    try {
        readSpiDeviceText(text, d);
    } catch (const RuntimeError& e) {
        const int n = e.number();
        FUZZ_CHECK(n == RuntimeError::TypeMismatch || n == RuntimeError::Overflow ||
                   n == RuntimeError::SubscriptOutOfRange || n == RuntimeError::InputPastEnd);
        FUZZ_CHECK(!e.description().isEmpty());
        (void)spiDeviceFailureMessage(e);
    }
    // Byte fields hold two hexadecimal digits, the long ones at most a 32-bit signed value.
    for (std::int16_t v :
         {d.WREN, d.WESR, d.WRDI, d.WDSR, d.RDID, d.RDSR, d.WRSR, d.READ, d.PGPM, d.BLKE,
          d.ESTM, d.ESST, d.PSTM, d.PSST, d.UABL, d.NIDB, d.ABSZ, d.MEPI, d.MPPI, d.DUMB})
        FUZZ_CHECK(v >= 0 && v <= 0xFF);
    FUZZ_CHECK(d.MBPP >= 0 && d.BPRD >= 0);
    FUZZ_CHECK(d.IDM1.size() == d.IDM2.size());
    if (d.hasIdTables())
        FUZZ_CHECK(d.IDM1.size() <= 0x100);
    return 0;
}

// Writes the generated seed files for the fuzz corpora: bitstreams of each shape the simulated
// tools make, and the host side of typical sessions with the board.
#include "sim/BitstreamBuilder.h"
#include "sim/ServerBitstream.h"

#include <QDir>
#include <QFile>
#include <cstdio>

namespace {

bool save(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray command(const char* text) {
    return QByteArray(text) + '\0';
}

// Only the first 64 bytes of a bitstream are looked at.
bool saveBitstreams(const QString& bits) {
    bool ok = true;
    const struct {
        const char* name;
        SyncWord sync;
        const char* part;
        const char* design;
    } shapes[] = {
        {"spartan3", SyncWord::Word32, "3s200pq208", "top.ncd;UserID=0xFFFFFFFF"},
        {"spartan3a", SyncWord::Half16, "3s700an", "design.ncd"},
        {"virtex4", SyncWord::Word32, "4vlx25ff668", "v4.ncd"},
        {"virtex5", SyncWord::Word32, "5vlx50tff1136", "a_long_design_name_that_fills.ncd"},
        {"nosync", SyncWord::None, "3s500e", "x.ncd"}};
    for (const auto& s : shapes) {
        const QByteArray payload = buildConfigPayload({.size = 256, .sync = s.sync});
        const QByteArray file = buildBitFile(payload, {.designName = s.design, .partName = s.part});
        ok = save(bits + "/" + s.name + ".bit", file.left(96)) && ok;
    }
    ok = save(bits + "/server.bit", serverBitFile().left(96)) && ok;
    ok = save(bits + "/raw.bin", buildConfigPayload({.size = 64})) && ok;

    return ok;
}

// The host bytes of a board's sessions, for the firmware's command parser. The fuzz target
// reads option bytes from the end of its input first, so these start with the commands.
bool saveSessions(const QString& board) {
    bool ok = true;
    QByteArray connect = command("get_ver") + "x\r";
    ok = save(board + "/connect", connect) && ok;
    QByteArray spiId = command("load_config 1") + command("drive_prog 0") + command("spi_mode 0") +
                       command("sf_transfer 4") + QByteArray("\x9f\x00\x00\x00", 4) +
                       command("drive_prog 1") + command("load_config 0");
    ok = save(board + "/spi-id", spiId) && ok;
    QByteArray program =
        command("load_config 1") + command("sf_transfer 1") + QByteArray(1, '\x06') +
        command("sf_transfer 8") + QByteArray("\x02\x00\x01\x00\x11\x22\x33\x44", 8) +
        command("sf_transfer 2") + QByteArray("\x05\x00", 2) + command("load_config 0");
    ok = save(board + "/spi-program", program) && ok;
    const QByteArray small = buildBitFile(buildConfigPayload({.size = 256}));
    QByteArray fpga = command("load_config 1") + command("drive_prog 0") + command("drive_mode 7") +
                      command("spi_mode 1") + command("drive_prog 1") + command("read_init") +
                      command("drive_mode 8") + command("fpga_rst 1") +
                      command(qPrintable(QString("ss_program %1").arg(small.size()))) + small +
                      command("read_init") + command("read_done") + command("spi_mode 0") +
                      command("load_config 0") + command("fpga_rst 0");
    ok = save(board + "/fpga", fpga) && ok;
    QByteArray bpi = QByteArray("x\ri\re\rw\r") +
                     QByteArray("\x00\x00\x00\x00\x00\x00\x00\x04"
                                "\x00\x00\x00\x02",
                                12) +
                     QByteArray("\x12\x34\x56\x78", 4);
    ok = save(board + "/bpi-program", bpi) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zbpu-fuzz-seeds BITHEADER_DIR BOARD_DIR\n");
        return 2;
    }
    const QString bits = QString::fromLocal8Bit(argv[1]);
    const QString board = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(bits);
    QDir().mkpath(board);
    bool ok = saveBitstreams(bits);
    ok = saveSessions(board) && ok;
    if (!ok)
        std::fprintf(stderr, "zbpu-fuzz-seeds: could not write every seed\n");
    return ok ? 0 : 1;
}

#include "sim/BitstreamBuilder.h"
#include "sim/ServerBitstream.h"

#include <QFile>
#include <cstdio>

// Writes the stand-in BPI server bitstream that the build places beside the program.
int main(int argc, char** argv) {
    const char* usage = "usage: zbpu-mkserver OUT [PAYLOAD_BYTES]\n"
                        "  with a size: an ordinary design of that size instead of the server\n";
    const QByteArray first = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (first == "--help" || first == "-h") {
        std::fputs(usage, stdout);
        return 0;
    }
    // An option is never taken for the file to write.
    if ((argc != 2 && argc != 3) || first.startsWith('-')) {
        std::fputs(usage, stderr);
        return 2;
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    const QByteArray bytes =
        argc == 3 ? buildBitFile(buildConfigPayload({.size = QByteArray(argv[2]).toLongLong()}))
                  : serverBitFile();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "zbpu-mkserver: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

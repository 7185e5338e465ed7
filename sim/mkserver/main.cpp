#include "sim/ServerBitstream.h"

#include <QFile>
#include <cstdio>

// Writes the stand-in BPI server bitstream that the build places beside the program.
int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zbpu-mkserver OUT\n");
        return 2;
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    const QByteArray bytes = serverBitFile();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "zbpu-mkserver: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

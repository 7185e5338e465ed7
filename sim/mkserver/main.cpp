#include "sim/BitstreamBuilder.h"
#include "sim/ServerBitstream.h"

#include <QByteArrayList>
#include <QFile>
#include <cstdio>

// Writes the stand-in BPI server bitstream that the build places beside the program.
int main(int argc, char** argv) {
    const char* usage =
        "usage: zbpu-mkserver -o FILE [PAYLOAD_BYTES]\n"
        "       zbpu-mkserver FILE [PAYLOAD_BYTES]\n"
        "  -o, --output FILE   the bitstream to write\n"
        "  PAYLOAD_BYTES       an ordinary design of that size instead of the server\n"
        "  -h, --help          this text\n";
    QByteArray output;
    QByteArrayList rest;
    bool bad = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--help" || a == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (a == "-o" || a == "--output") {
            if (i + 1 >= argc || !output.isEmpty()) {
                bad = true;
                break;
            }
            output = argv[++i];
        } else if (a.startsWith("--output=")) {
            bad = bad || !output.isEmpty();
            output = a.mid(9);
        } else if (a.startsWith('-')) {
            // An option is never taken for the file to write.
            bad = true;
        } else {
            rest << a;
        }
    }
    // The older form names the file first, without -o.
    if (!bad && output.isEmpty() && !rest.isEmpty())
        output = rest.takeFirst();
    if (bad || output.isEmpty() || rest.size() > 1) {
        std::fputs(usage, stderr);
        return 2;
    }
    bool sized = false;
    const qint64 size = rest.isEmpty() ? 0 : rest[0].toLongLong(&sized);
    if (!rest.isEmpty() && (!sized || size <= 0)) {
        std::fprintf(stderr, "zbpu-mkserver: %s is not a size in bytes\n", rest[0].constData());
        return 2;
    }
    QFile out(QString::fromLocal8Bit(output));
    const QByteArray bytes =
        sized ? buildBitFile(buildConfigPayload({.size = size})) : serverBitFile();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "zbpu-mkserver: cannot write %s\n", output.constData());
        return 1;
    }
    return 0;
}

#include "FakePort.h"

FakePort::Responder FakePort::controller(int delayMs, QByteArray versionReply,
                                         QByteArray probeReply) {
    return [=](const QByteArray& written) -> QList<Reply> {
        if (written == QByteArray("get_ver", 8))
            return {{delayMs, versionReply}};
        if (written == "x\r" && !probeReply.isEmpty())
            return {{5, probeReply}};
        if (written.endsWith('\0'))
            return {{delayMs, QByteArray("ack\0", 4)}};
        return {};
    };
}

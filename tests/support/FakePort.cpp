#include "FakePort.h"

FakePort::Responder FakePort::controller(QByteArray version, int delayMs) {
    return [version, delayMs](const QByteArray& written) -> QList<Reply> {
        if (written == QByteArray("get_ver", 8))
            return {{delayMs, version + QByteArray("\0ack\0", 5)}};
        if (written.endsWith('\0'))
            return {{delayMs, QByteArray("ack\0", 4)}};
        return {};
    };
}

#include "link/ControllerProtocol.h"

namespace protocol {

QByteArray frame(const QString& command) {
    QByteArray bytes = command.toLatin1();
    bytes.append('\0');
    return bytes;
}

bool isAcknowledgement(const QByteArray& four) {
    return four.size() == 4 && four.startsWith("ack") && four[3] == '\0';
}

QByteArray announced(const QByteArray& transaction) {
    return frame(QString("sf_transfer %1").arg(transaction.size())) + transaction;
}

std::int64_t lineTimeUs(qsizetype bytes, const QString& settings) {
    const int baud = settings.section(',', 0, 0).toInt();
    return baud > 0 ? std::int64_t(bytes) * 10'000'000 / baud : 0;
}

bool wellFormedTransaction(const QByteArray& reply, int sent, bool closed) {
    const int whole = TransactionReplyBytes(sent) - (closed ? 0 : 4);
    return reply.size() == whole && isAcknowledgement(reply.first(4)) &&
           isAcknowledgement(reply.sliced(4 + sent, 4)) &&
           (!closed || isAcknowledgement(reply.last(4)));
}

VersionVerdict judgeVersionReply(const QByteArray& reply) {
    if (!reply.contains("ack"))
        return VersionVerdict::NoController;
    if (!reply.contains(RequiredFirmware.toLatin1()))
        return VersionVerdict::WrongVersion;
    return VersionVerdict::Compatible;
}

QString detectedVersion(const QByteArray& reply) {
    const int nul = int(reply.indexOf('\0'));
    return QString::fromLatin1(nul < 0 ? reply : reply.left(nul));
}

} // namespace protocol

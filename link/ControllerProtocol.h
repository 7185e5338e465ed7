#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// The board controller's wire format: text commands ended by one NUL, "ack"+NUL answers.
namespace protocol {

inline const QString RequiredFirmware = QStringLiteral("1.1.0");
inline const QString ServerVersion = QStringLiteral("036");
// How long a reply may take before it counts as missing: replies late by a USB adapter's
// latency timer, a busy host or a slow firmware are only slower.
constexpr int ReplyDeadlineMs = 400;
// The command text followed by its NUL terminator, for one write.
QByteArray frame(const QString& command);
// "sf_transfer n" for the transaction's bytes, followed by them: one write.
QByteArray announced(const QByteArray& transaction);
// What the controller's firmware can hold of bytes it has not yet taken: more sent ahead of
// its answers may be lost.
constexpr int ReceiveBufferBytes = 128;
// The reply to an announced transaction: the command's acknowledgement, one byte for each byte
// sent, then two closing acknowledgements.
constexpr int TransactionReplyBytes(int sent) {
    return 12 + sent;
}
// Whether reply is that whole reply, acknowledgements where they belong; `closed` false when
// the last acknowledgement is left out.
bool wellFormedTransaction(const QByteArray& reply, int sent, bool closed = true);

// How long bytes take on the line at the port's settings ("115200,N,8,1": ten bits a byte).
std::int64_t lineTimeUs(qsizetype bytes, const QString& settings);

// Four bytes read together are an acknowledgement when they are "ack" and a NUL.
bool isAcknowledgement(const QByteArray& four);

enum class VersionVerdict { NoController, WrongVersion, Compatible };
// Judges the whole reply to "get_ver".
VersionVerdict judgeVersionReply(const QByteArray& reply);
// The version text shown to the operator: the reply up to its first NUL.
QString detectedVersion(const QByteArray& reply);

} // namespace protocol

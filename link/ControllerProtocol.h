#pragma once

#include <QByteArray>
#include <QString>

// The board controller's wire format: text commands ended by one NUL, "ack"+NUL answers.
namespace protocol {

inline const QString RequiredFirmware = QStringLiteral("1.1.0");
inline const QString ServerVersion = QStringLiteral("036");
// How long a reply may take before it counts as missing: replies late by a USB adapter's
// latency timer, a busy host or a slow firmware are only slower.
constexpr int ReplyDeadlineMs = 400;
// The command text followed by its NUL terminator, for one write.
QByteArray frame(const QString& command);

// Four bytes read together are an acknowledgement when they are "ack" and a NUL.
bool isAcknowledgement(const QByteArray& four);

enum class VersionVerdict { NoController, WrongVersion, Compatible };
// Judges the whole reply to "get_ver".
VersionVerdict judgeVersionReply(const QByteArray& reply);
// The version text shown to the operator: the reply up to its first NUL.
QString detectedVersion(const QByteArray& reply);

} // namespace protocol

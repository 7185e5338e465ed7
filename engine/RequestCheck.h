#pragma once

#include "engine/OperationRequest.h"

#include <QString>

// What every request is checked against before anything is sent: why it cannot run, or empty.
// A refusal names the value and the limit it breaks.
namespace requestcheck {

// Valid timing values: an interval the timer can run on, a limit the counter can pass, at least
// one poll.
QString timing(const OperationRequest::Timing& t);
// A range within a target of `size` bytes; `what` names the target in the message.
QString range(const OperationRequest& r, std::int64_t size, const QString& what);
// The parallel flash request against the flash's size.
QString bpi(const OperationRequest& r, std::int64_t flashSize);

// A parallel flash without a size of its own reported is taken as 16 MiB.
constexpr std::int64_t BpiFlashSize = 16 * 1024 * 1024;
// What the server's burst field and buffer allow.
constexpr int LargestBurst = 65536;

QString hexAddress(std::int64_t value);

} // namespace requestcheck

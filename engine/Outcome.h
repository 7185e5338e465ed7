#pragma once

#include <QString>
#include <cstdint>
#include <exception>

// How an operation ended, as a value: the command line's exit status comes from this and
// never from the wording of a message or console line.
struct Outcome {
    enum class Kind { None, Succeeded, Failed, Refused, Abandoned };
    Kind kind = Kind::None;
    QString message;

    bool succeeded() const { return kind == Kind::Succeeded; }
};

// The status line at the end of an operation: "SPI Program: successful in 12.4 s", or
// "... failed after 3.1 s (the first line of its message)".
QString statusLine(const QString& operation, const Outcome& outcome, std::int64_t elapsedUs);

// Unwinds a step whose operation was abandoned (port closed, window closed, interrupted):
// nothing more may be sent or shown for it.
class OperationAbandoned : public std::exception {
public:
    const char* what() const noexcept override { return "operation abandoned"; }
};

#pragma once

#include <QString>
#include <exception>

// How an operation ended, as a value: the command line's exit status comes from this and
// never from the wording of a message or console line.
struct Outcome {
    enum class Kind { None, Succeeded, Failed, Refused, Abandoned };
    Kind kind = Kind::None;
    QString message;

    bool succeeded() const { return kind == Kind::Succeeded; }
};

// Unwinds a step whose operation was abandoned (port closed, window closed, interrupted):
// nothing more may be sent or shown for it.
class OperationAbandoned : public std::exception {
public:
    const char* what() const noexcept override { return "operation abandoned"; }
};

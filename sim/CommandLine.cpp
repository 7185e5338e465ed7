#include "sim/CommandLine.h"

CommandLine::Event CommandLine::feed(quint8 byte) {
    if (byte == 0) {
        Event event{line_.isEmpty() ? Event::None : Event::Controller, line_};
        line_.clear();
        return event;
    }
    if (byte == '\r' || byte == '\n') {
        const bool letter = byte == '\r' && line_.size() == 1 && line_[0] >= 'a' && line_[0] <= 'z';
        Event event{letter ? Event::Server : Event::None, letter ? line_ : QString()};
        line_.clear();
        return event;
    }
    if (line_.size() >= MaxLength)
        line_.clear();
    line_.append(QChar(byte));
    return {};
}

#pragma once

#include <QString>

// Splits the text the host sends into commands: controller commands end with NUL, server
// commands are one lower-case letter ended by CR. A CR or LF ends and discards any other
// partial line, so that a server probe sent while no server runs leaves nothing behind.
class CommandLine {
public:
    struct Event {
        enum Kind { None, Controller, Server } kind = None;
        QString text; // the controller command, or the server letter
    };

    Event feed(quint8 byte);
    void clear() { line_.clear(); }

    static constexpr int MaxLength = 256; // longer lines are noise, not commands

private:
    QString line_;
};

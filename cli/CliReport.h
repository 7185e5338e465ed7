#pragma once

#include "engine/Outcome.h"

#include <QJsonObject>
#include <QStringList>
#include <optional>

// Exit statuses; interrupted as a shell reports a program ended by Ctrl-C.
namespace cliexit {
constexpr int Success = 0, Failure = 1, Usage = 2, Interrupted = 130;
}

// What is known of one finished operation, for its JSON object.
struct CliRecord {
    QStringList words;
    int code = cliexit::Success;
    double seconds = 0;
    Outcome outcome;
    // A question was answered No.
    bool declined = false;
    // The operation's own account, then the last message box it showed and the last console
    // line: a failure says what failed from the first of them there is.
    QString message;
    std::optional<QString> lastBox;
    QString lastLine;
    // The device: the one the operation found or named, the flash devices known, and the
    // flash and server chosen.
    QString named;
    QStringList flashDevices;
    std::optional<QString> selectedFlash, selectedServer;
    std::optional<QString> port;
    // The operation's bytes and, when it did not succeed, the percentage it reached.
    qint64 bytes = 0;
    int percentSeen = 0;
};

// One JSON object per operation, for production logs.
QJsonObject cliRecordObject(const CliRecord& record);
// The object on one line of standard output.
void printCliRecord(const CliRecord& record);

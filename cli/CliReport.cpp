#include "cli/CliReport.h"

#include "cli/CliFrontEnd.h"
#include "cli/CliOptions.h"

#include <QJsonDocument>
#include <cmath>
#include <cstdio>

namespace {

QString resultOf(const CliRecord& r) {
    using cliexit::Success, cliexit::Usage, cliexit::Interrupted;
    QString result = r.code == Success ? "succeeded" : r.code == Usage ? "refused" : "failed";
    if (r.code == Interrupted || r.outcome.kind == Outcome::Kind::Abandoned)
        result = "abandoned";
    else if (r.code != Success && (r.declined || r.outcome.kind == Outcome::Kind::Refused))
        result = "refused";
    return result;
}

// A failure says what failed: the operation's own account, then the program's word, then
// the last message box of the operation.
QString messageOf(const CliRecord& r) {
    const bool failed = r.code != cliexit::Success;
    QString message = failed ? r.outcome.message : QString();
    if (message.isEmpty())
        message = r.message;
    if (message.isEmpty() && failed && r.lastBox)
        message = (r.declined ? "declined: " : "") + *r.lastBox;
    if (message.isEmpty())
        message = r.lastLine;
    return cliWording(message)
        .replace("\r\n", " ")
        .replace("\n\r", " ")
        .replace('\n', ' ')
        .trimmed();
}

QJsonValue deviceOf(const CliRecord& r) {
    const QString op = operationName(r.words);
    if (op.startsWith("spi ") && r.words.size() >= 3) {
        // The description file's own spelling of the name given.
        QJsonValue device = r.words[1];
        for (const QString& name : r.flashDevices)
            if (name.compare(r.words[1], Qt::CaseInsensitive) == 0)
                device = name;
        return device;
    }
    if (op == "spi detect" && !r.named.isEmpty())
        return r.named;
    if (op.startsWith("spi ") && r.selectedFlash)
        return *r.selectedFlash;
    if (op == "fpga" && !r.named.isEmpty())
        return r.named;
    if (op == "bpi load" && r.selectedServer)
        return *r.selectedServer;
    return {};
}

} // namespace

QJsonObject cliRecordObject(const CliRecord& r) {
    const qint64 bytes = r.code == cliexit::Success ? r.bytes : r.bytes * r.percentSeen / 100;
    return {{"operation", operationName(r.words)},
            {"device", deviceOf(r)},
            {"port", r.port ? QJsonValue(*r.port) : QJsonValue()},
            {"result", resultOf(r)},
            {"message", messageOf(r)},
            {"bytes", bytes},
            {"seconds", std::round(r.seconds * 1000) / 1000}};
}

void printCliRecord(const CliRecord& record) {
    std::fprintf(stdout, "%s\n",
                 QJsonDocument(cliRecordObject(record)).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

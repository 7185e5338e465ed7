#include "cli/CliOptions.h"

std::optional<CliOptions> CliOptions::parse(const QStringList& args, QString& error) {
    CliOptions o;
    const QStringList valued = {"--port",   "--timer-ms", "--timeout-limit", "--poll-limit",
                                "--offset", "--bytes",    "--burst",         "--erase-limit"};
    for (int i = 0; i < args.size(); ++i) {
        // --opt=value is --opt value.
        const qsizetype eq = args[i].startsWith("--") ? args[i].indexOf('=') : -1;
        const QString a = eq > 0 ? args[i].left(eq) : args[i];
        if (eq > 0 && !valued.contains(a)) {
            error = "option " + a + " takes no value";
            return std::nullopt;
        }
        if (valued.contains(a)) {
            if (eq < 0 && i + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            const QString v = eq > 0 ? args[i].mid(eq + 1) : args[++i];
            if (a == "--port")
                o.port = v;
            else if (a == "--timer-ms")
                o.timerMs = v;
            else if (a == "--timeout-limit")
                o.timeoutLimit = v;
            else if (a == "--poll-limit")
                o.pollLimit = v;
            else if (a == "--offset")
                o.offset = v;
            else if (a == "--bytes")
                o.bytes = v;
            else if (a == "--erase-limit")
                o.eraseLimit = v;
            else
                o.burst = v;
        } else if (a == "--no-board-check") {
            o.noBoardCheck = true;
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--paced") {
            o.paced = true;
        } else if (a == "--pipeline") {
            o.pipeline = true;
        } else if (a == "--fast-ack") {
            // The default now; still taken from older scripts.
        } else if (a == "--help" || a == "-h" || (a == "help" && o.words.isEmpty())) {
            o.help = true;
            return o;
        } else if (a == "--version") {
            o.version = true;
            return o;
        } else if (a == "--custom") {
            o.custom = true;
        } else if (a.startsWith("--")) {
            error = "unknown option " + a;
            return std::nullopt;
        } else {
            o.words << a;
        }
    }
    if (o.words.isEmpty()) {
        error = "no command given";
        return std::nullopt;
    }
    return o;
}

std::optional<QList<CliOptions>> CliOptions::parseChain(const QStringList& args, QString& error) {
    QList<QStringList> segments{{}};
    for (const QString& a : args) {
        if (a == "+")
            segments.append(QStringList{});
        else
            segments.last() << a;
    }
    QList<CliOptions> chain;
    for (const QStringList& segment : segments) {
        auto o = parse(segment, error);
        if (!o) {
            if (segments.size() > 1 && segment.isEmpty())
                error = "nothing between two + (or at an end)";
            return std::nullopt;
        }
        if (o->help || o->version)
            return QList<CliOptions>{*o};
        chain << *o;
    }
    // The run's options, wherever they were given.
    CliOptions global;
    for (const CliOptions& o : chain) {
        if (!o.port.isEmpty())
            global.port = o.port;
        global.noBoardCheck |= o.noBoardCheck;
        global.yes |= o.yes;
        global.paced |= o.paced;
        global.pipeline |= o.pipeline;
        global.json |= o.json;
        for (auto [to, from] : {std::pair{&global.timerMs, &o.timerMs},
                                {&global.timeoutLimit, &o.timeoutLimit},
                                {&global.pollLimit, &o.pollLimit}})
            if (!from->isEmpty())
                *to = *from;
    }
    for (CliOptions& o : chain) {
        o.port = global.port;
        o.noBoardCheck = global.noBoardCheck;
        o.yes = global.yes;
        o.paced = global.paced;
        o.pipeline = global.pipeline;
        o.json = global.json;
        o.timerMs = global.timerMs;
        o.timeoutLimit = global.timeoutLimit;
        o.pollLimit = global.pollLimit;
    }
    return chain;
}

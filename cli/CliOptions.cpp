#include "cli/CliOptions.h"

#include "bpi/BpiStateObj.h"
#include "engine/Numbers.h"
#include "engine/RequestCheck.h"

namespace {

// The options, one row each. A global option holds for every operation of a run: given in
// any of them, it is given in all.
struct ValuedOption {
    const char* name;
    QString CliOptions::*field;
    bool global;
};
const ValuedOption ValuedOptions[] = {
    {"--port", &CliOptions::port, true},
    {"--timer-ms", &CliOptions::timerMs, true},
    {"--timeout-limit", &CliOptions::timeoutLimit, true},
    {"--poll-limit", &CliOptions::pollLimit, true},
    {"--offset", &CliOptions::offset, false},
    {"--bytes", &CliOptions::bytes, false},
    {"--burst", &CliOptions::burst, false},
    {"--erase-limit", &CliOptions::eraseLimit, false},
};

struct FlagOption {
    const char* name;
    bool CliOptions::*field; // null: taken and ignored
    bool global;
};
const FlagOption FlagOptions[] = {
    {"--no-board-check", &CliOptions::noBoardCheck, true},
    {"--yes", &CliOptions::yes, true},
    {"--json", &CliOptions::json, true},
    {"--all", &CliOptions::all, false},
    {"--paced", &CliOptions::paced, true},
    {"--pipeline", &CliOptions::pipeline, true},
    // The default now; still taken from older scripts.
    {"--fast-ack", nullptr, false},
    {"--custom", &CliOptions::custom, false},
};

const ValuedOption* valuedOption(const QString& name) {
    for (const ValuedOption& v : ValuedOptions)
        if (name == QLatin1String(v.name))
            return &v;
    return nullptr;
}

const FlagOption* flagOption(const QString& name) {
    for (const FlagOption& f : FlagOptions)
        if (name == QLatin1String(f.name))
            return &f;
    return nullptr;
}

} // namespace

std::optional<CliOptions> CliOptions::parse(const QStringList& args, QString& error) {
    CliOptions o;
    for (int i = 0; i < args.size(); ++i) {
        // --opt=value is --opt value.
        const qsizetype eq = args[i].startsWith("--") ? args[i].indexOf('=') : -1;
        const QString a = eq > 0 ? args[i].left(eq) : args[i];
        const ValuedOption* valued = valuedOption(a);
        if (eq > 0 && !valued) {
            error = "option " + a + " takes no value";
            return std::nullopt;
        }
        if (valued) {
            if (eq < 0 && i + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            o.*(valued->field) = eq > 0 ? args[i].mid(eq + 1) : args[++i];
        } else if (const FlagOption* flag = flagOption(a)) {
            if (flag->field)
                o.*(flag->field) = true;
        } else if (a == "--help" || a == "-h" || (a == "help" && o.words.isEmpty())) {
            o.help = true;
            return o;
        } else if (a == "--version") {
            o.version = true;
            return o;
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
    // The run's options, wherever they were given: the last value, any flag.
    CliOptions global;
    for (const CliOptions& o : chain) {
        for (const ValuedOption& v : ValuedOptions)
            if (v.global && !(o.*(v.field)).isEmpty())
                global.*(v.field) = o.*(v.field);
        for (const FlagOption& f : FlagOptions)
            if (f.global && f.field)
                global.*(f.field) |= o.*(f.field);
    }
    for (CliOptions& o : chain) {
        for (const ValuedOption& v : ValuedOptions)
            if (v.global)
                o.*(v.field) = global.*(v.field);
        for (const FlagOption& f : FlagOptions)
            if (f.global && f.field)
                o.*(f.field) = global.*(f.field);
    }
    return chain;
}

QString CliNumbers::read(const CliOptions& o) {
    using numbers::Parsed;
    *this = {};
    const auto take = [](const Parsed& p, QString& why) -> std::int64_t {
        if (!p.value && why.isEmpty())
            why = p.error;
        return p.value.value_or(0);
    };
    QString why;
    if (!o.offset.isEmpty())
        offset = take(numbers::hex(o.offset, "--offset"), why);
    if (!o.bytes.isEmpty())
        count = take(numbers::count(o.bytes, "--bytes"), why);
    burst = o.burst.isEmpty() ? 128 : take(numbers::count(o.burst, "--burst"), why);
    eraseLimitMs = BpiStateObj::EraseLimitMs;
    if (!o.eraseLimit.isEmpty())
        eraseLimitMs = int(std::min<std::int64_t>(
            INT32_MAX, 1000 * take(numbers::count(o.eraseLimit, "--erase-limit"), why)));
    timing.pipeline = o.pipeline;
    if (!o.timerMs.isEmpty())
        timing.ackIntervalMs = int(take(numbers::count(o.timerMs, "--timer-ms"), why));
    if (!o.timeoutLimit.isEmpty())
        timing.timeoutLimit = int(take(numbers::count(o.timeoutLimit, "--timeout-limit"), why));
    if (!o.pollLimit.isEmpty())
        timing.pollLimit = int(std::min<std::int64_t>(
            INT32_MAX, take(numbers::count(o.pollLimit, "--poll-limit"), why)));
    if (!why.isEmpty())
        return why;
    if (eraseLimitMs <= 0)
        return "--erase-limit must be at least 1 second";
    if (const QString t = requestcheck::timing(timing); !t.isEmpty())
        return t;
    return {};
}

QString operationName(const QStringList& words) {
    static const QStringList verbs = {"id",   "erase",  "program", "read",  "verify",
                                      "load", "detect", "flash",   "write", "blank"};
    for (int i = 1; i < words.size(); ++i)
        if (verbs.contains(words[i]))
            return words[0] + " " + words[i];
    return words.value(0);
}

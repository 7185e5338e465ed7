#include "cli/CliPorts.h"

std::optional<CliPortChoice> choosePorts(const CliOptions& o, QString& why) {
    CliPortChoice choice{PortDirectory::fromEnvironment(o.all), 0};
    if (o.port.isEmpty())
        return choice;
    const PortDirectory every = PortDirectory::fromEnvironment(true);
    bool isNumber = false;
    const int n = o.port.toInt(&isNumber);
    if (const int found = every.find(o.port); found > 0) {
#ifdef Q_OS_WIN
        choice.ports = every;
        choice.portNumber = found;
#else
        choice.ports = PortDirectory(QList<PortInfo>{every.info(found)});
#endif
    } else if (isNumber) {
        choice.portNumber = n;
    } else if (o.port.contains('/')) {
        choice.ports = PortDirectory(QStringList{o.port});
    } else {
        const QStringList names = portNames(every);
        why = "no port " + o.port + "; the ports are " +
              (names.isEmpty() ? QString("none") : names.join(", "));
        return std::nullopt;
    }
    return choice;
}

QStringList portNames(const PortDirectory& dir) {
    QStringList names;
    for (const QString& path : dir.paths())
        names << dir.info(dir.find(path)).name;
    return names;
}

QStringList portLines(const PortDirectory& dir, const QList<int>& answered,
                      const QList<std::pair<int, QString>>& failures) {
    QStringList lines;
    for (const QString& path : dir.paths()) {
        const int n = dir.find(path);
        const PortInfo info = dir.info(n);
        QStringList parts{info.name, info.path};
        if (!info.details().isEmpty())
            parts << info.details();
        if (answered.contains(n))
            parts << "[board answers]";
        for (const auto& [number, why] : failures)
            if (number == n)
                parts << "[" + why + "]";
        lines << parts.join("  ");
    }
    return lines;
}

QString detectedPortLine(const PortInfo& info) {
    return info.details().isEmpty() ? info.name + "  " + info.path
                                    : info.name + "  " + info.path + "  " + info.details();
}

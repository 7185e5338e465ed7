#include "link/PortDirectory.h"

#include <QSerialPortInfo>
#include <QtGlobal>

PortDirectory PortDirectory::fromEnvironment() {
    const QString env = qEnvironmentVariable("ZBPU_PORTS");
    if (!env.isEmpty())
        return PortDirectory(env.split(':', Qt::SkipEmptyParts));
    QStringList paths;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        paths << info.systemLocation();
    paths.sort();
    return PortDirectory(paths);
}

QString PortDirectory::path(int number) const {
#ifdef Q_OS_WIN
    return number >= 1 ? QString("COM%1").arg(number) : QString();
#else
    return number >= 1 && number <= paths_.size() ? paths_[number - 1] : QString();
#endif
}

int PortDirectory::add(const QString& path) {
    const int at = int(paths_.indexOf(path));
    if (at >= 0)
        return at + 1;
    paths_.append(path);
    return int(paths_.size());
}

#include "link/PortDirectory.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

bool PortInfo::isUsbSerial() const {
    return vendorId.has_value() || name.startsWith("ttyACM") || name.startsWith("ttyUSB") ||
           name.contains("usbmodem") || name.contains("usbserial");
}

QString PortInfo::details() const {
    QStringList parts;
    if (!description.isEmpty())
        parts << description;
    if (!manufacturer.isEmpty() && manufacturer != description)
        parts << manufacturer;
    if (!serialNumber.isEmpty())
        parts << "serial " + serialNumber;
    if (vendorId && productId)
        parts << QString("%1:%2")
                     .arg(*vendorId, 4, 16, QChar('0'))
                     .arg(*productId, 4, 16, QChar('0'));
    return parts.join(", ");
}

QString PortInfo::label() const {
    const QString more = details();
    return more.isEmpty() ? name : name + " (" + more + ")";
}

PortInfo PortInfo::forPath(const QString& path) {
    PortInfo info;
    info.path = path;
    info.name = QFileInfo(path).fileName();
    // A pseudo-terminal's number alone (/dev/pts/3) says nothing of the port.
    bool number = false;
    info.name.toUInt(&number);
    if (number)
        info.name = path;
    return info;
}

QList<PortInfo> systemPorts() {
    QList<PortInfo> out;
    for (const QSerialPortInfo& s : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_MACOS
        // Each port shows twice; the tty. twin waits for carrier on open.
        if (s.portName().startsWith("tty."))
            continue;
#endif
        PortInfo p;
        p.path = s.systemLocation();
        p.name = s.portName();
        p.description = s.description();
        p.manufacturer = s.manufacturer();
        p.serialNumber = s.serialNumber();
        if (s.hasVendorIdentifier())
            p.vendorId = s.vendorIdentifier();
        if (s.hasProductIdentifier())
            p.productId = s.productIdentifier();
        out << p;
    }
    return out;
}

namespace {
// Compares runs of digits by value, so that ttyACM2 comes before ttyACM10.
bool naturalLess(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const qulonglong x = a.mid(i, ei - i).toULongLong();
            const qulonglong y = b.mid(j, ej - j).toULongLong();
            if (x != y)
                return x < y;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

QString canonical(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}
} // namespace

PortDirectory::PortDirectory(const QStringList& paths) {
    for (const QString& p : paths)
        entries_ << PortInfo::forPath(p);
}

PortDirectory PortDirectory::build(const QList<PortInfo>& system, const QString& zbpuPorts,
                                   bool everyPort) {
    QList<PortInfo> named;
    for (const QString& path : zbpuPorts.split(':', Qt::SkipEmptyParts)) {
        // A named link to a system port (/dev/serial/by-id/...) keeps its name but learns
        // what the system knows of the port.
        PortInfo info = PortInfo::forPath(path);
        for (const PortInfo& s : system)
            if (s.path == path || canonical(s.path) == canonical(path)) {
                const QString name = info.name;
                info = s;
                info.path = path;
                info.name = name;
            }
        named << info;
    }
    PortDirectory d(named);
    d.follows_ = true;
    d.everyPort_ = everyPort;
    d.takeInNew(system);
    return d;
}

void PortDirectory::takeInNew(const QList<PortInfo>& system) {
    QList<PortInfo> fresh;
    for (const PortInfo& s : system) {
        const bool known = std::any_of(entries_.begin(), entries_.end(), [&](const PortInfo& e) {
            return canonical(e.path) == canonical(s.path);
        });
        if (!known && (everyPort_ || s.isUsbSerial()))
            fresh << s;
    }
    std::sort(fresh.begin(), fresh.end(),
              [](const PortInfo& a, const PortInfo& b) { return naturalLess(a.path, b.path); });
    entries_ += fresh;
}

PortDirectory PortDirectory::fromEnvironment(bool everyPort) {
    return build(systemPorts(), qEnvironmentVariable("ZBPU_PORTS"), everyPort);
}

QString PortDirectory::path(int number) const {
#ifdef Q_OS_WIN
    return number >= 1 ? QString("COM%1").arg(number) : QString();
#else
    return number >= 1 && number <= count() ? entries_[number - 1].path : QString();
#endif
}

QString PortDirectory::name(int number) const {
#ifdef Q_OS_WIN
    return QString("COM%1").arg(number);
#else
    return number >= 1 && number <= count() ? entries_[number - 1].name
                                            : QString("port %1").arg(number);
#endif
}

PortInfo PortDirectory::info(int number) const {
#ifdef Q_OS_WIN
    for (const PortInfo& e : entries_)
        if (e.name.compare(name(number), Qt::CaseInsensitive) == 0)
            return e;
    PortInfo bare;
    bare.path = bare.name = name(number);
    return bare;
#else
    if (number >= 1 && number <= count())
        return entries_[number - 1];
    PortInfo bare;
    bare.name = name(number);
    return bare;
#endif
}

int PortDirectory::add(const QString& path) {
    for (int i = 0; i < count(); ++i)
        if (entries_[i].path == path)
            return i + 1;
    entries_ << PortInfo::forPath(path);
    return count();
}

int PortDirectory::find(const QString& key) const {
    if (key.isEmpty())
        return 0;
    for (int i = 0; i < count(); ++i) {
        const PortInfo& e = entries_[i];
        if (e.path == key || e.name == key || e.serialNumber == key) {
#ifdef Q_OS_WIN
            return e.name.mid(3).toInt();
#else
            return i + 1;
#endif
        }
    }
    return 0;
}

QStringList PortDirectory::paths() const {
    QStringList out;
    for (const PortInfo& e : entries_)
        out << e.path;
    return out;
}

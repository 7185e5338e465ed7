#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// What the system says about one serial port (the fields of a QSerialPortInfo).
struct PortInfo {
    QString path; // /dev/ttyACM0, or COM3
    QString name; // ttyACM0, or COM3
    QString description, manufacturer, serialNumber;
    std::optional<quint16> vendorId, productId;

    bool isUsbSerial() const;
    // "KitProg3, Cypress, serial 0F1A, 04b4:f155"; empty when the system knows nothing.
    QString details() const;
    // The name followed by the details, for lists.
    QString label() const;
    static PortInfo forPath(const QString& path);
};

// The system's serial ports, all of them.
QList<PortInfo> systemPorts();

// Maps a port number to a system port. Entry n of the list is port n: first the entries of
// ZBPU_PORTS (colon-separated device paths), then the USB serial ports in natural order
// (ttyACM2 before ttyACM10); the other serial ports (ttyS*) only when every port is asked for.
// On Windows port n is COMn whatever the list holds.
class PortDirectory {
public:
    PortDirectory() = default;
    explicit PortDirectory(QList<PortInfo> entries)
        : entries_(std::move(entries)) {}
    explicit PortDirectory(const QStringList& paths);

    static PortDirectory build(const QList<PortInfo>& system, const QString& zbpuPorts,
                               bool everyPort);
    static PortDirectory fromEnvironment(bool everyPort = false);

    // Empty when there is no such port.
    QString path(int number) const;
    // The port's system name for captions and messages: COM3 on Windows, ttyACM0 elsewhere.
    QString name(int number) const;
    // What is known of port n (only its path and name when the system said nothing).
    PortInfo info(int number) const;
    int count() const { return int(entries_.size()); }
    // Puts a path in the list (once) and answers its number.
    int add(const QString& path);
    // The number of the port with this path, system name or USB serial number; 0 if none.
    int find(const QString& key) const;
    QStringList paths() const;

    // A directory built from the system takes in ports plugged in since, at the end, so that
    // the numbers already given keep their ports.
    bool followsSystem() const { return follows_; }
    void takeInNew(const QList<PortInfo>& system);

private:
    QList<PortInfo> entries_;
    bool follows_ = false;
    bool everyPort_ = false;
};

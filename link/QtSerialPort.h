#pragma once

#include "link/PortDirectory.h"
#include "link/SerialPort.h"

#include <QObject>
#include <memory>

class QSerialPort;
class RuntimeError;

// What is known after a port refused to open, and the failure it makes: gone, permission
// denied (with the fix), busy, or the system's own words.
struct OpenAttempt {
    QString path, name, errorString;
    bool exists = true, accessible = true, permissionError = false;
    // The udev rule a refused user is pointed to: where this copy of the program has it.
    QString udevRule = "dist/60-zbpu.rules";
};
RuntimeError portOpenFailure(const OpenAttempt& attempt);

// The port on a real serial device. Bytes waiting are pulled from the system without an
// event loop, because sequence steps poll while they hold the thread.
class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(const PortDirectory& ports);
    ~QtSerialPort() override;

    bool isOpen() const override;
    void open() override;
    void close() override;
    int bytesWaiting() override;
    void write(const QByteArray& bytes) override;
    bool waitForData(int milliseconds) override;
    void drain() override;
    qint64 unsent() const override;
    QString portName(int number) const override;
    QString portLabel(int number) const override;
    void refreshPorts() override;
    QString noPortsHint() const override;
    const PortDirectory& ports() const { return ports_; }
    void setUdevRule(const QString& path) { udevRule_ = path; }
    using SerialPort::portName;

protected:
    QByteArray take(int maxBytes) override;

private:
    static constexpr qint64 EnoughBuffered = 8;
    void applySettings();
    void onReadyRead();
    void raiseReceiveEvent();
    void requireOpen() const;

    PortDirectory ports_;
    QString udevRule_ = OpenAttempt().udevRule;
    std::unique_ptr<QSerialPort> port_;
    bool inEvent_ = false;
    bool eventQueued_ = false;
};

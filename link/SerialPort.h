#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// The port control as the system uses it. Texts carry one byte per character.
// open(), read() and write() throw RuntimeError (a port that cannot be opened, a closed port).
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual void setPortNumber(int number) { portNumber_ = number; }
    int portNumber() const { return portNumber_; }
    // The port's system name for captions and messages ("COM3" on Windows, "ttyACM0"
    // elsewhere), and that name with what a USB serial port says of itself, for lists.
    virtual QString portName(int number) const { return QString("COM%1").arg(number); }
    QString portName() const { return portName(portNumber_); }
    virtual QString portLabel(int number) const { return portName(number); }
    // Before a scan: ports plugged in since are taken in.
    virtual void refreshPorts() {}
    // What to look at when no port could be opened at all (empty: nothing to add).
    virtual QString noPortsHint() const { return {}; }
    virtual void setSettings(const QString& settings) { settings_ = settings; }
    const QString& settings() const { return settings_; }

    virtual bool isOpen() const = 0;
    virtual void open() = 0;
    virtual void close() = 0;

    // Largest number of bytes one read() returns; 0 means everything waiting.
    void setReadLength(int length) { readLength_ = length; }
    int readLength() const { return readLength_; }
    // Removes and returns up to the read length of waiting bytes; never waits.
    QByteArray read() { return take(readLength_ == 0 ? bytesWaiting() : readLength_); }
    virtual int bytesWaiting() = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // Blocks until everything written has left on the line.
    virtual void drain() {}
    // Bytes written that have not yet left the program: lost if the port closes now.
    virtual qint64 unsent() const { return 0; }
    // A write waiting for a held line gives up as soon as this says so (a second stop).
    std::function<bool()> giveUpWriting;

    // A poll that found nothing may wait this long for data, so that busy polls tolerate a
    // real link's latency. Returns true when something arrived.
    virtual bool waitForData(int milliseconds) = 0;

    // 1: receive events are raised when bytes arrive; 0: none.
    void setReceiveThreshold(int threshold) { threshold_ = threshold; }
    int receiveThreshold() const { return threshold_; }
    int receiveBufferSize() const { return 1024; }

    // Receive event with its code (2 = characters received).
    std::function<void(int)> onReceiveEvent;

    static constexpr int EventReceive = 2;

protected:
    virtual QByteArray take(int maxBytes) = 0;

private:
    int portNumber_ = 1;
    QString settings_ = "115200,N,8,1";
    int readLength_ = 1;
    int threshold_ = 0;
};

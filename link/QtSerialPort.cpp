#include "link/QtSerialPort.h"

#include "engine/RuntimeError.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <termios.h>
#include <unistd.h>
#endif

RuntimeError portOpenFailure(const OpenAttempt& a) {
    if (!a.exists)
        return RuntimeError(RuntimeError::DeviceUnavailable,
                            a.name + " is gone: " + a.path +
                                " does not exist (unplugged, or another path?)");
    // A rule where udev reads it already gives the group the port; elsewhere it must be copied.
    const bool ruleActive =
        a.udevRule.startsWith("/usr/lib/udev/") || a.udevRule.startsWith("/lib/udev/");
    if (a.permissionError && !a.accessible)
        return RuntimeError(
            RuntimeError::PermissionDenied,
            "Permission denied on " + a.path +
                ": add yourself to the dialout group (sudo usermod -aG dialout "
                "$USER, then log in again)" +
                (ruleActive ? "; the udev rule " + a.udevRule + " gives that group the board's port"
                            : " or install " + a.udevRule + " in /etc/udev/rules.d"));
    // Readable and writable, yet refused: another program holds it (or its lock).
    if (a.permissionError)
        return RuntimeError(RuntimeError::PortInUse,
                            a.name + " is busy: another program has it open");
    return RuntimeError(RuntimeError::DeviceIoError,
                        "Port Open Failed: " + a.path + ": " + a.errorString);
}

QtSerialPort::QtSerialPort(const PortDirectory& ports)
    : ports_(ports)
    , port_(std::make_unique<QSerialPort>()) {
    connect(port_.get(), &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
}

QtSerialPort::~QtSerialPort() = default;

bool QtSerialPort::isOpen() const {
    return port_->isOpen();
}

void QtSerialPort::applySettings() {
    const QStringList parts = settings().split(',');
    auto part = [&](int i, const QString& fallback) {
        return i < parts.size() ? parts[i].trimmed() : fallback;
    };
    port_->setBaudRate(part(0, "115200").toInt());
    const QString parity = part(1, "N").toUpper();
    port_->setParity(parity == "O"   ? QSerialPort::OddParity
                     : parity == "E" ? QSerialPort::EvenParity
                                     : QSerialPort::NoParity);
    port_->setDataBits(part(2, "8") == "7" ? QSerialPort::Data7 : QSerialPort::Data8);
    port_->setStopBits(part(3, "1") == "2" ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
}

void QtSerialPort::open() {
    if (port_->isOpen())
        return;
    const QString path = ports_.path(portNumber());
    if (path.isEmpty())
        throw RuntimeError(RuntimeError::PortOpenFailed, "Invalid Port Number");
    port_->setPortName(path);
    applySettings();
    if (port_->open(QIODevice::ReadWrite))
        return;
    OpenAttempt a;
    a.path = path;
    a.name = portName(portNumber());
    a.errorString = port_->errorString();
    a.permissionError = port_->error() == QSerialPort::PermissionError;
    a.udevRule = udevRule_;
#ifdef Q_OS_WIN
    // Ports 1 to 99 are tried in turn: most of them are simply not there.
    if (port_->error() == QSerialPort::DeviceNotFoundError)
        throw RuntimeError(RuntimeError::PortOpenFailed, "Invalid Port Number");
    a.accessible = true;
#else
    a.exists = QFileInfo::exists(path) && port_->error() != QSerialPort::DeviceNotFoundError;
    a.accessible = ::access(path.toLocal8Bit().constData(), R_OK | W_OK) == 0;
#endif
    throw portOpenFailure(a);
}

QString QtSerialPort::portName(int number) const {
    return ports_.name(number);
}

QString QtSerialPort::portLabel(int number) const {
    return ports_.info(number).label();
}

void QtSerialPort::refreshPorts() {
    if (ports_.followsSystem())
        ports_.takeInNew(systemPorts());
}

QString QtSerialPort::noPortsHint() const {
#ifdef Q_OS_WIN
    return {};
#else
    if (ports_.count() > 0)
        return {};
    return "No USB serial port (ttyACM*, ttyUSB*) is there; other ports are named in ZBPU_PORTS "
           "(colon-separated paths)";
#endif
}

// What was written still goes out: a transfer's last bytes, or the commands that release the
// controller, lost at the close would leave the board waiting. A line that takes nothing for
// two seconds is not waited on.
void QtSerialPort::close() {
    if (!port_->isOpen())
        return;
    while (port_->bytesToWrite() > 0 && port_->waitForBytesWritten(2000)) {
    }
    port_->close();
}

void QtSerialPort::requireOpen() const {
    if (!port_->isOpen())
        throw RuntimeError(RuntimeError::PortNotOpen, "Operation valid only when the port is open");
}

int QtSerialPort::bytesWaiting() {
    if (!port_->isOpen())
        return 0;
    // Asking the system costs a call; with a reply's worth already here the answer can wait.
    if (port_->bytesAvailable() >= EnoughBuffered)
        return int(qMin<qint64>(port_->bytesAvailable(), 32767));
    port_->waitForReadyRead(0);
    return int(qMin<qint64>(port_->bytesAvailable(), 32767));
}

bool QtSerialPort::waitForData(int milliseconds) {
    if (!port_->isOpen())
        return false;
    return port_->waitForReadyRead(milliseconds);
}

QByteArray QtSerialPort::take(int maxBytes) {
    requireOpen();
    return port_->read(maxBytes);
}

void QtSerialPort::write(const QByteArray& bytes) {
    requireOpen();
    port_->write(bytes);
    // Writes must leave in order even while the thread does not return to its event loop. A
    // held line is waited on in slices, so that a second stop does not wait with it.
    QElapsedTimer waited;
    waited.start();
    while (port_->bytesToWrite() > 0 && waited.elapsed() < 2000) {
        if (giveUpWriting && giveUpWriting())
            break;
        port_->waitForBytesWritten(50);
    }
}

// readyRead is also emitted inside the polls of a running step; the receive event must only
// reach the program from its event loop, as a port control's events do.
void QtSerialPort::drain() {
    if (!port_->isOpen())
        return;
    while (port_->bytesToWrite() > 0)
        if (!port_->waitForBytesWritten(2000))
            return;
#ifdef Q_OS_UNIX
    ::tcdrain(int(port_->handle()));
#endif
}

qint64 QtSerialPort::unsent() const {
    return port_->isOpen() ? port_->bytesToWrite() : 0;
}

void QtSerialPort::onReadyRead() {
    if (eventQueued_)
        return;
    eventQueued_ = true;
    QMetaObject::invokeMethod(this, &QtSerialPort::raiseReceiveEvent, Qt::QueuedConnection);
}

void QtSerialPort::raiseReceiveEvent() {
    eventQueued_ = false;
    if (inEvent_ || receiveThreshold() < 1 || !onReceiveEvent || !port_->isOpen() ||
        port_->bytesAvailable() == 0)
        return;
    inEvent_ = true;
    onReceiveEvent(EventReceive);
    inEvent_ = false;
}

#pragma once

#include "engine/Clock.h"
#include "engine/RuntimeError.h"
#include "link/SerialPort.h"

#include <QList>
#include <QMap>
#include <functional>

// A scripted port on the test clock: each existing port number has a responder that turns
// what was written into replies, each due after a delay. A reply after 60 ms is tested by
// advancing the clock, never by waiting.
class FakePort : public SerialPort {
public:
    struct Reply {
        int delayMs;
        QByteArray bytes;
    };
    using Responder = std::function<QList<Reply>(const QByteArray& written)>;

    explicit FakePort(VirtualClock& clock)
        : clock_(clock) {}

    void addPort(int number, Responder responder = {}) { ports_[number] = std::move(responder); }
    void removePort(int number) { ports_.remove(number); }
    // A port known by its system name (and a label for lists), as outside Windows.
    void name(int number, const QString& name, const QString& label = {}) {
        names_[number] = {name, label.isEmpty() ? name : label};
    }
    // A port that is there but refuses to open, for this reason.
    void refuse(int number, int error, const QString& why) { refusals_[number] = {error, why}; }
    using SerialPort::portName;
    QString portName(int number) const override {
        return names_.contains(number) ? names_[number].first : SerialPort::portName(number);
    }
    QString portLabel(int number) const override {
        return names_.contains(number) ? names_[number].second : portName(number);
    }

    // A controller that answers "get_ver" and acknowledges every command after the delay, and
    // answers the server probe "x\r" with probeReply, if any.
    static Responder controller(int delayMs = 2,
                                QByteArray versionReply = QByteArray("1.1.0\0ack\0", 10),
                                QByteArray probeReply = {});

    bool isOpen() const override { return open_; }
    void open() override {
        if (refusals_.contains(portNumber()))
            throw RuntimeError(refusals_[portNumber()].first, refusals_[portNumber()].second);
        if (!ports_.contains(portNumber()))
            throw RuntimeError(RuntimeError::PortOpenFailed, "Port Open Failed");
        open_ = true;
        ++opens_;
    }
    void close() override {
        open_ = false;
        pending_.clear();
        buffer_.clear();
    }
    int bytesWaiting() override {
        deliver();
        return int(buffer_.size());
    }
    void write(const QByteArray& bytes) override {
        requireOpen();
        written_[portNumber()] += bytes;
        if (auto r = ports_.value(portNumber()))
            for (const Reply& reply : r(bytes))
                pending_.append({clock_.nowUs() + reply.delayMs * 1000LL, reply.bytes});
    }
    bool waitForData(int milliseconds) override {
        clock_.advance(milliseconds * 1000LL);
        return bytesWaiting() > 0;
    }
    // Puts bytes straight into the receive buffer, as if they had arrived.
    void inject(const QByteArray& bytes) { buffer_ += bytes; }

    QByteArray written(int number) const { return written_.value(number); }
    int opens() const { return opens_; }

protected:
    QByteArray take(int maxBytes) override {
        requireOpen();
        deliver();
        const QByteArray out = buffer_.left(maxBytes);
        buffer_.remove(0, out.size());
        return out;
    }

private:
    struct Pending {
        qint64 dueUs;
        QByteArray bytes;
    };
    void requireOpen() const {
        if (!open_)
            throw RuntimeError(RuntimeError::PortNotOpen,
                               "Operation valid only when the port is open");
    }
    void deliver() {
        const qint64 now = clock_.nowUs();
        for (const Pending& p : pending_)
            buffer_ += p.dueUs <= now ? p.bytes : QByteArray();
        pending_.removeIf([now](const Pending& p) { return p.dueUs <= now; });
    }

    VirtualClock& clock_;
    QMap<int, Responder> ports_;
    QMap<int, std::pair<QString, QString>> names_;
    QMap<int, std::pair<int, QString>> refusals_;
    QMap<int, QByteArray> written_;
    QList<Pending> pending_;
    QByteArray buffer_;
    bool open_ = false;
    int opens_ = 0;
};

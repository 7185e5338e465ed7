// The receive console under a continuous stream: simulated minutes of a 115200 baud line
// (11,520 bytes/s) go through the receive path into the real window's console widget, and the
// CPU time it takes is compared with the stream's own duration. Below 1.0 it keeps up.
//
//   zbpu-console-bench [MINUTES]     (default 10)
#include "engine/AckTimer.h"
#include "engine/Clock.h"
#include "engine/Prompter.h"
#include "link/SerialPort.h"
#include "panel/MainPanelModel.h"
#include "panel/Skinning.h"
#include "panel/ui/MainWindowView.h"

#include <QApplication>
#include <QMainWindow>
#include <cstdio>
#include <ctime>

namespace {

// A board that keeps printing lines of text, as a controller's terminal output does.
class StreamPort : public SerialPort {
public:
    bool isOpen() const override { return true; }
    void open() override {}
    void close() override {}
    int bytesWaiting() override { return int(pending_.size() - at_); }
    void write(const QByteArray&) override {}
    bool waitForData(int) override { return false; }
    // What the line delivers in one USB frame or latency-timer period.
    void deliver(int count) {
        pending_ = pending_.mid(at_);
        at_ = 0;
        for (int i = 0; i < count; ++i) {
            pending_.append(next_ % 61 == 60 ? '\r' : char('!' + next_ % 90));
            ++next_;
        }
    }

protected:
    QByteArray take(int maxBytes) override {
        const QByteArray out = pending_.mid(at_, maxBytes);
        at_ += out.size();
        return out;
    }

private:
    QByteArray pending_;
    qsizetype at_ = 0;
    std::int64_t next_ = 0;
};

class Silent : public Prompter {
public:
    Answer ask(const QString&, const QString&, Icon, Buttons) override { return Answer::Ok; }
};
class NoFiles : public FilePicker {
public:
    QString pick(const QString&, const QString&) override { return {}; }
};

double cpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int bytesPerSecond = 11520, frameMs = 16;
    const auto total = std::int64_t(minutes * 60 * bytesPerSecond);
    std::printf("| mode | stream | bytes | CPU time | CPU per stream second | console kept |\n"
                "|---|---|---|---|---|---|\n");
    for (const bool hex : {false, true}) {
        StreamPort port;
        VirtualClock clock;
        ManualAckTimer timer;
        Silent prompter;
        NoFiles picker;
        NoSkinning skinning;
        MainPanelModel model(port, clock, timer, prompter, picker, skinning, {".", "."});
        MainWindowView view(model.ui, model.comm, model.debugPw);
        view.window()->show();
        model.session.opState.SetState(OpStateObj::SpiIdle);
        port.setReceiveThreshold(1);
        model.ui.rbRecvMode[hex ? 1 : 0].click();
        const double start = cpuSeconds();
        const int perFrame = bytesPerSecond * frameMs / 1000;
        for (std::int64_t sent = 0; sent < total; sent += perFrame) {
            port.deliver(perFrame);
            model.receivePath.OnComm(SerialPort::EventReceive);
            app.processEvents();
        }
        const double used = cpuSeconds() - start;
        const double streamSeconds = double(total) / bytesPerSecond;
        std::printf("| %s | %.0f s | %lld | %.1f s | %.3f | %lld characters |\n",
                    hex ? "Hex" : "ASCII", streamSeconds, static_cast<long long>(total), used,
                    used / streamSeconds,
                    static_cast<long long>(model.ui.txtRecvView.text().size()));
        std::fflush(stdout);
    }
    return 0;
}

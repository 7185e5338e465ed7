#include "BoardSimProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

BoardSimProcess::BoardSimProcess(const QStringList& options) {
    process_.setProgram(QString(ZBPU_BIN_DIR) + "/zbpu-boardsim");
    process_.setArguments(QStringList{"--link", dir_.path() + "/board", "--spi-image", spiImage(),
                                      "--bpi-image", bpiImage()} +
                          options);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start();
    if (!process_.waitForStarted(5000))
        return;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000 && !QFileInfo::exists(dir_.path() + "/board"))
        process_.waitForReadyRead(50);
    if (QFileInfo::exists(dir_.path() + "/board"))
        device_ = dir_.path() + "/board";
}

BoardSimProcess::~BoardSimProcess() {
    stop();
}

void BoardSimProcess::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000))
        process_.kill();
}

namespace {
void startCli(QProcess& p, const QString& device, const QStringList& args) {
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("ZBPU_PORTS", device);
    // What a run leaves for the next (an unfinished transfer) stays with this board.
    env.insert("XDG_CONFIG_HOME", QFileInfo(device).path() + "/config");
    p.setProcessEnvironment(env);
    // A generous acknowledgement budget: a loaded test machine must not turn into a lost ack.
    const QStringList generous = args.isEmpty() || args[0] == "bitinfo" || args[0] == "sfh"
                                     ? args
                                     : QStringList{"--timer-ms", "100"} + args;
    p.start(QString(ZBPU_BIN_DIR) + "/zbpu-cli", generous);
}

// The run's status (-2: it crashed) and its standard output; err is given.
BoardSimProcess::Result resultOf(QProcess& p, const QByteArray& err, qint64 ms = 0) {
    const QByteArray bytes = p.readAllStandardOutput();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(bytes), QString::fromLocal8Bit(err), ms, bytes};
}
} // namespace

BoardSimProcess::Result BoardSimProcess::cliInterrupted(const QStringList& args,
                                                        const QString& when, int delayMs,
                                                        const QString& again) const {
    QProcess p;
    startCli(p, device_, args);
    QByteArray err;
    QElapsedTimer t;
    // Reads standard error until it shows the text, then signals.
    const auto interruptAt = [&](const QString& text, int limitMs, int delay) {
        t.restart();
        while (t.elapsed() < limitMs && p.state() != QProcess::NotRunning &&
               !QString::fromLocal8Bit(err).contains(text)) {
            p.waitForReadyRead(20);
            err += p.readAllStandardError();
        }
        p.waitForFinished(delay);
        // Never pid 0: that would be this whole process group.
        if (p.state() == QProcess::Running && p.processId() > 0)
            ::kill(pid_t(p.processId()), SIGINT);
        t.restart();
    };
    interruptAt(when, 60000, delayMs);
    if (!again.isEmpty())
        interruptAt(again, 30000, 0);
    if (!p.waitForFinished(30000))
        p.kill();
    const qint64 ms = t.elapsed();
    return resultOf(p, err + p.readAllStandardError(), ms);
}

BoardSimProcess::Result BoardSimProcess::cli(const QStringList& args, int timeoutMs) const {
    return run(args, timeoutMs, {});
}

BoardSimProcess::Result BoardSimProcess::cliTo(const QString& output,
                                               const QStringList& args) const {
    return run(args, 60000, output);
}

BoardSimProcess::Result BoardSimProcess::run(const QStringList& args, int timeoutMs,
                                             const QString& output) const {
    QProcess p;
    if (!output.isEmpty())
        p.setStandardOutputFile(output);
    startCli(p, device_, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return {-1, QString::fromLocal8Bit(p.readAllStandardOutput()), "timed out", 0, {}};
    }
    return resultOf(p, p.readAllStandardError());
}

BoardSimProcess::Result BoardSimProcess::cliOnTerminal(const QStringList& args,
                                                       const QByteArray& typed) const {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return {-3, {}, "no terminal", 0, {}};
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    QProcess p;
    p.setChildProcessModifier([slave] {
        ::dup2(slave, STDIN_FILENO);
        ::dup2(slave, STDERR_FILENO);
    });
    startCli(p, device_, args);
    ::close(slave);
    QByteArray shown;
    bool answered = typed.isEmpty();
    QElapsedTimer t;
    t.start();
    // The terminal is read as the program writes, so that it never blocks on a full one.
    while (t.elapsed() < 60000) {
        const bool ended = p.waitForFinished(20);
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, n);
        if (!answered && shown.contains("[y/N] ")) {
            answered = ::write(master, typed.constData(), size_t(typed.size())) == typed.size();
        }
        if (ended || p.state() == QProcess::NotRunning)
            break;
    }
    if (p.state() != QProcess::NotRunning)
        p.kill();
    p.waitForFinished(2000);
    ::close(master);
    return resultOf(p, shown);
}

QString BoardSimProcess::log() {
    process_.setReadChannel(QProcess::StandardError);
    while (process_.waitForReadyRead(50))
        log_ += QString::fromLocal8Bit(process_.readAllStandardError());
    log_ += QString::fromLocal8Bit(process_.readAllStandardError());
    return log_;
}

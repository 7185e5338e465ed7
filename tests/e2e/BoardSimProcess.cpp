#include "BoardSimProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <csignal>

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
    p.setProcessEnvironment(env);
    // A generous acknowledgement budget: a loaded test machine must not turn into a lost ack.
    const QStringList generous = args.isEmpty() || args[0] == "bitinfo" || args[0] == "sfh"
                                     ? args
                                     : QStringList{"--timer-ms", "100"} + args;
    p.start(QString(ZBPU_BIN_DIR) + "/zbpu-cli", generous);
}
} // namespace

BoardSimProcess::Result BoardSimProcess::cliInterrupted(const QStringList& args,
                                                        const QString& when, int delayMs) const {
    QProcess p;
    startCli(p, device_, args);
    QByteArray err;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 60000 && p.state() != QProcess::NotRunning &&
           !QString::fromLocal8Bit(err).contains(when)) {
        p.waitForReadyRead(20);
        err += p.readAllStandardError();
    }
    p.waitForFinished(delayMs);
    // Never pid 0: that would be this whole process group.
    if (p.state() == QProcess::Running && p.processId() > 0)
        ::kill(pid_t(p.processId()), SIGINT);
    t.restart();
    if (!p.waitForFinished(30000))
        p.kill();
    const qint64 ms = t.elapsed();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(err + p.readAllStandardError()), ms};
}

BoardSimProcess::Result BoardSimProcess::cli(const QStringList& args, int timeoutMs) const {
    QProcess p;
    startCli(p, device_, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return {-1, QString::fromLocal8Bit(p.readAllStandardOutput()), "timed out"};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

#include "BoardSimProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>

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

BoardSimProcess::Result BoardSimProcess::cli(const QStringList& args, int timeoutMs) const {
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("ZBPU_PORTS", device_);
    p.setProcessEnvironment(env);
    // A generous acknowledgement budget: a loaded test machine must not turn into a lost ack.
    const QStringList generous = args.isEmpty() || args[0] == "bitinfo" || args[0] == "sfh"
                                     ? args
                                     : QStringList{"--timer-ms", "100"} + args;
    p.start(QString(ZBPU_BIN_DIR) + "/zbpu-cli", generous);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return {-1, QString::fromLocal8Bit(p.readAllStandardOutput()), "timed out"};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

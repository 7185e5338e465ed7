#pragma once

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

// zbpu-boardsim on a pseudo-terminal for end-to-end tests; its flash images are saved into
// the folder when it stops.
class BoardSimProcess {
public:
    explicit BoardSimProcess(const QStringList& options = {}) {
        const QString link = folder() + "/board";
        process_.setStandardErrorFile(folder() + "/board.log");
        process_.start(
            QString(ZBPU_BIN_DIR) + "/zbpu-boardsim",
            QStringList{"--link", link, "--spi-image", spiImage(), "--bpi-image", bpiImage()} +
                options);
        QElapsedTimer t;
        t.start();
        while (process_.waitForStarted(5000) && t.elapsed() < 5000 && !QFileInfo::exists(link))
            process_.waitForReadyRead(50);
        device_ = QFileInfo::exists(link) ? link : "";
    }
    ~BoardSimProcess() { stop(); }

    bool started() const { return !device_.isEmpty(); }
    const QString& device() const { return device_; }
    QString folder() const { return dir_.path(); }
    QString spiImage() const { return folder() + "/spi.bin"; }
    QString bpiImage() const { return folder() + "/bpi.bin"; }
    // Stops the board; its images are on disk afterwards.
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
    }

    struct Result {
        int exitCode; // -2: it crashed or was killed
        QString out, err;
        qint64 msAfterSignal = 0;
        QByteArray bytes; // standard output as it came
    };
    // Runs zbpu-cli, bounded in time; its standard output to `output` (such as /dev/full).
    Result cli(const QStringList& args, const QString& output = {}) const {
        QProcess p;
        if (!output.isEmpty())
            p.setStandardOutputFile(output);
        start(p, args);
        const bool ended = p.waitForFinished(60000);
        if (!ended)
            p.kill(), p.waitForFinished(2000);
        return resultOf(p, ended ? p.readAllStandardError() : "timed out");
    }
    // Runs zbpu-cli with its standard input and error on a terminal, typing `typed`; err is
    // what the terminal showed.
    Result cliOnTerminal(const QStringList& args, const QByteArray& typed) const {
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return {-3, {}, "no terminal", 0, {}};
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        QProcess p;
        p.setChildProcessModifier([slave] {
            ::dup2(slave, STDIN_FILENO);
            ::dup2(slave, STDERR_FILENO);
        });
        start(p, args);
        ::close(slave);
        QByteArray shown;
        bool answered = typed.isEmpty();
        QElapsedTimer t;
        t.start();
        // The terminal is read as the program writes, so that it never blocks on a full one.
        for (bool ended = false; !ended && t.elapsed() < 60000;) {
            ended = p.waitForFinished(20) || p.state() == QProcess::NotRunning;
            char buffer[4096];
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                shown.append(buffer, n);
            if (!answered && shown.contains("[y/N] "))
                answered = ::write(master, typed.constData(), size_t(typed.size())) == typed.size();
        }
        if (p.state() != QProcess::NotRunning)
            p.kill(), p.waitForFinished(2000);
        ::close(master);
        return resultOf(p, shown);
    }
    // What the board logged (started with -v): one line per command.
    QString log() const {
        QFile file(folder() + "/board.log");
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : "";
    }
    // Runs zbpu-cli and sends it SIGINT delayMs after its standard error shows `when` (a
    // process on a paced line: no virtual clock can stand in); the result says how long it
    // took to end after the signal. With `again`, a second SIGINT follows once standard error
    // shows that text, and the time is counted from the second.
    Result cliInterrupted(const QStringList& args, const QString& when, int delayMs,
                          const QString& again = {}) const {
        QProcess p;
        start(p, args);
        QByteArray err;
        QElapsedTimer t;
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

private:
    void start(QProcess& p, const QStringList& args) const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("ZBPU_PORTS", device_);
        // What a run leaves for the next (an unfinished transfer) stays with this board.
        env.insert("XDG_CONFIG_HOME", folder() + "/config");
        p.setProcessEnvironment(env);
        // A generous acknowledgement budget: a loaded test machine must not turn into a lost ack.
        const bool paced = !args.isEmpty() && args[0] != "bitinfo" && args[0] != "sfh";
        p.start(QString(ZBPU_BIN_DIR) + "/zbpu-cli",
                paced ? QStringList{"--timer-ms", "100"} + args : args);
    }
    static Result resultOf(QProcess& p, const QByteArray& err, qint64 ms = 0) {
        const QByteArray bytes = p.readAllStandardOutput();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
                QString::fromLocal8Bit(bytes), QString::fromLocal8Bit(err), ms, bytes};
    }

    QTemporaryDir dir_;
    QProcess process_;
    QString device_;
};

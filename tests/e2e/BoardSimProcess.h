#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// zbpu-boardsim on a pseudo-terminal for end-to-end tests; its flash images are saved into
// the folder when it stops.
class BoardSimProcess {
public:
    explicit BoardSimProcess(const QStringList& options = {});
    ~BoardSimProcess();

    bool started() const { return !device_.isEmpty(); }
    const QString& device() const { return device_; }
    QString spiImage() const { return dir_.path() + "/spi.bin"; }
    QString bpiImage() const { return dir_.path() + "/bpi.bin"; }
    QString folder() const { return dir_.path(); }
    // Stops the board; its images are on disk afterwards.
    void stop();

    struct Result {
        int exitCode;
        QString out, err;
        qint64 msAfterSignal = 0;
        QByteArray bytes; // standard output as it came
    };
    // Runs zbpu-cli against this board, bounded in time.
    Result cli(const QStringList& args, int timeoutMs = 60000) const;
    // The same with standard output going to a file (such as /dev/full).
    Result cliTo(const QString& output, const QStringList& args) const;
    // Runs zbpu-cli with its standard input and error on a terminal, typing `typed`; err is
    // what the terminal showed.
    Result cliOnTerminal(const QStringList& args, const QByteArray& typed) const;
    // What the board logged (started with -v): one line per command.
    QString log();
    // Runs zbpu-cli and sends it SIGINT delayMs after its standard error shows `when` (a
    // process on a paced line: no virtual clock can stand in); the result says how long it
    // took to end after the signal. With `again`, a second SIGINT follows once standard error
    // shows that text, and the time is counted from the second.
    Result cliInterrupted(const QStringList& args, const QString& when, int delayMs,
                          const QString& again = {}) const;

private:
    Result run(const QStringList& args, int timeoutMs, const QString& output) const;
    QTemporaryDir dir_;
    QProcess process_;
    QString device_;
    QString log_;
};

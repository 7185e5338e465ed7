#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Reads until `size` bytes arrived or the deadline passed.
QByteArray readBytes(int fd, int size, const QDeadlineTimer& deadline) {
    QByteArray got;
    while (got.size() < size && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
            break;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, n);
    }
    return got;
}

// A failed assertion must not leave the simulator running.
struct KillOnExit {
    QProcess& process;
    ~KillOnExit() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(1000);
        }
    }
};

} // namespace

TEST(BoardSimProcess, AnswersOverARawPseudoTerminalAndSavesItsFlashWhenTerminated) {
    QTemporaryDir dir;
    const QString image = dir.filePath("spi.bin");
    QProcess sim;
    KillOnExit guard{sim};
    sim.start(ZBPU_BIN_DIR "/zbpu-boardsim", {"--spi-image", image});
    ASSERT_TRUE(sim.waitForStarted(3000));
    const QDeadlineTimer deadline(4000);
    QByteArray first;
    while (!first.contains('\n') && sim.waitForReadyRead(int(deadline.remainingTime())))
        first += sim.readAllStandardOutput();
    const QByteArray path = first.left(first.indexOf('\n'));
    ASSERT_TRUE(path.startsWith("/dev/")) << first.toStdString();

    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);

    ASSERT_EQ(::write(fd, "get_ver\0", 8), 8);
    EXPECT_EQ(readBytes(fd, 10, deadline), QByteArray("1.1.0\0ack\0", 10));
    // XON, XOFF and CR travel unchanged inside a transaction, or it would never end.
    const QByteArray transaction = QByteArray("sf_transfer 3") + '\0' + "\x11\x13\r";
    ASSERT_EQ(::write(fd, transaction.constData(), size_t(transaction.size())), 17);
    EXPECT_EQ(readBytes(fd, 15, deadline), QByteArray("ack\0\xFF\xFF\xFF"
                                                      "ack\0ack\0",
                                                      15));
    ::close(fd);

    sim.terminate();
    EXPECT_TRUE(sim.waitForFinished(3000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_EQ(QFileInfo(image).size(), 2 * 1024 * 1024);
}

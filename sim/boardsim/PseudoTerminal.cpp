#include "PseudoTerminal.h"

// The one file of the simulated board that speaks to the system's pseudo-terminals.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace {

[[noreturn]] void failed(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        failed("tcgetattr");
    cfmakeraw(&t);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        failed("tcsetattr");
}

} // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        failed("posix_openpt");
    if (grantpt(master_) != 0 || unlockpt(master_) != 0)
        failed("grantpt/unlockpt");
    const char* name = ptsname(master_);
    if (!name)
        failed("ptsname");
    path_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0)
        failed("open terminal");
    makeRaw(slave_);
    makeRaw(master_);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

void PseudoTerminal::holdClient(bool hold) {
    tcflow(slave_, hold ? TCOOFF : TCOON);
}

PseudoTerminal::~PseudoTerminal() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

qint64 PseudoTerminal::read(char* buffer, qint64 size) {
    return ::read(master_, buffer, size_t(size));
}

qint64 PseudoTerminal::write(const char* bytes, qint64 size) {
    return ::write(master_, bytes, size_t(size));
}

bool PseudoTerminal::linkAs(const QString& path) const {
    return ::symlink(path_.toLocal8Bit().constData(), path.toLocal8Bit().constData()) == 0;
}

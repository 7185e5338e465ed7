#include "PseudoTerminal.h"

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

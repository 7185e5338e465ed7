#pragma once

#include <QString>

// A pseudo-terminal pair in raw mode, so that NUL, CR, XON and XOFF pass unchanged. The
// simulator keeps a descriptor of the terminal side open itself: a client that closes and
// reopens the port then finds the board still there.
class PseudoTerminal {
public:
    PseudoTerminal(); // throws std::runtime_error
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int masterFd() const { return master_; }
    const QString& path() const { return path_; }
    // Stops or resumes what the client writes, as a full transmit buffer blocks a writer on a
    // real line; without it the kernel's buffers would let a client run 20 KB ahead.
    void holdClient(bool hold);
    // What the client wrote, and bytes for it; both return at once (0 or less: nothing moved).
    qint64 read(char* buffer, qint64 size);
    qint64 write(const char* bytes, qint64 size);
    // A symbolic link at path to the terminal; false when it cannot be made.
    bool linkAs(const QString& path) const;

private:
    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

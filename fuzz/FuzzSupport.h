#pragma once

#include "engine/Prompter.h"
#include "link/SerialPort.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Stops the run with a message: libFuzzer saves the input that got here as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

inline QByteArray fuzzBytes(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Counts message boxes; answers every one with its first button.
class CountingPrompter : public Prompter {
public:
    Answer ask(const QString&, const QString&, Icon, Buttons buttons) override {
        ++shown;
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    int shown = 0;
};

class NoPicker : public FilePicker {
public:
    QString pick(const QString&, const QString&) override { return {}; }
};

// A port whose received bytes are whatever the fuzzer puts in.
class QueuePort : public SerialPort {
public:
    bool isOpen() const override { return open_; }
    void open() override { open_ = true; }
    void close() override { open_ = false; }
    int bytesWaiting() override { return int(queue_.size()); }
    void write(const QByteArray& bytes) override { written += bytes; }
    bool waitForData(int) override { return !queue_.isEmpty(); }
    void arrive(const QByteArray& bytes) { queue_ += bytes; }

    QByteArray written;

protected:
    QByteArray take(int maxBytes) override {
        const QByteArray out = queue_.left(maxBytes);
        queue_.remove(0, out.size());
        return out;
    }

private:
    bool open_ = true;
    QByteArray queue_;
};

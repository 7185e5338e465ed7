#pragma once

#include <QtGlobal>

// Follows a Xilinx configuration stream as the configuration logic does: everything before
// the sync word is ignored, then type 1 and type 2 packets are decoded. Packets are 32-bit
// words after the 32-bit sync word, and 16-bit words after the 16-bit sync of Spartan-3A or
// when a 16-bit command packet follows the sync word (Spartan-6).
class ConfigStream {
public:
    void reset() { *this = ConfigStream(); }
    void feed(quint8 byte);

    bool syncSeen() const { return syncSeen_; }
    bool started() const { return started_; }
    // START and then DESYNC arrived: the start-up sequence has run.
    bool finished() const { return finished_; }
    bool markerSeen() const { return markerSeen_; }
    // A whole IDCODE value has been written (the device compares it with its own).
    bool idcodeWritten() const { return idcodeWords_ >= (width_ == 32 ? 1 : 2); }
    quint32 idcode() const { return idcode_; }

    // The user-access value the BPI server design carries, written to MarkerRegister.
    static constexpr quint32 ServerMarker = 0xB0120036;
    static constexpr int MarkerRegister = 0x0D;
    // Spartan-3 generation register map, 32- and 16-bit alike.
    static constexpr int IdcodeRegister = 0x0E;

private:
    enum class Mode { Hunting, AfterAa99, Peek, Words };

    void word(quint32 value);
    void header(quint32 value);
    void data(quint32 value);

    Mode mode_ = Mode::Hunting;
    quint32 shift_ = 0;
    quint32 assembled_ = 0;
    int assembledBytes_ = 0;
    int width_ = 32;
    int register_ = -1;
    qint64 remaining_ = 0;  // data words still due to the current register
    int countWordsDue_ = 0; // 16-bit type 2 packets carry their count in two words
    quint32 count_ = 0;
    quint32 marker_ = 0;
    quint32 idcode_ = 0;
    int idcodeWords_ = 0;
    bool syncSeen_ = false;
    bool started_ = false;
    bool finished_ = false;
    bool markerSeen_ = false;
};

#pragma once

#include "sim/Fpga.h"
#include "sim/SpiFlash.h"

#include <QString>
#include <cstdint>

// Everything that sets one simulated board apart. Defaults give a healthy board.
struct BoardConfig {
    // The SPI flash part fitted, by its name in spiChipTable().
    QString spiChip = "M25P16";
    // The version text "get_ver" answers with.
    QString firmwareVersion = "1.1.0";
    // Line rate in baud for both directions (8N1: baud / 10 bytes per second); 0 = unpaced.
    int baud = 0;
    // Flash busy times relative to the datasheet's typical values (0.001 makes a 13 s erase
    // take 13 ms).
    double timeScale = 1.0;
    // Firmware time between a command's last byte and the first byte of its reply; the
    // firmware reads no further byte meanwhile.
    std::int64_t replyLatencyUs = 200;
    // Replies reach the host through a USB serial bridge in packets handed over at 1 ms USB
    // frames (0: straight from the line), after a latency timer where the bridge has one
    // (16 ms is the common default of FTDI parts; 0: the next frame).
    std::int64_t usbFrameUs = 1000;
    std::int64_t latencyTimerUs = 0;
    // The controller's receive buffer, filled by its UART interrupt while the firmware works
    // on a command: 128 bytes, as a small microcontroller's firmware keeps (two transactions'
    // worth). A byte that finds it full is lost. 0: no limit.
    int rxBufferBytes = 128;
    // "get_ver" formats text and answers later than the other commands.
    std::int64_t versionLatencyUs = 2000;
    // A raw download or SPI transaction that stalls this long is abandoned by the firmware;
    // 0: never, as the real firmware promises no such time-out (tests may turn it on).
    std::int64_t rawTimeoutUs = 0;
    // Start with the BPI server bitstream already configured and running.
    bool serverRunning = false;
    // The SPI flash comes out of power-up with every block protected.
    bool spiPowerUpProtected = false;
    // The SPI flash's lock bit is set and WP# held low: it stays protected.
    bool wpLocked = false;
    // No flash drives MISO (not fitted, a jumper in the wrong place): the line floats high,
    // or is held low.
    enum class Miso { Chip, Floating, Low } spiMiso = Miso::Chip;
    // The FPGA's memory clear after PROG (INIT low meanwhile), and its IDCODE.
    std::int64_t initClearUs = FpgaOptions().clearUs;
    quint32 fpgaIdcode = FpgaOptions().idcode;

    // Faults. All random choices come from one generator seeded with `seed`, so a run with
    // the same seed and the same host bytes gives the same board bytes.
    quint64 seed = 1;
    // Probability with which each "ack" NUL acknowledgement is left out.
    double dropAckRate = 0;
    // Extra time before every acknowledgement (and, as the line keeps order, what follows).
    std::int64_t ackDelayUs = 0;
    // Extra time before the acknowledgement that closes each SPI transaction only.
    std::int64_t lateAckUs = 0;
    // Replies come in pieces of 1 to 8 bytes with pauses of up to this long between them, as
    // USB adapters deliver on frames and latency timers.
    std::int64_t jitterUs = 0;
    // Probability with which a random byte is inserted before each byte the board sends.
    double garbageRate = 0;
    // Probability with which each byte from the host is lost, or arrives garbled, on its way to
    // the controller (a UART overrun, noise on the line).
    double hostLossRate = 0;
    double hostGarbleRate = 0;
    // Flash busy times at the datasheet's maximum rather than its typical values.
    bool maxBusyTimes = false;
    // The controller's transmit line is dead from the start: it acts but never answers.
    bool silent = false;
    // The transmit line dies after this many controller commands (-1: never).
    int silentAfterCommands = -1;
    // The SPI flash's WIP bit never clears once a cycle of this kind has started.
    StuckBusy spiStuckBusy = StuckBusy::Never;
    // Something holds the FPGA's INIT pin low: it never takes a configuration.
    bool initStuckLow = false;
    // The link closes after this many bytes from the host (-1: never): from then on the
    // board ignores its input and sends nothing.
    std::int64_t closeAfterBytes = -1;
    // The BPI server hangs after this many bytes sent to it (-1: never).
    std::int64_t serverSilentAfterBytes = -1;
    // No board on this port: opening it fails.
    bool absent = false;
};

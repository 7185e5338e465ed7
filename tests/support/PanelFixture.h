#pragma once

#include "Doubles.h"
#include "engine/AckTimer.h"
#include "engine/Clock.h"
#include "panel/MainPanelModel.h"
#include "panel/Skinning.h"

#include <QTemporaryDir>
#include <memory>

// A whole main window without widgets, on a virtual clock and a hand-ticked timer.
class PanelHarness {
public:
    PanelHarness(SerialPort& port, VirtualClock& clock, const QString& folder)
        : model(port, clock, timer, prompter, picker, skinning, DataFolders{QStringList{folder}})
        , clock_(clock) {}

    // Ticks the acknowledgement timer until the operation stops asking for it.
    int runTimer(int maxTicks = 2000000) {
        int ticks = 0;
        while (timer.isActive() && ticks < maxTicks) {
            clock_.advance(std::int64_t(timer.interval()) * 1000);
            timer.fire();
            ++ticks;
        }
        return ticks;
    }

    ManualAckTimer timer;
    ScriptedPrompter prompter;
    ScriptedPicker picker;
    NoSkinning skinning;
    MainPanelModel model;
    MainPanelControls& ui = model.ui;

private:
    VirtualClock& clock_;
};

// Writes a file into a folder, creating it.
QString writeFile(const QString& folder, const QString& name, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// Reproducible test data.
QByteArray randomBytes(int size, quint32 seed);
// Intel HEX: one record with its checksum, and bytes from address 0 in records of 32.
QByteArray hexRecord(int type, int address, const QByteArray& data = {},
                     const char* lineEnd = "\r\n");
QByteArray intelHex(const QByteArray& data);

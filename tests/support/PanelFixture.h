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

#pragma once

#include <QByteArray>
#include <functional>

class MainPanelModel;
class QSettings;

// What the window remembers from one run to the next: the port and its line settings, the
// mode, the flash device, each mode's file and each file dialog's folder, each flash mode's
// offset and byte count, and fast acknowledgement. The store is the caller's (tests give a file
// of their own). Nothing stored, nothing changed: a first run starts as the forms say.
class SavedSettings {
public:
    SavedSettings(MainPanelModel& model, QSettings& store);

    // After start-up: applies what was stored, through the controls, as an operator would.
    void restore();
    // Before the window goes.
    void save();

    // The window's size and place, kept as the view gives them.
    std::function<QByteArray()> saveGeometry;
    std::function<void(const QByteArray&)> restoreGeometry;

private:
    void restorePort();
    void restoreFiles();
    void restoreRanges();

    MainPanelModel& m_;
    QSettings& store_;
};

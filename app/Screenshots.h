#pragma once

#include "engine/Prompter.h"

#include <QString>

class MainPanelModel;
class MainWindowView;

// Saves pictures of the three layouts and of the uncovered debug panel into folder, driving
// the window as an operator would (connects first when a board answers).
bool takeScreenshots(MainPanelModel& model, MainWindowView& view, const QString& folder);

// Answers every message box with its default and tells nobody: pictures are taken unattended.
class QuietPrompter : public Prompter {
public:
    Answer ask(const QString&, const QString&, Icon, Buttons buttons) override {
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
};

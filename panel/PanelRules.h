#pragma once

#include "controls/MainPanelControls.h"

// The readiness tests and the switching of one flash button set, shared by every handler
// that decides which operation buttons may be pressed.
namespace rules {

inline const QString NoneSelected = QStringLiteral("None Selected");

bool IsFpgaReady(const MainPanelControls& ui);
bool IsSpiReady(const MainPanelControls& ui);
void DisableFlashControls(MainPanelControls& ui, int index);
void EnableFlashControls(MainPanelControls& ui, int index);

// The SPI set from the inputs: ID Check and Bulk Erase need a device, the others a file too.
void applySpiButtonRule(MainPanelControls& ui);
// The parallel flash set: the server must run, and Program, Read and Verify need a file.
void applyBpiButtonRule(MainPanelControls& ui, bool serverRunning);

// What an operation takes at launch and the terminal's sends are off while it runs; when it
// ends each goes back to its own rule. Stop is there only while it runs.
void lockForOperation(MainPanelControls& ui, bool running);
// The operation buttons as the inputs and the connection allow, once nothing runs.
void applyIdleRules(MainPanelControls& ui, bool serverRunning);
// After the dispatcher found no operation to run: the buttons on show go back on as far as
// their files allow, and the caption is the start state's.
void applyAfterInvalidState(MainPanelControls& ui);

} // namespace rules

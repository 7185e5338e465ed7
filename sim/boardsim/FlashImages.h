#pragma once

#include "sim/FlashArray.h"

#include <QString>

// Flash contents kept in files between runs of the simulator.
void loadFlashImage(FlashArray& flash, const QString& path); // nothing when there is no file
bool saveFlashImage(const FlashArray& flash, const QString& path);

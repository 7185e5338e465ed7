#pragma once

#include "engine/Session.h"

// Shows a bitstream's length and part name in the FPGA fields.
void ReadBitfileHeader(Session& session, const QString& path);

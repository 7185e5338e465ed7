#pragma once

#include "engine/OperationRequest.h"
#include "engine/Session.h"

// The request a window button makes: the fields as they are when it is pressed. Throws
// RuntimeError when a field holds no number.
OperationRequest requestFromPanel(const Session& session, OperationRequest::Kind kind);

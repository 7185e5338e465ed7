#pragma once

#include <cstdio>

// Whether a stream is a terminal: questions are asked and progress is drawn only there.
bool isTerminal(std::FILE* stream);

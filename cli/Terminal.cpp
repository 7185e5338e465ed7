#include "cli/Terminal.h"

// The one place of the command line that asks the system about terminals.
#ifdef _WIN32
#include <io.h>

bool isTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}
#else
#include <unistd.h>

bool isTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}
#endif

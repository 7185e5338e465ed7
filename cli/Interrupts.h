#pragma once

// Ctrl-C (SIGINT) and SIGTERM ask the running operation to stop through its normal end,
// instead of killing the program with the board in the middle of a transfer.
// A second one leaves at once, whatever is left unfinished.
void catchInterrupts();
bool interruptRequested();
bool interruptedTwice();

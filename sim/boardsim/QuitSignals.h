#pragma once

// Turns SIGINT, SIGTERM and SIGHUP into a normal quit of the Qt event loop, so that the
// flash images are saved on the way out.
void quitOnSignals();

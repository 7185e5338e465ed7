#include "link/SerialPort.h"

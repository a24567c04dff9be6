// One run of the tool from the command line to the exit code.
#include "driver/driver.h"

int RunDriver(int, char**) { return -1; }

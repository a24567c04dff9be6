// Entry point: one run of the driver.
#include "driver/driver.h"

int main(int argc, char** argv) { return RunDriver(argc, argv); }

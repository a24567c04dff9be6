// One run from the command line to the exit code.
#pragma once

// 0 after a completed run; -1 after a stop or a failed modifier or writer.
int RunDriver(int argc, char** argv);

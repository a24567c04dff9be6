#include "tbltool/cli.h"
namespace tbltool {
int RunInfo(int, char**) { return 2; }
int RunDiff(int, char**) { return 2; }
int RunExport(int, char**) { return 2; }
int RunImport(int, char**) { return 2; }
}

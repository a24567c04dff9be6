// tbltool: checks, inspects, compares and exports the tables tblconv converts.
#include "tbltool/cli.h"

int main(int argc, char** argv) { return tbltool::RunTbltool(argc, argv); }

#include "winlib/ansi.h"

// Text here is Windows-1251 whatever the host's locale says, so the fixed
// table is the right conversion, not the C library's.
TAnsiCase& PlatformAnsiCase() { return TableAnsiCase(); }

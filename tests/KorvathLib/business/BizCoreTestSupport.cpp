// The business tests' support is defined in its header; this unit, which the suites sharing it
// link, compiles the header on its own.
#include "BizCoreTestSupport.h"

// The program's process-wide objects. They are all defined in process_objects.cpp, in the
// order in which they must be constructed; see there.
#pragma once

#include "report/usage_reporter.h"
#include "win/module.h"

// The one usage reporter: it holds the machine identifier and starts the reports.
extern report::CUsageReporter gUsageReporter;
// The module object, initialised and terminated around the main dialog.
extern win::CAppModule gModule;

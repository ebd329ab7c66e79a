#pragma once

#include "app/UpdateRun.h"

// The process from start to end: start-up prepares the process, COM, the log,
// the message table and the update's request (a package to install, or
// "/resume <GUID>" for a run that was interrupted), runs the progress window
// modally (the whole update happens inside it), and shutdown releases what
// start-up made, in the reverse order. pszCommandLine is the process's
// command line; steps are the update's (the real ones unless a test gives
// its own). Returns the process's exit code, the update's
// (CUpdateRun::Finish).
int RunLumetUpdate(const wchar_t* pszCommandLine, const UpdateSteps& steps = UpdateSteps());

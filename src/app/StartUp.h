#pragma once

// The process from start to end: start-up prepares the process, COM, the log,
// the message table and the package path, runs the progress window modally
// (the whole update happens inside it), and shutdown releases what start-up
// made, in the reverse order. pszCommandLine is the process's command line.
// Returns the process's exit code, the update's (CUpdateRun::Finish).
int RunLumetUpdate(const wchar_t* pszCommandLine);

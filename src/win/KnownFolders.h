#pragma once

#include <string>

// A folder of the shell (CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA,
// CSIDL_PROFILE, ...) as a full path: "X:\..." or "\\server\...". Empty when
// the lookup fails, and when it gives anything else: a failed lookup may
// leave a half-made text behind, and a misconfigured one a relative path,
// which would put whatever is built on it at the root of the current drive
// or in the current folder.
std::wstring GetShellFolder(int nCsidl);

// The system folder ("C:\Windows\System32"), without a closing backslash,
// from the system itself rather than the environment. Empty when it cannot
// be read.
std::wstring GetSystemFolder();

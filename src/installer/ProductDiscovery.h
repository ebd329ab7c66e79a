#pragma once

#include <string>

// Where the application is installed when discovery finds no install
// location: the install folder, ending with a backslash as the locations the
// registry records do.
constexpr wchar_t kDefaultInstallDir[] = L"C:\\Program Files (x86)\\Vimo\\";

// How the application is installed here, read afresh from the registry at
// each call; each returns the empty string on every failure. A product code
// that is not a braced GUID, and an install location that holds a double
// quote or does not start with a drive letter, a colon and a backslash,
// count as not found: both are spliced into installer command lines.

// The product code from the maker's installer key.
std::wstring GetProductCode();
// The install location from the application's uninstall entry.
std::wstring GetInstallLocation();
// The quiet uninstall command from that entry if it is not empty, else the
// plain one.
std::wstring GetUninstallString();

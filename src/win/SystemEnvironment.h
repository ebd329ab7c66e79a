#pragma once

#include <string>
#include <utility>
#include <vector>

// The environment for the programs the updater starts with its administrator
// rights: the Windows Installer, installer programs, uninstallers and, where
// it cannot be started as the user, the application. Inherited, the
// updater's own environment would hand them the signed-in user's variables,
// since the values under HKEY_CURRENT_USER\Environment, which the user may
// write without any rights, are merged into every process the user starts: a
// Path entry, TEMP, ComSpec or a profiler of the user's choosing would steer
// what those programs load, run and unpack. Only what administrators control
// goes in: the machine's variables as the system builds them for no user
// (CreateEnvironmentBlock without a token), and what the caller adds.

// A variable the caller sets: name and value.
using CVariable = std::pair<std::wstring, std::wstring>;

// That block for CreateProcessW with CREATE_UNICODE_ENVIRONMENT: "NAME=VALUE"
// strings, each ended by a null, sorted by name without regard to case, the
// whole ended by one more null. vecExtra is set over the machine's values:
// TEMP and TMP must name a folder that exists (msiexec given a missing one
// failed, 1627, before writing its log). Empty when the system cannot build
// it.
std::wstring MakeMachineEnvironmentBlock(const std::vector<CVariable>& vecExtra);

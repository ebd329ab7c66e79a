#pragma once

#include "win/WorkFolder.h"

#include <string>
#include <vector>

// What the uninstallers of earlier releases leave behind, dealt with once per
// update after they have run: the application's shortcuts on the desktops
// and its start-menu entries are found, the application data folder below
// the common application-data folder is emptied (the folder stays) and the
// per-user registry key is deleted. Every step runs whatever the earlier
// ones gave. Returns the shortcuts and entries found, desktops first, then
// the common start menu, then each profile's start menu; nothing deletes them.
// What cannot be deleted now goes to the restart through work, the run's own
// folder.
std::vector<std::wstring> RemoveLeftovers(CWorkFolder& work);

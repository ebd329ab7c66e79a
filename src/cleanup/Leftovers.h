#pragma once

#include "win/WorkFolder.h"

#include <string>
#include <vector>

// What the uninstallers of earlier releases leave behind, dealt with once per
// update after they have run: the application's shortcuts on the desktops
// and its start-menu entries are found, the application data folder below
// the common application-data folder is emptied (the folder stays) and the
// per-user registry key is deleted: the key of the user strUserSid names,
// through that user's loaded hive, or this process's own user's when it is
// empty (a user whose hive is not loaded keeps the key, and the log says
// so). Every step runs whatever the earlier
// ones gave. Returns the shortcuts and entries found, desktops first, then
// the common start menu, then each profile's start menu; nothing deletes them.
// What cannot be deleted now goes to the restart through work, the run's own
// folder.
std::vector<std::wstring> RemoveLeftovers(CWorkFolder& work, const std::wstring& strUserSid);

#pragma once

#include <string>
#include <vector>

// The application's shortcuts on the desktops and its entries in the maker's
// start-menu folders of every user profile. Each search returns the paths it
// found, in the order found; nothing is deleted. A folder that is missing or
// cannot be listed yields nothing.

// Desktop shortcuts of all profiles: names ending in "lnk" that hold
// "vimolumet" (ignoring the case of A-Z), recorded with the whole path folded
// to lower case.
std::vector<std::wstring> FindDesktopShortcuts();
// The same in one desktop folder, given without a final backslash.
std::vector<std::wstring> CollectDesktopShortcuts(const std::wstring& strDesktopFolder);

// Entries of one maker folder (ending with a backslash): folders that hold
// "vimolumet", files that also end in "lnk"; recorded as the folder followed
// by the folded name.
std::vector<std::wstring> CollectMakerEntries(const std::wstring& strMakerFolder);
// The same in the per-user maker folders (Programs, then Startup) of all
// profiles.
std::vector<std::wstring> FindStartMenuEntries();

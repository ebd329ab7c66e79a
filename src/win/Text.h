#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// Case folding of the ASCII letters only: the program's name tests ("lnk",
// "vimolumet", "MSIEXEC.EXE", "MSI", the program-files guard) ignore the case
// of A-Z and nothing else.
std::wstring ToLowerAscii(std::wstring_view text);
bool EqualsNoCaseAscii(std::wstring_view a, std::wstring_view b);

// Whether path begins with a drive letter, a colon and a backslash ("C:\").
bool StartsWithDriveRoot(std::wstring_view path);

// Whether path is "X:\..." or "\\server\...": a path that does not depend on
// the current drive or folder.
bool IsFullPath(std::wstring_view path);

// Whether text is a braced GUID, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// with hex digits of either case.
bool IsBracedGuid(std::wstring_view text);

// The last n characters of text (all of it when it is shorter).
std::wstring_view LastChars(std::wstring_view text, size_t n);

// strPrefix, a hyphen and a new GUID ("VimoLog-{...}"): a name no entry
// has yet. Empty when no GUID could be made.
std::wstring UniqueName(const std::wstring& strPrefix);

// The UTF-8 bytes of a wide text, as the system converts it (no replacement of
// our own for unpaired surrogates). False, with utf8 untouched, when it
// cannot be converted; an empty text gives empty bytes.
bool WideToUtf8(std::wstring_view text, std::string& utf8);

// The wide text of UTF-8 bytes. ERROR_SUCCESS; ERROR_OUTOFMEMORY when no
// buffer could be had for it; otherwise the converter's own error, also for
// empty bytes, which convert to nothing. text is untouched on failure.
DWORD Utf8ToWide(std::string_view bytes, std::wstring& text);

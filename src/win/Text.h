#pragma once

#include <string>
#include <string_view>

// Case folding of the ASCII letters only: the program's name tests ("lnk",
// "vimolumet", "MSIEXEC.EXE", "MSI", the program-files guard) ignore the case
// of A-Z and nothing else.
std::wstring ToLowerAscii(std::wstring_view text);
std::wstring ToUpperAscii(std::wstring_view text);
bool EqualsNoCaseAscii(std::wstring_view a, std::wstring_view b);

// Whether path begins with a drive letter, a colon and a backslash ("C:\").
bool StartsWithDriveRoot(std::wstring_view path);

// The last n characters of text (all of it when it is shorter).
std::wstring_view LastChars(std::wstring_view text, size_t n);

#include "win/Text.h"

namespace
{
wchar_t LowerAscii(wchar_t ch) { return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch; }
wchar_t UpperAscii(wchar_t ch) { return (ch >= L'a' && ch <= L'z') ? static_cast<wchar_t>(ch - L'a' + L'A') : ch; }
}

std::wstring ToLowerAscii(std::wstring_view text)
{
    std::wstring result(text);
    for (wchar_t& ch : result)
        ch = LowerAscii(ch);
    return result;
}

std::wstring ToUpperAscii(std::wstring_view text)
{
    std::wstring result(text);
    for (wchar_t& ch : result)
        ch = UpperAscii(ch);
    return result;
}

bool EqualsNoCaseAscii(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

bool StartsWithDriveRoot(std::wstring_view path)
{
    return path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
           path[1] == L':' && path[2] == L'\\';
}

std::wstring_view LastChars(std::wstring_view text, size_t n)
{
    return text.size() <= n ? text : text.substr(text.size() - n);
}

#include "win/Text.h"

#include <objbase.h>

#include <new>

namespace
{
wchar_t LowerAscii(wchar_t ch) { return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch; }
}

std::wstring ToLowerAscii(std::wstring_view text)
{
    std::wstring result(text);
    for (wchar_t& ch : result)
        ch = LowerAscii(ch);
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

bool IsFullPath(std::wstring_view path) { return StartsWithDriveRoot(path) || path.starts_with(L"\\\\"); }

bool IsBracedGuid(std::wstring_view text)
{
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}')
        return false;
    for (size_t i = 1; i < 37; ++i)
    {
        const wchar_t ch = text[i];
        const bool bHyphenHere = i == 9 || i == 14 || i == 19 || i == 24;
        const bool bHex = (ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f') || (ch >= L'A' && ch <= L'F');
        if (bHyphenHere ? ch != L'-' : !bHex)
            return false;
    }
    return true;
}

std::wstring_view LastChars(std::wstring_view text, size_t n)
{
    return text.size() <= n ? text : text.substr(text.size() - n);
}

bool WideToUtf8(std::wstring_view text, std::string& utf8)
{
    if (text.empty())
    {
        utf8.clear();
        return true;
    }
    const int cchText = static_cast<int>(text.size());
    const int cb = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), cchText, nullptr, 0, nullptr, nullptr);
    if (cb < 1)
        return false;
    std::string bytes(static_cast<size_t>(cb), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, text.data(), cchText, bytes.data(), cb, nullptr, nullptr) != cb)
        return false;
    utf8 = std::move(bytes);
    return true;
}

DWORD Utf8ToWide(std::string_view bytes, std::wstring& text)
{
    const int cbBytes = static_cast<int>(bytes.size());
    const int cch = bytes.empty() ? 0 : ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), cbBytes, nullptr, 0);
    if (cch < 1)
        return bytes.empty() ? ERROR_NO_DATA : ::GetLastError();
    std::wstring converted;
    try
    {
        converted.resize(static_cast<size_t>(cch));
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_OUTOFMEMORY;
    }
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), cbBytes, converted.data(), cch);
    text = std::move(converted);
    return ERROR_SUCCESS;
}

std::wstring UniqueName(const std::wstring& strPrefix)
{
    GUID guid = {};
    wchar_t szGuid[40] = {};
    if (FAILED(::CoCreateGuid(&guid)) || !::StringFromGUID2(guid, szGuid, 40))
        return std::wstring();
    return strPrefix + L"-" + szGuid;
}

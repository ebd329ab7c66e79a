#include "win/SystemEnvironment.h"

#include "win/ScopedHandle.h"
#include "win/SystemEntry.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

namespace
{
using PfnCreateEnvironmentBlock = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
using PfnDestroyEnvironmentBlock = BOOL(WINAPI*)(LPVOID);

// Environment blocks that CreateEnvironmentBlock made, freed with
// DestroyEnvironmentBlock.
struct EnvironmentBlockTraits
{
    using Handle = void*;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept
    {
        if (const auto pfn = SystemEntry<PfnDestroyEnvironmentBlock>(L"userenv.dll", "DestroyEnvironmentBlock"))
            pfn(h);
    }
};

// Compares names as the system does: ordinal, without regard to case.
int CompareNames(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE);
}

// The name of "NAME=VALUE"; empty for the entries of drive folders ("=C:=C:\").
std::wstring_view NameOf(std::wstring_view entry) { return entry.substr(0, entry.find(L'=')); }
}

std::wstring MakeMachineEnvironmentBlock(const std::vector<CVariable>& vecExtra)
{
    const auto pfnCreate = SystemEntry<PfnCreateEnvironmentBlock>(L"userenv.dll", "CreateEnvironmentBlock");
    CScopedHandle<EnvironmentBlockTraits> pBlock;
    // No token: the machine's variables only; nothing inherited from here.
    if (!pfnCreate || !pfnCreate(pBlock.Put(), nullptr, FALSE) || !pBlock.IsValid())
        return std::wstring();
    std::vector<std::wstring> vecEntries;
    for (const wchar_t* p = static_cast<const wchar_t*>(pBlock.Get()); *p; p += vecEntries.back().size() + 1)
        vecEntries.emplace_back(p);

    // Windows gives the block sorted, Wine in the order it set the variables:
    // sorted here, so that a variable set below finds the machine's one of
    // that name wherever the system put it.
    std::sort(vecEntries.begin(), vecEntries.end(), [](const std::wstring& a, const std::wstring& b) {
        const int nOrder = CompareNames(NameOf(a), NameOf(b));
        return nOrder == CSTR_LESS_THAN || (nOrder == CSTR_EQUAL && a < b);
    });

    // Each variable is set in its place.
    for (const auto& [strName, strValue] : vecExtra)
    {
        auto it = vecEntries.begin();
        int nOrder = CSTR_LESS_THAN;
        for (; it != vecEntries.end(); ++it)
        {
            const std::wstring_view entry = *it;
            // Entries of drive folders ("=C:=C:\") come first and stay.
            if (entry.starts_with(L'='))
                continue;
            nOrder = CompareNames(NameOf(entry), strName);
            if (nOrder != CSTR_LESS_THAN)
                break;
        }
        std::wstring strEntry = strName;
        strEntry.append(1, L'=').append(strValue);
        if (it != vecEntries.end() && nOrder == CSTR_EQUAL)
            *it = strEntry;
        else
            vecEntries.insert(it, strEntry);
    }

    std::wstring block;
    for (const std::wstring& strEntry : vecEntries)
        block.append(strEntry).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

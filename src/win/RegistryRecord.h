#pragma once

#include "win/Hash.h"
#include "win/MyRegKey.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>

// A record the updater keeps under its own key: the fields of one struct,
// each a named value of the record's key, listed once, in a table that both
// the writing and the reading go through. A field is a text, a number or a
// SHA-256 digest; each entry of the table names exactly one of them.
template <typename T>
struct RecordValue
{
    const wchar_t* pszName;
    std::wstring T::* pText = nullptr;
    ULONGLONG T::* pNumber = nullptr;
    Sha256 T::* pDigest = nullptr;
};

// Writes every value of the table, then flushes the key: on disk at once.
template <typename T, size_t N>
DWORD WriteRecord(const CMyRegKey& key, const T& record, const RecordValue<T> (&values)[N])
{
    DWORD dwResult = ERROR_SUCCESS;
    for (const RecordValue<T>& value : values)
    {
        if (dwResult != ERROR_SUCCESS)
            break;
        if (value.pText)
            dwResult = key.SetStringValue(value.pszName, record.*value.pText);
        else if (value.pNumber)
            dwResult = key.SetQwordValue(value.pszName, record.*value.pNumber);
        else
            dwResult = key.SetBinaryValue(value.pszName, (record.*value.pDigest).data(), sizeof(Sha256));
    }
    return dwResult == ERROR_SUCCESS ? key.Flush() : dwResult;
}

// Reads every value of the table into record, which is left as it was unless
// all of them could be read.
template <typename T, size_t N>
DWORD ReadRecord(const CMyRegKey& key, T& record, const RecordValue<T> (&values)[N])
{
    T read = record;
    DWORD dwResult = ERROR_SUCCESS;
    for (const RecordValue<T>& value : values)
    {
        if (dwResult != ERROR_SUCCESS)
            break;
        if (value.pText)
            dwResult = key.QueryStringValue(value.pszName, read.*value.pText);
        else if (value.pNumber)
            dwResult = key.QueryQwordValue(value.pszName, read.*value.pNumber);
        else
            dwResult = key.QueryBinaryValue(value.pszName, (read.*value.pDigest).data(), sizeof(Sha256));
    }
    if (dwResult == ERROR_SUCCESS)
        record = std::move(read);
    return dwResult;
}

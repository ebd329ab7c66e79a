#include "win/FileCopy.h"

#include "win/FileDisposition.h"
#include "win/FileHandles.h"

#include <vector>

namespace
{
constexpr DWORD kBuffer = 1 << 20;

// Reads h from where it stands to its end, handing each piece to fnPiece
// until it returns a failure. ERROR_READ_FAULT when a read fails or the end
// comes elsewhere than after nSize bytes (nSize < 0: anywhere).
template <typename Fn>
DWORD ReadToEnd(HANDLE h, LONGLONG nSize, Fn fnPiece)
{
    std::vector<BYTE> buffer(kBuffer);
    LONGLONG nRead = 0;
    for (;;)
    {
        DWORD cbRead = 0;
        if (!::ReadFile(h, buffer.data(), kBuffer, &cbRead, nullptr))
            return ERROR_READ_FAULT;
        if (cbRead == 0)
            return nSize < 0 || nRead == nSize ? ERROR_SUCCESS : ERROR_READ_FAULT;
        nRead += cbRead;
        const DWORD dwPiece = fnPiece(buffer.data(), cbRead);
        if (dwPiece != ERROR_SUCCESS)
            return dwPiece;
    }
}
}

DWORD CopyIntoFolder(HANDLE hSource, HANDLE hFolder, std::wstring_view name, Sha256& digest)
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(hSource, &size))
        return ERROR_READ_FAULT;
    const LONGLONG nSize = size.QuadPart;
    CHandle hCopy;
    DWORD dwResult = OpenRelative(hFolder, name, GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                                  FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, hCopy);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    CSha256 hash;
    dwResult = ReadToEnd(hSource, nSize, [&](const BYTE* pData, DWORD cbData) -> DWORD {
        DWORD cbWritten = 0;
        if (!::WriteFile(hCopy.Get(), pData, cbData, &cbWritten, nullptr))
            return ::GetLastError();
        if (cbWritten != cbData)
            return ERROR_WRITE_FAULT;
        return hash.Add(pData, cbData) ? ERROR_SUCCESS : ERROR_INVALID_FUNCTION;
    });
    Sha256 value = {};
    if (dwResult == ERROR_SUCCESS && !hash.Finish(value))
        dwResult = ERROR_INVALID_FUNCTION;
    // On disk before anyone relies on it, a restart after a power loss included.
    if (dwResult == ERROR_SUCCESS && !::FlushFileBuffers(hCopy.Get()))
        dwResult = ::GetLastError();
    if (dwResult != ERROR_SUCCESS)
    {
        DeleteByHandle(hCopy.Get(), 0, false); // best effort: the folder is the caller's own
        return dwResult;
    }
    digest = value;
    return ERROR_SUCCESS;
}

DWORD HashFile(HANDLE h, Sha256& digest)
{
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(h, start, nullptr, FILE_BEGIN))
        return ERROR_READ_FAULT;
    CSha256 hash;
    const DWORD dwRead = ReadToEnd(h, -1, [&](const BYTE* pData, DWORD cbData) {
        return hash.Add(pData, cbData) ? ERROR_SUCCESS : ERROR_INVALID_FUNCTION;
    });
    Sha256 value = {};
    if (dwRead != ERROR_SUCCESS)
        return dwRead;
    if (!hash.Finish(value))
        return ERROR_INVALID_FUNCTION;
    digest = value;
    return ERROR_SUCCESS;
}

#pragma once

#include "win/Clock.h"
#include "win/FileHandles.h"
#include "win/Files.h" // IsFolder
#include "win/Hash.h"

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Helpers for tests that run against the real Windows API in a throwaway Wine
// prefix.

// A fresh, empty folder below C:\lumet-tests, removed again at the end.
class ScratchFolder
{
public:
    explicit ScratchFolder(const std::wstring& strName);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& Path() const { return m_strPath; }
    // Path() + "\" + relative.
    std::wstring operator/(const std::wstring& strRelative) const;

private:
    std::wstring m_strPath;
};

// A path outside the scratch folders (a profile, the data folder), removed
// with everything below it when the test ends.
struct PlantedPath
{
    std::wstring strPath;
    ~PlantedPath()
    {
        std::error_code ec;
        std::filesystem::remove_all(strPath, ec);
    }
};

// Writes the file, making the folders above it first.
void WriteBytes(const std::wstring& strPath, const std::string& bytes);
std::string ReadBytes(const std::wstring& strPath);
bool Exists(const std::wstring& strPath);
// The names that match the pattern ("C:\x\*.log"), but "." and "..".
std::vector<std::wstring> FilesIn(const std::wstring& strPattern);
void MakeFolders(const std::wstring& strPath);

SYSTEMTIME MakeSystemTime(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0);
// Sets the file's last write to nSecondsBefore seconds before stNow
// (negative: after it).
void SetLastWriteTime(const std::wstring& strPath, const SYSTEMTIME& stNow, long long nSecondsBefore);

// The program's seams are process-wide function pointers with the real call
// as their default (a clock, a registry read, the command runner, ...). A
// test swaps one only through this guard, which puts the real one back
// whatever way the test ends.
template <typename T>
class SeamOverride
{
public:
    SeamOverride(T& seam, T replacement) : m_seam(seam), m_original(std::exchange(seam, replacement)) {}
    ~SeamOverride() { m_seam = m_original; }
    SeamOverride(const SeamOverride&) = delete;
    SeamOverride& operator=(const SeamOverride&) = delete;

private:
    T& m_seam;
    T m_original;
};

// Records every call of NtCreateFile through the program's seam while it
// lives, each passed on to the real one: the name (relative to the folder
// handle given, if any), what was asked, and the owner and access list of the
// descriptor given, as SDDL (Wine keeps none: what is asked is what shows).
struct CreateCall
{
    std::wstring strName;
    ACCESS_MASK access;
    ULONG ulShare, ulDisposition;
    std::wstring strSddl;
};
class CCreateRecorder
{
public:
    CCreateRecorder();
    ~CCreateRecorder();
    CCreateRecorder(const CCreateRecorder&) = delete;
    CCreateRecorder& operator=(const CCreateRecorder&) = delete;

    std::vector<CreateCall> vecCalls;

private:
    PfnNtCreateFile m_pfnReal = g_pfnNtCreateFile;
    SeamOverride<PfnNtCreateFile> m_seam;
};

// Points the program's clock at a fixed UTC time while it lives.
struct FixedClock : SeamOverride<PfnGetSystemTime>
{
    explicit FixedClock(const SYSTEMTIME& st);
};

// Opens the program's log on a file of its own while it lives; Bytes() reads
// what was written so far. Not copyable, as its folder is not.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    std::string Bytes() const;

private:
    ScratchFolder m_folder;
    std::wstring m_strPath;
};

// UTF-8 of a wide text, for comparing log bytes.
std::string Utf8(const std::wstring& text);

// The SHA-256 digest of the bytes, by the program's own hashing.
Sha256 DigestOf(const std::string& bytes);

// Name and code of each release in the embedded Products document, read with
// a pattern of the document's exact form rather than the program's parser.
std::vector<std::pair<std::wstring, std::wstring>> ListedProducts();

// Makes a Unix symbolic link at strLink to the folder strTarget with the
// system's ln (Wine only). Wine shows such a link as a folder with the reparse
// point attribute, as Windows shows a junction. False when it could not.
bool MakeFolderLink(const std::wstring& strLink, const std::wstring& strTarget);

// The Wine path of a Unix path ("/a/b" is "Z:\\a\\b").
std::wstring FromUnix(const std::string& path);

// The Unix permission bits of a file (Wine only), as stat prints them
// ("755"): where Wine keeps what an owner or access list set; empty when they
// cannot be read.
std::string UnixMode(const std::wstring& strPath);

// Makes nLevels nested folders "a" below strBase, or as many as Wine can
// reach there (it works through host paths, which stop at 4,096 bytes), with
// a file at the bottom; returns how many it made.
size_t MakeDeepTree(const std::wstring& strBase, size_t nLevels);

// Path of the stand-in application, built beside the test programs (it
// leaves "<its path>.started" holding its command line when it runs).
std::wstring FakeAppPath();

// What the stand-in application saw, each time it ran (C:\lumet-runs.log),
// in the order it ran.
struct FakeRun
{
    std::string run, command, folder, parent, environment;
    // Whether the environment holds the variable and, when given, that value
    // (both in any case).
    bool HasVariable(const std::string& name, const std::string& value = "") const;
};
std::vector<FakeRun> FakeRuns();

// Waits up to dwTimeoutMs for a file to exist; its bytes, or nothing.
std::optional<std::string> WaitForFile(const std::wstring& strPath, DWORD dwTimeoutMs = 10000);

// Runs a command line and waits for it; returns its exit code, or -1 with a
// test failure that says why when it could not be started or did not end.
DWORD RunAndWait(const std::wstring& strCommandLine, DWORD dwTimeoutMs = 120000);

// Puts the certificate in the DER file among the trusted roots of the machine
// (HKEY_LOCAL_MACHINE) or of the user (HKEY_CURRENT_USER).
void TrustRoot(HKEY hRoot, const std::wstring& strDerPath);

// The paths waiting in the platform's list of deletions at the next restart,
// in the order they were recorded.
std::vector<std::wstring> PendingDeletions();

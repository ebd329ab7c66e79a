#pragma once

#include <windows.h>

#include <string>
#include <vector>

class ProductList;

// Fixed places of the test prefix; the program finds them through the shell.
inline const std::wstring kProfilesRoot = L"C:\\users";
inline const std::wstring kCommonAppData = L"C:\\ProgramData";

// A profile folder planted in the profiles root, removed again at the end.
class PlantedProfile
{
public:
    explicit PlantedProfile(const std::wstring& strName);
    ~PlantedProfile();
    PlantedProfile(const PlantedProfile&) = delete;
    PlantedProfile& operator=(const PlantedProfile&) = delete;

    const std::wstring& Path() const { return m_strPath; }
    std::wstring Desktop() const { return m_strPath + L"\\Desktop"; }
    std::wstring ProgramsMakerFolder() const; // ends with a backslash
    std::wstring StartupMakerFolder() const;  // ends with a backslash

private:
    std::wstring m_strPath;
};

// What the uninstallers leave behind: the data folder with files and
// sub-folders, the per-user key with values and sub-keys, one profile's
// desktop shortcut and start-menu entries, an entry in the common start menu,
// and neighbours that must stay. Removed again at the end.
class LeftoverMachine
{
public:
    static inline const std::wstring kDataFolder = kCommonAppData + L"\\Vimo\\VimoLumet";
    static inline const std::wstring kNeighbourFile = kCommonAppData + L"\\Vimo\\Other\\keep.txt";
    static inline const std::wstring kCommonMakerFolder =
        kCommonAppData + L"\\Microsoft\\Windows\\Start Menu\\Programs\\Vimo\\";
    static inline const std::wstring kUserKey = L"Software\\Vimo\\Lumet";
    static inline const std::wstring kNeighbourKey = L"Software\\Vimo\\Keep";

    LeftoverMachine();
    ~LeftoverMachine();
    LeftoverMachine(const LeftoverMachine&) = delete;
    LeftoverMachine& operator=(const LeftoverMachine&) = delete;

    // What one clean-up records, in order: desktop, common start menu,
    // per-user Programs, per-user Startup.
    std::vector<std::wstring> ExpectedFoundPaths() const;

private:
    PlantedProfile m_profile{L"Lumet-Driver"};
};

// Makes strFolder the current folder while it lives, so that paths relative
// to the current folder or drive land in the prefix.
class CurrentFolder
{
public:
    explicit CurrentFolder(const std::wstring& strFolder);
    ~CurrentFolder();
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    bool IsCurrent() const;

private:
    std::wstring m_strFolder;
    std::wstring m_strPrevious;
};

// Starts a Unix program (Z:\bin\...). It gives no handle to wait on: the
// caller watches for its effect.
void StartUnixCommand(const std::wstring& strCommandLine);

void PlantFile(const std::wstring& strPath); // with the folders above it
void RemovePlanted(const std::wstring& strPath);
bool IsEmptyFolder(const std::wstring& strPath);
bool KeyExists(HKEY hRoot, const std::wstring& strSubKey);

// The recorded paths that begin with strPrefix, in recorded order.
std::vector<std::wstring> RecordedUnder(const ProductList& list, const std::wstring& strPrefix);

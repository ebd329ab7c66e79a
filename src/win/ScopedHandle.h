#pragma once

#include <windows.h>

// One owner per kernel handle: move-only, closed exactly once, by Close() or
// by the destructor.
template <typename Traits>
class CScopedHandle
{
public:
    using Handle = typename Traits::Handle;

    CScopedHandle() noexcept = default;
    explicit CScopedHandle(Handle h) noexcept : m_h(h) {}
    ~CScopedHandle() { Close(); }

    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;

    CScopedHandle(CScopedHandle&& other) noexcept : m_h(other.Take()) {}
    CScopedHandle& operator=(CScopedHandle&& other) noexcept
    {
        if (this != &other)
        {
            Close();
            m_h = other.Take();
        }
        return *this;
    }

    bool IsValid() const noexcept { return Traits::IsValid(m_h); }
    Handle Get() const noexcept { return m_h; }

    // Gives up ownership without closing.
    Handle Take() noexcept
    {
        Handle h = m_h;
        m_h = Traits::Invalid();
        return h;
    }

    void Reset(Handle h = Traits::Invalid()) noexcept
    {
        Close();
        m_h = h;
    }

    // For out-parameters: closes what is held, then hands out the slot.
    Handle* Put() noexcept
    {
        Close();
        return &m_h;
    }

    void Close() noexcept
    {
        if (Traits::IsValid(m_h))
            Traits::Close(m_h);
        m_h = Traits::Invalid();
    }

private:
    Handle m_h = Traits::Invalid();
};

// Handles closed with CloseHandle. Both null and INVALID_HANDLE_VALUE count as
// "no handle", since the API returns one or the other depending on the call.
struct KernelHandleTraits
{
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

// Search handles of FindFirstFileW, closed with FindClose.
struct FindHandleTraits
{
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};

// Registry keys the program opened, closed with RegCloseKey. The predefined
// roots (HKEY_LOCAL_MACHINE, ...) are never held by an owner.
struct RegKeyTraits
{
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

// Memory that the system allocated for the program with LocalAlloc (argument
// arrays, security descriptors, their text forms), freed with LocalFree.
template <typename T>
struct LocalMemoryTraits
{
    using Handle = T;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::LocalFree(reinterpret_cast<HLOCAL>(h)); }
};

// Views of file mappings (MapViewOfFile), unmapped with UnmapViewOfFile.
struct MappedViewTraits
{
    using Handle = void*;
    static Handle Invalid() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
    static void Close(Handle h) noexcept { ::UnmapViewOfFile(h); }
};

using CHandle = CScopedHandle<KernelHandleTraits>;
using CMappedView = CScopedHandle<MappedViewTraits>;
using CFindHandle = CScopedHandle<FindHandleTraits>;
using CRegKeyHandle = CScopedHandle<RegKeyTraits>;
template <typename T>
using CLocalMemory = CScopedHandle<LocalMemoryTraits<T>>;

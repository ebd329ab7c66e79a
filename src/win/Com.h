#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

// Per-thread COM initialisation. CoUninitialize is paired only with a call
// that succeeded (S_OK or S_FALSE), as COM requires.
class CComInit
{
public:
    explicit CComInit(DWORD dwCoInit = COINIT_APARTMENTTHREADED) noexcept : m_hr(::CoInitializeEx(nullptr, dwCoInit)) {}
    ~CComInit()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;

    // COM is usable on the thread: initialised here, before (S_FALSE), or in
    // the other apartment model by the thread's owner.
    bool IsUsable() const noexcept { return SUCCEEDED(m_hr) || m_hr == RPC_E_CHANGED_MODE; }

private:
    HRESULT m_hr;
};

// Owner of one COM interface pointer: released exactly once.
template <typename T>
class CComPtrT
{
public:
    CComPtrT() noexcept = default;
    ~CComPtrT() { Release(); }

    CComPtrT(const CComPtrT&) = delete;
    CComPtrT& operator=(const CComPtrT&) = delete;
    CComPtrT(CComPtrT&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    CComPtrT& operator=(CComPtrT&& other) noexcept
    {
        if (this != &other)
        {
            Release();
            m_p = other.m_p;
            other.m_p = nullptr;
        }
        return *this;
    }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // For out-parameters: drops what is held, then hands out the slot.
    T** Put() noexcept
    {
        Release();
        return &m_p;
    }

    void Release() noexcept
    {
        if (m_p)
        {
            m_p->Release();
            m_p = nullptr;
        }
    }

private:
    T* m_p = nullptr;
};

// Owner of one BSTR, freed with SysFreeString.
class CBstr
{
public:
    CBstr() noexcept = default;
    explicit CBstr(const wchar_t* psz) : m_b(::SysAllocString(psz)) {}
    ~CBstr() { ::SysFreeString(m_b); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const noexcept { return m_b; }
    BSTR* Put() noexcept
    {
        ::SysFreeString(m_b);
        m_b = nullptr;
        return &m_b;
    }
    // A BSTR may hold NULs; its length comes from its prefix, not a terminator.
    std::wstring ToString() const { return m_b ? std::wstring(m_b, ::SysStringLen(m_b)) : std::wstring(); }

private:
    BSTR m_b = nullptr;
};

// Owner of one VARIANT, cleared with VariantClear.
class CVariant
{
public:
    CVariant() noexcept { ::VariantInit(&m_v); }
    explicit CVariant(LONG l) noexcept : CVariant()
    {
        m_v.vt = VT_I4;
        m_v.lVal = l;
    }
    // A text; empty (VT_EMPTY) when no string could be allocated.
    explicit CVariant(const std::wstring& str) : CVariant()
    {
        m_v.bstrVal = ::SysAllocStringLen(str.data(), static_cast<UINT>(str.size()));
        if (m_v.bstrVal)
            m_v.vt = VT_BSTR;
    }
    ~CVariant() { ::VariantClear(&m_v); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    VARIANT* Put() noexcept
    {
        ::VariantClear(&m_v);
        return &m_v;
    }
    // For calls that take the value without owning it.
    VARIANT* Ptr() noexcept { return &m_v; }
    const VARIANT& Value() const noexcept { return m_v; }
    bool IsText() const noexcept { return m_v.vt == VT_BSTR; }
    // The value as text, as COM converts it; empty when it has no text form.
    std::wstring ToString() const
    {
        if (m_v.vt == VT_BSTR)
            return m_v.bstrVal ? std::wstring(m_v.bstrVal, ::SysStringLen(m_v.bstrVal)) : std::wstring();
        CVariant text;
        if (FAILED(::VariantChangeType(text.Put(), const_cast<VARIANT*>(&m_v), 0, VT_BSTR)))
            return std::wstring();
        return text.ToString();
    }

private:
    VARIANT m_v;
};

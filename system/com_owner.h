#pragma once
// Owners for COM pointers, the calling thread's apartment, BSTRs and
// VARIANTs: each releases what it holds when it goes out of scope.
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <utility>

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For a call that hands out a reference; what was held is released first.
    T** Out() {
        Reset();
        return &p_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    // Another interface of the same object; empty when it has none.
    template <typename U>
    ComPtr<U> As(REFIID iid) const {
        ComPtr<U> other;
        if (p_) p_->QueryInterface(iid, other.OutVoid());  // leaves it null on failure
        return other;
    }

private:
    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    T* p_ = nullptr;
};

// Joins a single-threaded apartment for the owner's scope. A thread already
// in the multithreaded one keeps it and may use COM as it is.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    bool Usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(text_); }
    BSTR get() const { return text_; }

private:
    BSTR text_;
};

// Passed by value to a call, a VARIANT stays the caller's: the copy is
// shallow and the owner clears the original afterwards.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    explicit Variant(int number) : Variant() {
        V_VT(&value_) = VT_I4;
        V_I4(&value_) = number;
    }
    explicit Variant(const std::wstring& text) : Variant() {
        BSTR held = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!held) return;
        V_VT(&value_) = VT_BSTR;
        V_BSTR(&value_) = held;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value_); }
    VARIANT* get() { return &value_; }
    const VARIANT& value() const { return value_; }
    bool empty() const { return V_VT(&value_) == VT_EMPTY; }

private:
    VARIANT value_;
};

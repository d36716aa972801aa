#pragma once

// IUnknown, reference-counted objects and ComPtr.
//
// Interfaces are plain abstract structs whose methods keep the platform's slot order. Each
// names its identifier (kIid) and the interface it extends (Base), so QueryInterface can answer
// for every ancestor.

#include <atomic>
#include <tuple>
#include <cstdlib>
#include <type_traits>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/types.h"

struct IUnknown {
    static constexpr GUID kIid = quil::Guid("{00000000-0000-0000-C000-000000000046}");
    using Base = void;
    virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    static constexpr GUID kIid = quil::Guid("{00000001-0000-0000-C000-000000000046}");
    using Base = IUnknown;
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

template <class I>
constexpr const GUID& IidOf() {
    return std::remove_cv_t<I>::kIid;
}

#define IID_PPV_ARGS(pp) IidOf<std::remove_pointer_t<std::remove_pointer_t<decltype(pp)>>>(), \
                         reinterpret_cast<void**>(pp)

void* CoTaskMemAlloc(size_t bytes);
void CoTaskMemFree(void* block);

namespace quil {

// True when iid names I or one of the interfaces I extends.
template <class I>
constexpr bool InterfaceMatches(REFIID iid) {
    if (iid == I::kIid) return true;
    if constexpr (!std::is_void_v<typename I::Base>) return InterfaceMatches<typename I::Base>(iid);
    return false;
}

// The reference-counting core of every object, as DirectShow's CUnknown: a class answers its own
// interfaces in NonDelegatingQueryInterface and forwards the rest to its base. An object built
// with an owner (a pin inside its filter) shares the owner's reference count, so the two live
// and die together and never form a cycle.
class UnknownBase {
public:
    explicit UnknownBase(UnknownBase* owner = nullptr) : owner_(owner) {}
    UnknownBase(const UnknownBase&) = delete;
    UnknownBase& operator=(const UnknownBase&) = delete;
    virtual ~UnknownBase() = default;

    virtual HRESULT NonDelegatingQueryInterface(REFIID, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG NonDelegatingAddRef() {
        if (owner_) return owner_->NonDelegatingAddRef();
        return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG NonDelegatingRelease() {
        if (owner_) return owner_->NonDelegatingRelease();
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    // Objects start with one reference, which the creator owns (see MakeCom).
    ULONG RefCount() const { return owner_ ? owner_->RefCount() : refs_.load(); }

protected:
    template <class I, class T>
    static HRESULT GetInterface(T* object, void** out) {
        *out = static_cast<I*>(object);
        static_cast<I*>(object)->AddRef();
        return S_OK;
    }

private:
    UnknownBase* owner_;
    std::atomic<ULONG> refs_{1};
};

#define QUIL_DECLARE_IUNKNOWN                                                 \
    HRESULT QueryInterface(REFIID iid, void** out) override {                 \
        if (!out) return E_POINTER;                                           \
        if (iid == IUnknown::kIid) {                                          \
            *out = static_cast<IUnknown*>(this->PrimaryInterface());          \
            this->NonDelegatingAddRef();                                      \
            return S_OK;                                                      \
        }                                                                     \
        return this->NonDelegatingQueryInterface(iid, out);                   \
    }                                                                         \
    ULONG AddRef() override { return this->NonDelegatingAddRef(); }           \
    ULONG Release() override { return this->NonDelegatingRelease(); }

// An object implementing the interfaces Is... (each with its ancestors). Derive from it, or from
// a class that derives from it, and add interfaces by overriding NonDelegatingQueryInterface.
template <class... Is>
class ComImpl : public UnknownBase, public Is... {
public:
    using UnknownBase::UnknownBase;
    QUIL_DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        HRESULT hr = E_NOINTERFACE;
        ((hr == E_NOINTERFACE && InterfaceMatches<Is>(iid) ? (hr = GetInterface<Is>(this, out))
                                                          : hr),
         ...);
        return hr;
    }

protected:
    using First = std::tuple_element_t<0, std::tuple<Is...>>;
    First* PrimaryInterface() { return static_cast<First*>(this); }
};

// Smart pointer holding one reference.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
        requires std::is_convertible_v<U*, T*>
    ComPtr(ComPtr<U> other) : p_(other.Detach()) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    // Takes over a reference the caller already owns.
    static ComPtr Adopt(T* p) {
        ComPtr result;
        result.p_ = p;
        return result;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // Releases what is held and returns the slot for an out-parameter.
    T** Put() {
        Reset();
        return &p_;
    }
    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    template <class U>
    HRESULT As(ComPtr<U>* out) const {
        if (!p_) return E_POINTER;
        // Through a local, so asking into the pointer itself cannot release the object first.
        ComPtr<U> result;
        HRESULT hr = p_->QueryInterface(IidOf<U>(), reinterpret_cast<void**>(result.Put()));
        *out = std::move(result);
        return hr;
    }
    template <class U>
    ComPtr<U> As() const {
        ComPtr<U> result;
        if (p_) As(&result);
        return result;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

// Creates an object whose single initial reference the returned pointer owns.
template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args) {
    return ComPtr<T>::Adopt(new T(std::forward<Args>(args)...));
}

// Asks any interface for another; an empty pointer when it is not offered.
template <class To, class From>
ComPtr<To> QueryAs(From* object) {
    ComPtr<To> result;
    if (object) object->QueryInterface(IidOf<To>(), reinterpret_cast<void**>(result.Put()));
    return result;
}

}  // namespace quil

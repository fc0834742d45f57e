#pragma once
// Counted reference to a COM interface.
#include "platform/com/Unknown.h"

#include <utility>

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) { }
    // Adds a reference to p.
    explicit ComPtr(T* p) : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.m_p) { }
    ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) { }
    ComPtr& operator=(ComPtr o) noexcept
    {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Takes over a reference the caller already holds.
    static ComPtr Attach(T* p)
    {
        ComPtr c;
        c.m_p = p;
        return c;
    }
    T* Detach() { return std::exchange(m_p, nullptr); }
    void Reset()
    {
        if (auto* p = std::exchange(m_p, nullptr))
            p->Release();
    }
    // Slot for an out-parameter that returns a new reference.
    T** Out()
    {
        Reset();
        return &m_p;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.m_p == b.m_p; }

    // QueryInterface for U; empty when the object does not answer it.
    template <class U>
    ComPtr<U> As() const
    {
        ComPtr<U> r;
        if (m_p)
            m_p->QueryInterface(InterfaceId<U>::value, r.OutVoid());
        return r;
    }

private:
    T* m_p = nullptr;
};

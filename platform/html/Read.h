#pragma once
// The outcome of one property read on the document model: a value, or the
// HRESULT with which the browser refused it. Discovery skips what a read
// refuses, so the failure must be visible to it, while a successful read of
// an empty text stays distinct from a failed one.
#include "platform/com/HResult.h"

#include <utility>

namespace html {

// Thread: any (a plain value).
template <class T>
class [[nodiscard]] Read {
public:
    // A successful read of the empty/zero value, so that a model built by
    // hand only names what it sets.
    Read() = default;
    Read(T value) // NOLINT(google-explicit-constructor): reads are values
        : m_value(std::move(value))
    {
    }

    // A read that fails with the given (negative) HRESULT.
    static Read Fail(HRESULT hr)
    {
        Read r;
        r.m_hr = FAILED(hr) ? hr : E_FAIL;
        return r;
    }

    bool ok() const { return SUCCEEDED(m_hr); }
    explicit operator bool() const { return ok(); }
    HRESULT hr() const { return m_hr; }

    // The value; the default value when the read failed.
    const T& value() const { return m_value; }
    T& value() { return m_value; }
    const T& operator*() const { return m_value; }
    T& operator*() { return m_value; }
    const T* operator->() const { return &m_value; }
    T* operator->() { return &m_value; }

private:
    HRESULT m_hr = S_OK;
    T m_value {};
};

} // namespace html

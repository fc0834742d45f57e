#pragma once
// A failing read on a recognised media control. It carries the control's
// HRESULT and the interface that was read, and ends the whole discovery run.
#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace QVXMLInfoExtractors {

// Thread: any (a plain value).
class ComError : public std::runtime_error {
public:
    ComError(HRESULT hr, const IID& iid)
        : std::runtime_error(Describe(hr, iid)), m_hr(hr), m_iid(iid)
    {
    }

    HRESULT hr() const { return m_hr; }
    const IID& iid() const { return m_iid; }

private:
    static std::string Describe(HRESULT hr, const IID& iid)
    {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        return std::string("COM error ") + code + " reading interface " + GuidToString(iid);
    }

    HRESULT m_hr;
    IID m_iid;
};

} // namespace QVXMLInfoExtractors

// The dialog's content: the page builder's output and the language data.
#include "grabber/Tovanix.h"

HRESULT CTovanix::GetData(LONG, BSTR* pData)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    if (!pData)
        return E_POINTER;
    *pData = nullptr;
    // The page builder is not part of this build yet.
    return E_NOTIMPL;
}

HRESULT CTovanix::SetData(LONG, BSTR)
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    // The language file is not part of this build yet.
    return E_NOTIMPL;
}

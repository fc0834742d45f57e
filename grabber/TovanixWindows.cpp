// The secondary windows the page opens: options, about and help.
#include "grabber/Tovanix.h"

HRESULT CTovanix::ShowHelp()
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    return E_NOTIMPL;
}

HRESULT CTovanix::ShowOptions()
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    return E_NOTIMPL;
}

HRESULT CTovanix::ShowAbout()
{
    if (HRESULT hr = NeedsDialog(); FAILED(hr))
        return hr;
    return E_NOTIMPL;
}

// ISender for the POSIX build, where no IDL compiler runs: the methods,
// parameters and order of the declaration that widl writes from Sender.idl
// for Windows, so that a vtable caller sees the same slots on both builds.
#pragma once

#include "platform/Com.h"

// {4359B4C3-E087-4D97-9AC3-86FE8B61B145}
inline constexpr IID IID_ISender = {
    0x4359B4C3, 0xE087, 0x4D97, {0x9A, 0xC3, 0x86, 0xFE, 0x8B, 0x61, 0xB1, 0x45}};

struct ISender : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE TestConn(BSTR* Message, VARIANT_BOOL* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Send(BSTR Request, BSTR* Reply, short* Progress, BSTR* Status,
                                           BSTR* Message, VARIANT_BOOL* Result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Init(BSTR Config, BSTR* Message, VARIANT_BOOL* Result) = 0;
};

// MakeTypeLib: writes the library's own type library, DuredaVevuvavizuriz_NUVA
// 1.0, whose one coclass SenderImpl takes its default interface ISender from
// the host's Sender.tlb by a real import (widl can only copy the interface
// into the library, and registering such a copy takes the interface's keys
// away from the host's library).
//
//   MakeTypeLib OUTPUT win64|win32
//
// Runs under Windows or Wine with the host's Sender.tlb in the current
// directory: the import is recorded by that bare file name, so the output is
// the same bytes on every run and machine. Its outputs are committed beside
// this file (one per pointer size); a test regenerates them and compares.
#include <cstdio>
#include <cstring>

#include "com/SenderImpl.h"
#include "platform/Com.h"

namespace {

bool Check(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return true;
    std::fprintf(stderr, "MakeTypeLib: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    return false;
}

int Make(const wchar_t* output, SYSKIND syskind) {
    using namespace nuva;
    TComPtr<ITypeLib> host;
    TComPtr<ITypeInfo> sender;
    if (!Check(LoadTypeLibEx(L"Sender.tlb", REGKIND_NONE, host.Receive()), "LoadTypeLibEx") ||
        !Check(host->GetTypeInfoOfGuid(IID_ISender, sender.Receive()), "ISender"))
        return 1;

    TComPtr<ICreateTypeLib2> lib;
    if (!Check(CreateTypeLib2(syskind, output, lib.Receive()), "CreateTypeLib2") ||
        !Check(lib->SetName(const_cast<LPOLESTR>(L"DuredaVevuvavizuriz_NUVA")), "SetName") ||
        !Check(lib->SetGuid(LIBID_DuredaVevuvavizuriz_NUVA), "SetGuid") ||
        !Check(lib->SetVersion(kTypeLibMajor, kTypeLibMinor), "SetVersion") ||
        !Check(lib->SetLcid(LOCALE_NEUTRAL), "SetLcid") ||
        !Check(lib->SetDocString(const_cast<LPOLESTR>(L"Sender_NUVA Library")), "SetDocString"))
        return 1;

    TComPtr<ICreateTypeInfo> cls;
    HREFTYPE ref = 0;
    if (!Check(
            lib->CreateTypeInfo(const_cast<LPOLESTR>(L"SenderImpl"), TKIND_COCLASS, cls.Receive()),
            "CreateTypeInfo") ||
        !Check(cls->SetGuid(CLSID_SenderImpl), "SetGuid (class)") ||
        !Check(cls->SetDocString(const_cast<LPOLESTR>(L"SenderImpl")), "SetDocString (class)") ||
        !Check(cls->SetVersion(kTypeLibMajor, kTypeLibMinor), "SetVersion (class)") ||
        !Check(cls->SetTypeFlags(TYPEFLAG_FCANCREATE), "SetTypeFlags") ||
        !Check(cls->AddRefTypeInfo(sender.Get(), &ref), "AddRefTypeInfo") ||
        !Check(cls->AddImplType(0, ref), "AddImplType") ||
        !Check(cls->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT), "SetImplTypeFlags") ||
        !Check(cls->LayOut(), "LayOut") || !Check(lib->SaveAllChanges(), "SaveAllChanges"))
        return 1;
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || (std::wcscmp(argv[2], L"win64") != 0 && std::wcscmp(argv[2], L"win32") != 0)) {
        std::fputs("usage: MakeTypeLib OUTPUT win64|win32\n", stderr);
        return 2;
    }
    CoInitialize(nullptr);
    const int rc = Make(argv[1], std::wcscmp(argv[2], L"win64") == 0 ? SYS_WIN64 : SYS_WIN32);
    CoUninitialize();
    return rc;
}

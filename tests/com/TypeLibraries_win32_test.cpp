// What only Windows has: type libraries (the host's registered for the whole
// program, as an installed host has it; ours registered with the class) and
// 8.3 short names.
#include <gtest/gtest.h>

#include "ComTestSupport.h"
#include "com/Registration.h"
#include "com/SenderImpl.h"

namespace nuva {
namespace {

using namespace nuva::test;

// The program's objects read ISender from the host's type library.
class THostLibraryEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { RegisterTypeLibraryFile(HostTypeLibraryPath()); }
};
[[maybe_unused]] ::testing::Environment* const kHostLibrary =
    ::testing::AddGlobalTestEnvironment(new THostLibraryEnvironment);

const AnsiString kOurLibraryKey = AnsiString("TypeLib\\") + kLibIdText + "\\1.0";
const AnsiString kHostLibraryKey = AnsiString("TypeLib\\") + kHostLibIdText + "\\1.0";
const AnsiString kSenderInterfaceKey = AnsiString("Interface\\") + kSenderIidText;

TEST(TypeLibraries, OursComesAndGoesWithTheClassTheHostsStays) {
    ASSERT_TRUE(RegKeyExists(kHostLibraryKey));
    ASSERT_TRUE(RegKeyExists(kSenderInterfaceKey));
    RegisterServer(ServerPath());
    EXPECT_TRUE(RegKeyExists(kOurLibraryKey));
    AnsiString owner;
    EXPECT_TRUE(RegReadString(kSenderInterfaceKey + "\\TypeLib", "", &owner));
    EXPECT_EQ(owner, kHostLibIdText) << "ISender must stay the host library's";

    UnregisterServer(ServerPath());
    EXPECT_FALSE(RegKeyExists(kOurLibraryKey));
    EXPECT_TRUE(RegKeyExists(kHostLibraryKey));
    EXPECT_TRUE(RegKeyExists(kSenderInterfaceKey));
}

// The class names ISender as its default interface and IDispatch serves the
// host library's description of it.
TEST(TypeLibraries, TheObjectDescribesItselfFromBothLibraries) {
    TComPtr<IClassFactory> factory;
    ASSERT_EQ(SenderGetClassObject(CLSID_SenderImpl, IID_IClassFactory, factory.ReceiveVoid()),
              S_OK);
    TComPtr<IProvideClassInfo> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IProvideClassInfo, object.ReceiveVoid()), S_OK);

    TComPtr<ITypeInfo> cls;
    ASSERT_EQ(object->GetClassInfo(cls.Receive()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_SenderImpl));
    cls->ReleaseTypeAttr(attr);
    TBstr name, doc;
    ASSERT_EQ(cls->GetDocumentation(MEMBERID_NIL, name.Receive(), doc.Receive(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(name.ToAnsi(), "SenderImpl");
    EXPECT_EQ(doc.ToAnsi(), "SenderImpl");

    TComPtr<IDispatch> dispatch;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid()), S_OK);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    TComPtr<ITypeInfo> sender;
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, sender.Receive()), S_OK);
    TComPtr<ITypeLib> lib;
    UINT index = 0;
    ASSERT_EQ(sender->GetContainingTypeLib(lib.Receive(), &index), S_OK);
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
    EXPECT_EQ(GuidToString(libAttr->guid), kHostLibIdText);
    lib->ReleaseTLibAttr(libAttr);
    EXPECT_EQ(dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, sender.Receive()), DISP_E_BADINDEX);
}

// Under Wine as on Windows a long name has an 8.3 form: the registered
// server path has no space and still names the file.
TEST(TypeLibraries, ShortFormOfAPathWithASpace) {
    TTempDir dir;
    const AnsiString folder = dir / "with space";
    ASSERT_TRUE(ForceDirectories(folder));
    const AnsiString server = folder + PathDelim + kServerFile;
    WriteAll(server, ReadAll(ServerPath()));
    const AnsiString value = InprocServerValue(server);
    EXPECT_EQ(value.find(' '), AnsiString::npos) << value;
    EXPECT_TRUE(FileExists(value)) << value;

    RegisterServer(server);
    AnsiString registered;
    EXPECT_TRUE(
        RegReadString(AnsiString("CLSID\\") + kClsidText + "\\InprocServer32", "", &registered));
    EXPECT_EQ(registered, value);
    UnregisterServer(server);
}

}  // namespace
}  // namespace nuva

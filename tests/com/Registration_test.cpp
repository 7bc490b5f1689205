// What registration writes and removes, on the registry of the build (the
// real one under Wine, the COM runtime's in-memory one on POSIX).
#include <gtest/gtest.h>

#include "ComTestSupport.h"
#include "com/Registration.h"

namespace nuva {
namespace {

using namespace nuva::test;

const AnsiString kClsidKey = AnsiString("CLSID\\") + kClsidText;

AnsiString ShortFormFails(const AnsiString&) {
    return AnsiString();
}
AnsiString ShortFormWorks(const AnsiString&) {
    return "C:\\PROGRA~1\\NUVA\\DUREDA~1.DLL";
}

TEST(InprocServerValue, ShortFormOnlyForAPathWithASpace) {
    const struct {
        AnsiString path;
        TShortPathFunction shortPath;
        AnsiString value;
    } cases[] = {
        {"C:\\nuva\\DuredaVevuvavizuriz_NUVA.dll", ShortFormWorks,
         "C:\\nuva\\DuredaVevuvavizuriz_NUVA.dll"},
        {"C:\\Program Files\\nuva\\DuredaVevuvavizuriz_NUVA.dll", ShortFormWorks,
         "C:\\PROGRA~1\\NUVA\\DUREDA~1.DLL"},
        {"C:\\nuva\\" + A(u"誠 信") + "\\x.dll", ShortFormWorks,
         "C:\\PROGRA~1\\NUVA\\DUREDA~1.DLL"},
        {"C:\\nuva\\" + A(u"誠信") + "\\x.dll", ShortFormWorks,
         "C:\\nuva\\" + A(u"誠信") + "\\x.dll"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InprocServerValue(c.path, c.shortPath), c.value) << c.path;
}

// The short form may come back empty (no 8.3 names on the volume, a path the
// system cannot shorten): the class must still name a file that loads.
TEST(InprocServerValue, EmptyShortFormFallsBackToTheFullPath) {
    const AnsiString path = "C:\\Program Files\\nuva\\DuredaVevuvavizuriz_NUVA.dll";
    EXPECT_EQ(InprocServerValue(path, ShortFormFails), path);
}

class TRegistration : public ::testing::Test {
  protected:
    void TearDown() override { UnregisterServer(ServerPath()); }

    // Every key and value registration writes, as the host reads them.
    void ExpectRegistered(const AnsiString& server) {
        const struct {
            AnsiString key, name, data;
        } expected[] = {
            {kClsidKey, "", "SenderImpl"},
            {kClsidKey + "\\InprocServer32", "", server},
            {kClsidKey + "\\InprocServer32", "ThreadingModel", "Both"},
            {kClsidKey + "\\ProgID", "", kProgIdText},
            {kProgIdText, "", "SenderImpl"},
            {AnsiString(kProgIdText) + "\\Clsid", "", kClsidText},
            {kClsidKey + "\\Version", "", "1.0"},
            {kClsidKey + "\\TypeLib", "", kLibIdText},
        };
        for (const auto& e : expected) {
            AnsiString data;
            EXPECT_TRUE(RegReadString(e.key, e.name, &data)) << e.key << " " << e.name;
            EXPECT_EQ(data, e.data) << e.key << " " << e.name;
        }
    }

    void ExpectUnregistered() {
        for (const AnsiString& key :
             {kClsidKey + "\\TypeLib", kClsidKey + "\\Version", kClsidKey + "\\ProgID",
              AnsiString(kProgIdText) + "\\Clsid", AnsiString(kProgIdText),
              kClsidKey + "\\InprocServer32", kClsidKey})
            EXPECT_FALSE(RegKeyExists(key)) << key;
    }
};

TEST_F(TRegistration, WritesTheEightValuesAndRemovesThem) {
    RegisterServer(ServerPath());
    ExpectRegistered(ServerPath());
    UnregisterServer(ServerPath());
    ExpectUnregistered();
    // Nothing registered: still no error.
    EXPECT_NO_THROW(UnregisterServer(ServerPath()));
}

TEST_F(TRegistration, PathWithASpaceWhoseShortFormFails) {
    TTempDir dir;
    const AnsiString folder = dir / "with space";
    ASSERT_TRUE(ForceDirectories(folder));
    // The type library is registered from the file itself.
    const AnsiString server = folder + PathDelim + kServerFile;
    WriteAll(server, ReadAll(ServerPath()));
    RegisterServer(server, ShortFormFails);
    ExpectRegistered(server);
    UnregisterServer(server);
    ExpectUnregistered();
}

// A key that someone else's subkey keeps is an error, after every other key
// went.
TEST_F(TRegistration, AKeyThatStaysFailsUnregistration) {
    RegisterServer(ServerPath());
    const AnsiString foreign = kClsidKey + "\\InprocServer32\\Foreign";
    ASSERT_TRUE(RegWriteString(foreign, "", "x"));
    EXPECT_THROW(UnregisterServer(ServerPath()), Exception);
    EXPECT_FALSE(RegKeyExists(AnsiString(kProgIdText)));
    EXPECT_FALSE(RegKeyExists(kClsidKey + "\\TypeLib"));
    EXPECT_TRUE(RegKeyExists(kClsidKey + "\\InprocServer32"));
    EXPECT_TRUE(RegRemoveKey(foreign));
    EXPECT_NO_THROW(UnregisterServer(ServerPath()));
    ExpectUnregistered();
}

}  // namespace
}  // namespace nuva

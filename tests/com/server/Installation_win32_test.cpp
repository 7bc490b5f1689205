// Windows hosts: the system's own regsvr32, a script host, and a server
// whose host type library is not registered.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "../ComTestSupport.h"
#include "com/Registration.h"
#include "invokers/ComponentInvoker.h"

namespace nuva {
namespace {

using namespace nuva::test;

// Runs a program and returns its exit code; -1 when it could not be started
// or did not end within a minute. Its output goes to `outputFile` and it
// runs in `directory` when they are named (else in the test's own).
int RunProgram(const AnsiString& commandLine, const AnsiString& outputFile = "",
               const AnsiString& directory = "") {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    HANDLE output = INVALID_HANDLE_VALUE;
    if (!outputFile.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (output == INVALID_HANDLE_VALUE) return -1;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    const BOOL started = CreateProcessA(
        nullptr, &line[0], nullptr, nullptr, output != INVALID_HANDLE_VALUE, 0, nullptr,
        directory.empty() ? nullptr : directory.c_str(), &startup, &process);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    if (!started) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// A key's value names and subkey names under HKEY_CLASSES_ROOT; false when
// the key is missing.
bool ReadKey(const AnsiString& key, std::set<AnsiString>* values, std::set<AnsiString>* subkeys) {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumValueA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        values->insert(name);
    }
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys->insert(name);
    }
    RegCloseKey(h);
    return true;
}

const AnsiString kClsidKey = AnsiString("CLSID\\") + kClsidText;

// regsvr32 writes exactly the eight values and takes all of them away
// again, and leaves the host's type library registered.
TEST(Regsvr32, RegistersTheEightValuesAndRemovesThem) {
    RegisterTypeLibraryFile(HostTypeLibraryPath());
    ASSERT_EQ(RunProgram("regsvr32 /s \"" + ServerPath() + "\""), 0);

    const struct {
        AnsiString key;
        std::set<AnsiString> values;  // name -> data below
        std::set<AnsiString> subkeys;
    } keys[] = {
        {kClsidKey, {""}, {"InprocServer32", "ProgID", "TypeLib", "Version"}},
        {kClsidKey + "\\InprocServer32", {"", "ThreadingModel"}, {}},
        {kClsidKey + "\\ProgID", {""}, {}},
        {kClsidKey + "\\Version", {""}, {}},
        {kClsidKey + "\\TypeLib", {""}, {}},
        {kProgIdText, {""}, {"Clsid"}},
        {AnsiString(kProgIdText) + "\\Clsid", {""}, {}},
    };
    for (const auto& k : keys) {
        std::set<AnsiString> values, subkeys;
        ASSERT_TRUE(ReadKey(k.key, &values, &subkeys)) << k.key;
        EXPECT_EQ(values, k.values) << k.key;
        EXPECT_EQ(subkeys, k.subkeys) << k.key;
    }
    const struct {
        AnsiString key, name, data;
    } data[] = {
        {kClsidKey, "", "SenderImpl"},
        {kClsidKey + "\\InprocServer32", "", ServerPath()},
        {kClsidKey + "\\InprocServer32", "ThreadingModel", "Both"},
        {kClsidKey + "\\ProgID", "", kProgIdText},
        {kProgIdText, "", "SenderImpl"},
        {AnsiString(kProgIdText) + "\\Clsid", "", kClsidText},
        {kClsidKey + "\\Version", "", "1.0"},
        {kClsidKey + "\\TypeLib", "", kLibIdText},
    };
    for (const auto& d : data) {
        AnsiString value;
        EXPECT_TRUE(RegReadString(d.key, d.name, &value)) << d.key << " " << d.name;
        EXPECT_EQ(value, d.data) << d.key << " " << d.name;
    }
    EXPECT_TRUE(RegKeyExists(AnsiString("TypeLib\\") + kLibIdText));

    ASSERT_EQ(RunProgram("regsvr32 /u /s \"" + ServerPath() + "\""), 0);
    for (const auto& k : keys) EXPECT_FALSE(RegKeyExists(k.key)) << k.key;
    EXPECT_FALSE(RegKeyExists(AnsiString("TypeLib\\") + kLibIdText));
    EXPECT_TRUE(RegKeyExists(AnsiString("TypeLib\\") + kHostLibIdText + "\\1.0"));
    AnsiString owner;
    EXPECT_TRUE(
        RegReadString(AnsiString("Interface\\") + kSenderIidText + "\\TypeLib", "", &owner));
    EXPECT_EQ(owner, kHostLibIdText);
    // The program's other tests create objects.
    EXPECT_TRUE(RegisterDll(ServerPath(), true));
}

// A script host creates the object by ProgID. (Its calls with variables run
// in the test command against the installed package:
// scripts/windows-install-checks.sh.)
TEST(ScriptHost, CreatesTheObjectByProgId) {
    RegisterTypeLibraryFile(HostTypeLibraryPath());
    ASSERT_EQ(RunProgram("regsvr32 /s \"" + ServerPath() + "\""), 0);
    TTempDir dir;
    const AnsiString script = dir / "create.vbs";
    // cscript prints nothing and exits 0 on an unhandled error: the script
    // says what happened through its exit code alone.
    WriteAll(script,
             "On Error Resume Next\r\n"
             "Set o = CreateObject(\"DuredaVevuvavizuriz_NUVA.SenderImpl\")\r\n"
             "If Err.Number <> 0 Then WScript.Quit 2\r\n"
             "If TypeName(o) <> \"ISender\" Then WScript.Quit 3\r\n"
             "WScript.Quit 0\r\n");
    EXPECT_EQ(RunProgram("cscript //nologo \"" + script + "\""), 0);
}

// Without the host's type library a host cannot create the object: a clean
// failure with the platform's code for a type library that cannot be had,
// until the library is registered. The host is nuva, copied with the server
// into a folder without Sender.tlb and run there: a library that lies where
// the host, the server or the current directory is would be loaded (and
// registered) by its file name.
TEST(HostLibraryMissing, CreationFailsCleanlyUntilItIsRegistered) {
    TTempDir dir;
    const AnsiString nuva = dir / "nuva.exe";
    const AnsiString server = dir / kServerFile;
    const AnsiString config = dir / "config.xml";
    const AnsiString output = dir / "output.txt";
    WriteAll(nuva, ReadAll(ProgramDirectory() + "nuva.exe"));
    WriteAll(server, ReadAll(ServerPath()));
    WriteAll(config, "<CONFIG></CONFIG>");
    UnregisterTypeLibraryFile(HostTypeLibraryPath());
    ASSERT_FALSE(RegKeyExists(AnsiString("TypeLib\\") + kHostLibIdText));
    ASSERT_TRUE(RegisterDll(server, true));
    const AnsiString init = "\"" + nuva + "\" init --com --config \"" + config + "\"";

    EXPECT_EQ(RunProgram(init, output, dir.Path()), 2);
    // TYPE_E_LIBNOTREGISTERED, or TYPE_E_CANTLOADLIBRARY after the search by
    // file name (Wine).
    EXPECT_NE(ReadAll(output).find(AnsiString("cannot create ") + kProgIdText + ": 0x8002"),
              std::string::npos)
        << ReadAll(output);

    // Registered: the object is made and Init runs (and fails: no components).
    RegisterTypeLibraryFile(HostTypeLibraryPath());
    EXPECT_EQ(RunProgram(init, output, dir.Path()), 1) << ReadAll(output);

    EXPECT_TRUE(RegisterDll(server, false));
    EXPECT_TRUE(RegisterDll(ServerPath(), true));
}

// Every binary we ship carries a version resource with the project's
// version (NUVA_PROJECT_VERSION, from project() in CMakeLists.txt) and its
// own file name, as the system's version API reads it.
TEST(VersionResource, EveryShippedBinaryCarriesTheProjectVersion) {
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(sscanf(NUVA_PROJECT_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    for (const char* file : {kServerFile, "nuva.exe", "NuvaNet.dll", "NuvaCA.dll", "TestNet.dll"}) {
        SCOPED_TRACE(file);
        const AnsiString path = ProgramDirectory() + file;
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        ASSERT_NE(size, 0u) << "no version resource";
        std::vector<char> data(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
        EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
        const struct {
            const char* name;
            AnsiString expected;
        } strings[] = {{"FileVersion", NUVA_PROJECT_VERSION},
                       {"ProductVersion", NUVA_PROJECT_VERSION},
                       {"ProductName", "DuredaVevuvavizuriz_NUVA"},
                       {"OriginalFilename", file}};
        for (const auto& s : strings) {
            char* text = nullptr;
            const AnsiString query = AnsiString("\\StringFileInfo\\040904b0\\") + s.name;
            ASSERT_TRUE(VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&text),
                                       &length))
                << s.name;
            EXPECT_EQ(AnsiString(text), s.expected) << s.name;
        }
    }
}

}  // namespace
}  // namespace nuva

namespace nuva {
namespace {

// A host that holds the class factory (CoGetClassObject) creates objects
// with it later: COM's sweep of unused libraries must not unload the library
// under it. Before the factory counted its references, the sweep freed the
// library and the held factory pointed into unloaded code.
TEST(FactoryLifetime, AHeldFactorySurvivesTheSweepOfUnusedLibraries) {
    RegisterTypeLibraryFile(HostTypeLibraryPath());
    ASSERT_TRUE(RegisterDll(ServerPath(), true));
    const CLSID clsid = Guid(kClsidText);
    TComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.ReceiveVoid()),
              S_OK);
    CoFreeUnusedLibrariesEx(0, 0);  // no delay: what may go, goes now
    ASSERT_NE(GetModuleHandleA(kServerFile), nullptr) << "unloaded under a held factory";
    TComPtr<ISender> object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISender, object.ReceiveVoid()), S_OK);
    EXPECT_TRUE(object);
    object.Reset();
    factory.Reset();
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(GetModuleHandleA(kServerFile), nullptr) << "nothing holds it any more";
}

}  // namespace
}  // namespace nuva

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>

#include "platform/Stream.h"

namespace nuva::test {

namespace {

std::mutex boxesMutex;
std::vector<TShownBox> boxes;

}  // namespace

AnsiString SharedDir() {
    return IncludeTrailingPathDelimiter(NUVA_SHARED_DIR);
}

bool HaveShared() {
    return DirectoryExists(ExcludeTrailingPathDelimiter(SharedDir()));
}

AnsiString FixturePath(const std::string& relative) {
    AnsiString path = SharedDir() + "fixtures" + PathDelim + relative;
    for (char& c : path)
        if (c == '/') c = PathDelim;
    return path;
}

std::string ReadAll(const AnsiString& path) {
    try {
        TFileStream f(path, fmOpenRead | fmShareDenyNone);
        std::string bytes(static_cast<size_t>(f.Size()), '\0');
        f.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        return bytes;
    } catch (const Exception& e) {
        ADD_FAILURE() << "ReadAll(" << path << "): " << e.what();
        return std::string();
    }
}

void WriteAll(const AnsiString& path, const std::string& bytes) {
    try {
        TFileStream f(path, fmCreate);
        f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    } catch (const Exception& e) {
        ADD_FAILURE() << "WriteAll(" << path << "): " << e.what();
    }
}

bool RemoveTree(const AnsiString& dir) {
    AnsiString base = IncludeTrailingPathDelimiter(dir);
    for (const TDirEntry& e : ListDirectoryEntries(dir)) {
        if (e.name == "." || e.name == "..") continue;
        AnsiString full = base + e.name;
        if (e.attributes & faDirectory) {
            RemoveTree(full);
        } else {
            if (e.attributes & faReadOnly) SetFileAttributes(full, faArchive);
            DeleteFile(full);
        }
    }
    return RemoveDir(dir) || !DirectoryExists(dir);
}

TTempDir::TTempDir() {
    AnsiString made = CreateUniqueTempDirectory("", "nuva-test-");
    if (made.empty()) {
        ADD_FAILURE() << "cannot create a temporary directory under " << TempDirectory() << ": "
                      << LastErrorText();
        return;
    }
    path_ = IncludeTrailingPathDelimiter(made);
}

TTempDir::~TTempDir() {
    if (!path_.empty()) RemoveTree(ExcludeTrailingPathDelimiter(path_));
}

AnsiString TTempDir::operator/(const std::string& name) const {
    AnsiString r = path_ + name;
    for (size_t i = path_.size(); i < r.size(); ++i)
        if (r[i] == '/') r[i] = PathDelim;
    return r;
}

std::vector<TShownBox> TakeMessageBoxes() {
    std::lock_guard<std::mutex> lock(boxesMutex);
    std::vector<TShownBox> taken;
    taken.swap(boxes);
    return taken;
}

}  // namespace nuva::test

int main(int argc, char** argv) {
    nuva::SetMessageBoxHandler([](const nuva::AnsiString& text, const nuva::AnsiString& caption,
                                  unsigned flags) {
        std::lock_guard<std::mutex> lock(nuva::test::boxesMutex);
        nuva::test::boxes.push_back({text, caption, flags});
        return static_cast<int>(nuva::idOk);
    });
    nuva::SetMessagePumpHandler([] {});
    nuva::SetBusyCursorHandler([](bool) {});
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

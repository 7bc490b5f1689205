// Shared by the engine's fuzz targets: one engine whose work directories lie
// two levels down in a scratch tree made once per process under a name of its
// own (any number of targets and replays run side by side),
//
//   <scratch>/work/send/   request work files
//   <scratch>/work/recv/   received files
//
// and a check that, after a step, nothing exists in the tree outside the one
// directory the step may write to. The step's files are then removed, so
// every input starts from the same tree. The tree goes when the process ends,
// and before a failed check aborts it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "engine/Main.h"
#include "platform/Platform.h"

namespace nuva::fuzz {

class TEngineScratch {
  public:
    TEngineScratch() {
        const AnsiString base = CreateUniqueTempDirectory("", "nuva-engine-fuzz-");
        if (base.empty()) std::abort();
        root_ = IncludeTrailingPathDelimiter(base);
        work_ = root_ + "work" + PathDelim;
        if (!ForceDirectories(work_ + "send") || !ForceDirectories(work_ + "recv")) Fail();
        // action.ini is looked for beside the "executable": none here.
        SetExeDirectoryOverride(root_);
        engine_.ReadConfig("<SEND_FILE_PATH>" + work_ + "send</SEND_FILE_PATH><RECEIVE_FILE_PATH>" +
                           work_ + "recv</RECEIVE_FILE_PATH>");
    }

    ~TEngineScratch() { RemoveAll(); }

    TSender& Engine() { return engine_; }
    AnsiString Dir(const char* name) const { return work_ + name + PathDelim; }

    // Aborts when anything but work/send and work/recv exists outside
    // `allowed` (one of them); then empties both.
    void CheckAndClear(const char* allowed) {
        Expect(root_, {"work"});
        Expect(work_, {"send", "recv"});
        Expect(Dir(allowed[0] == 's' ? "recv" : "send"), {});
        RemoveContents(Dir("send"));
        RemoveContents(Dir("recv"));
    }

  private:
    // Aborts when `dir` holds an entry not named in `names`.
    void Expect(const AnsiString& dir, std::initializer_list<const char*> names) {
        for (const TDirEntry& e : ListDirectoryEntries(dir)) {
            if (e.name == "." || e.name == "..") continue;
            bool known = false;
            for (const char* n : names) known = known || e.name == n;
            if (!known) {
                std::fprintf(stderr, "unexpected entry %s%s\n", dir.c_str(), e.name.c_str());
                Fail();
            }
        }
    }

    void RemoveAll() {
        RemoveContents(root_);
        RemoveDir(root_);
    }

    // A failed check: the tree goes first, then the process.
    [[noreturn]] void Fail() {
        RemoveAll();
        std::abort();
    }

    static void RemoveContents(const AnsiString& dir) {
        for (const TDirEntry& e : ListDirectoryEntries(dir)) {
            if (e.name == "." || e.name == "..") continue;
            const AnsiString path = IncludeTrailingPathDelimiter(dir) + e.name;
            if (e.attributes & faDirectory) {
                RemoveContents(path);
                RemoveDir(path);
            } else {
                SetFileAttributes(path, faArchive);
                DeleteFile(path);
            }
        }
    }

    AnsiString root_, work_;
    TSender engine_;
};

}  // namespace nuva::fuzz

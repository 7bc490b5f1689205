// action.ini and the work files.
//
// action.ini (beside the host executable, read through the platform's
// profile strings, three times per transaction so that a change takes effect
// with the next one):
//
//   [<type code>]        the request's TYPE_CODE as it stands
//   has_body=1           the request carries its items as a data file
//   is_compress=1        the items are zipped before encryption and posting
//   is_crypt=1           the data file is encrypted before posting
//
// A missing file, section or key reads as "1"; only the exact value "0"
// switches a step off.
//
// Work files, inside the two configured directories:
//
//   request  SendFilePath + Sender + "\"            the items' directory
//            ... + Sender + "\" + NAME              one file per item
//            SendFilePath + Sender + ".zip"         the archive
//            SendFilePath + Sender + ".CA"          the encrypted data file
//   reply    the received file                      where the component put it
//            ReceiveFilePath + Sender + "\"         the reply's directory
//            ... + Sender + "\" + Reserve           an uncompressed body, moved
//            ReceiveFilePath + Sender + ".zip"      decrypted data / the archive
//            ... + Sender + "\" + entry name        unpacked files
#include "engine/EngineInternal.h"
#include "platform/Platform.h"

namespace nuva {

namespace {

constexpr const char kDefaultFlag[] = "1";

// Deletes one work file, read-only or not, when it lies inside `base`;
// failures are not reported (another process may hold the file). The
// attribute is looked at only when the plain delete failed: one call per
// file in the usual case.
void DeleteWorkFile(const AnsiString& path, const AnsiString& base) {
    if (path.size() <= base.size() || path.compare(0, base.size(), base) != 0) return;
    if (DeleteFile(path)) return;
    const int32_t attributes = GetFileAttributes(path);
    if (attributes < 0 || (attributes & faDirectory) || !(attributes & faReadOnly)) return;
    SetFileAttributes(path, static_cast<uint32_t>(attributes) & ~uint32_t{faReadOnly});
    DeleteFile(path);
}

void ClearSide(const TData& side, const AnsiString& base) {
    if (!side.Files) return;
    for (const AnsiString& path : *side.Files) DeleteWorkFile(path, base);
    // Only the sender's own directory, never the base directory itself; it
    // goes only when it is empty.
    if (!side.Sender.empty()) RemoveDir(base + side.Sender);
    DeleteWorkFile(side.ZipFile, base);
    DeleteWorkFile(side.DataFile, base);
}

}  // namespace

bool TSender::ReadAction(const AnsiString& typeCode, const char* key) {
    return GetProfileString(ActionIniPath_, typeCode, key, kDefaultFlag) != "0";
}

bool TSender::ReadHasBody(const AnsiString& typeCode) {
    return ReadAction(typeCode, "has_body");
}

bool TSender::ReadIsCompress(const AnsiString& typeCode) {
    return ReadAction(typeCode, "is_compress");
}

bool TSender::ReadIsCrypt(const AnsiString& typeCode) {
    return ReadAction(typeCode, "is_crypt");
}

void TSender::ClearWorkFiles(TData& req, TData& rep) {
    // Runs on every way out of Send, errors included: it must not raise.
    try {
        ClearSide(req, Config_.SendFilePath);
    } catch (...) {
    }
    try {
        ClearSide(rep, Config_.ReceiveFilePath);
    } catch (...) {
    }
}

}  // namespace nuva

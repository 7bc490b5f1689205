// BSTR and VARIANT.
//
// A BSTR points just after its length prefix:
//
//   offset  size       contents
//   0       4          byte length of the text, without the terminator
//   4       2 * n      the n UTF-16 code units (embedded NULs allowed)
//   4 + 2n  2          a NUL unit, so the text is also a C string
//
// The caller only ever sees the pointer at offset 4; SysFreeString steps back
// to the start of the allocation.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/com/runtime/ComApi.h"

namespace {

const size_t kPrefixSize = sizeof(uint32_t);  // bytes
// The longest text whose byte length still fits the 32-bit prefix.
const UINT kMaxUnits = (UINT32_MAX - sizeof(OLECHAR)) / sizeof(OLECHAR);

std::atomic<ULONG> liveBstrs{0};

char* AllocationOf(BSTR bstr) {
    return reinterpret_cast<char*>(bstr) - kPrefixSize;
}

size_t TextLength(const OLECHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > kMaxUnits) return nullptr;
    const uint32_t bytes = length * sizeof(OLECHAR);
    // Windows leaves the text of SysAllocStringLen(nullptr, n) undefined;
    // zeros make a string that a caller fills only in part still readable
    // (calloc: fresh pages of a large string come zeroed, without a pass).
    const size_t blockSize = kPrefixSize + bytes + sizeof(OLECHAR);
    char* block = static_cast<char*>(text ? std::malloc(blockSize) : std::calloc(1, blockSize));
    if (!block) return nullptr;
    std::memcpy(block, &bytes, kPrefixSize);
    BSTR bstr = reinterpret_cast<BSTR>(block + kPrefixSize);
    if (text) std::memcpy(bstr, text, bytes);
    bstr[length] = 0;
    liveBstrs.fetch_add(1, std::memory_order_relaxed);
    return bstr;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    size_t length = TextLength(text);
    if (length > kMaxUnits) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

INT SysReAllocString(BSTR* bstr, const OLECHAR* text) {
    if (!bstr) return FALSE;
    // Allocate first: `text` may point into the string being replaced.
    BSTR copy = SysAllocString(text);
    if (text && !copy) return FALSE;
    SysFreeString(*bstr);
    *bstr = copy;
    return TRUE;
}

void SysFreeString(BSTR bstr) {
    if (!bstr) return;
    liveBstrs.fetch_sub(1, std::memory_order_relaxed);
    std::free(AllocationOf(bstr));
}

UINT SysStringLen(BSTR bstr) {
    if (!bstr) return 0;
    uint32_t bytes;
    std::memcpy(&bytes, AllocationOf(bstr), kPrefixSize);
    return bytes / sizeof(OLECHAR);
}

ULONG NuvaComLiveBstrCount() {
    return liveBstrs.load(std::memory_order_relaxed);
}

}  // extern "C"

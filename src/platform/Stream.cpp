#include "platform/Stream.h"

#include <algorithm>
#include <cstring>

namespace nuva {

int64_t TStream::Size() {
    int64_t here = Seek(0, soCurrent);
    int64_t end = Seek(0, soEnd);
    Seek(here, soBeginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    int64_t size = static_cast<int64_t>(data_.size());
    if (count <= 0 || position_ >= size) return 0;
    int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    size_t end = static_cast<size_t>(position_ + count);
    if (end > data_.size()) data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == soBeginning ? 0
                   : origin == soCurrent ? position_
                                         : static_cast<int64_t>(data_.size());
    int64_t target = base + offset;
    if (target < 0) return -1;
    position_ = target;
    return position_;
}

// Both platforms answer time and attributes in one query; the time alone
// is the same query.
int32_t TFileStream::GetDosTime() {
    int32_t dosTime = 0, attributes = 0;
    return GetTimeAndAttributes(dosTime, attributes) ? dosTime : -1;
}

}  // namespace nuva

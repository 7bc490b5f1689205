// Stages over memory: bytes already in memory as the input, a string that
// grows as the output. The input offers its bytes as one view, so that
// inflate reads them in place; read by `Read` they are copied as usual.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "zip/codec/CodecIO.h"

namespace nuva {

class TSpanInput : public TCodecInput {
  public:
    // `data` must outlive the stage. `offerView` false: bytes only by `Read`.
    TSpanInput(const void* data, size_t size, bool offerView = true)
        : data_(static_cast<const uint8_t*>(data)), size_(size), offerView_(offerView) {}
    explicit TSpanInput(const std::string& data, bool offerView = true)
        : TSpanInput(data.data(), data.size(), offerView) {}

    size_t Read(uint8_t* dest, size_t capacity) override {
        const size_t n = std::min(capacity, size_ - pos_);
        if (n > 0) std::memcpy(dest, data_ + pos_, n);
        pos_ += n;
        return n;
    }
    const uint8_t* View(size_t& size) override {
        size = offerView_ ? size_ - pos_ : 0;
        if (!offerView_) return nullptr;
        const uint8_t* rest = data_ + pos_;
        pos_ = size_;
        return rest;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    bool offerView_;
    size_t pos_ = 0;
};

class TStringOutput : public TCodecOutput {
  public:
    void Write(const uint8_t* data, size_t count) override {
        bytes.append(reinterpret_cast<const char*>(data), count);
    }
    std::string bytes;
};

}  // namespace nuva

#include "net/Wire.h"

#include "util/util.h"

namespace nuva::wire {

namespace {

std::string Columns(const std::string& bytes, TField field) {
    return bytes.substr(field.column - 1, field.width);
}

bool Flag(const std::string& bytes, TField field, bool& value) {
    const char c = bytes[field.column - 1];
    value = c == '1';
    return c == '0' || c == '1';
}

}  // namespace

bool ParseHeader(const std::string& bytes, THeader& header) {
    if (bytes.size() != kHeaderSize) return false;
    if (!Flag(bytes, kHasBody, header.hasBody) || !Flag(bytes, kEncrypted, header.encrypted) ||
        !Flag(bytes, kCompressed, header.compressed))
        return false;
    header.sender = Trim(Columns(bytes, kSender));
    header.typeCode = Trim(Columns(bytes, kTypeCode));
    header.reserve = Trim(Columns(bytes, kReserve));
    header.date = Trim(Columns(bytes, kDate));
    return true;
}

std::string BuildHeader(const THeader& header) {
    auto pad = [](const AnsiString& text, TField field) {
        return PadRight(text, static_cast<int>(field.width), ' ');
    };
    return pad(header.sender, kSender) + pad(header.typeCode, kTypeCode) +
           (header.hasBody ? "1" : "0") + (header.encrypted ? "1" : "0") +
           (header.compressed ? "1" : "0") + pad(header.reserve, kReserve) +
           pad(header.date, kDate);
}

bool HeaderHasBody(const std::string& bytes) {
    return bytes.size() >= kHasBody.column && bytes[kHasBody.column - 1] == '1';
}

}  // namespace nuva::wire

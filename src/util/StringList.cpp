#include "util/StringList.h"

namespace nuva {

int TStringList::Add(const AnsiString& line) {
    lines_.push_back(line);
    return Count() - 1;
}

void TStringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count()) throw EListError(index);
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    lines_.erase(lines_.begin() + index);
}

const AnsiString& TStringList::Strings(int index) const {
    CheckIndex(index);
    return lines_[static_cast<size_t>(index)];
}

AnsiString TStringList::Text(const AnsiString& lineBreak) const {
    AnsiString text;
    for (const AnsiString& line : lines_) text += line + lineBreak;
    return text;
}

}  // namespace nuva

// TStringList: an ordered, unsorted list of lines (8-bit strings in the
// system code page). Used for attribute lines, file lists and directory
// listings. Indexing outside the lines raises EListError with the text
// "List index out of bounds (<index>)".
//
// Threads: a list is used by one thread at a time.
#pragma once

#include <vector>

#include "platform/Errors.h"

namespace nuva {

class TStringList {
  public:
    // Appends a line and returns its index.
    int Add(const AnsiString& line);
    // The number of lines.
    int Count() const { return static_cast<int>(lines_.size()); }
    // Removes every line.
    void Clear() { lines_.clear(); }
    // Removes line `index`; raises EListError when there is no such line.
    void Delete(int index);

    // Line `index`; raises EListError when there is no such line.
    const AnsiString& Strings(int index) const;
    const AnsiString& operator[](int index) const { return Strings(index); }

    // The lines joined, each followed by `lineBreak`.
    AnsiString Text(const AnsiString& lineBreak = "\r\n") const;

    // Walks the lines in order.
    std::vector<AnsiString>::const_iterator begin() const { return lines_.begin(); }
    std::vector<AnsiString>::const_iterator end() const { return lines_.end(); }

  private:
    void CheckIndex(int index) const;

    std::vector<AnsiString> lines_;
};

}  // namespace nuva

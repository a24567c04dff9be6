// The string table of the split pair held in memory: every key and its text
// kept in one growing character store and found through an open-addressed
// index, so that a table of a quarter million keys costs a few allocations
// rather than several per key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class KeyTable {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  // Adds key with its text unless the key is already there. The entry of
  // the key (the new one, or the first one added) and true when it was new.
  std::pair<size_t, bool> Add(std::string_view key, std::string_view text);
  // The entry of key, or npos when it was never added.
  size_t Find(std::string_view key) const;
  // The key and the text of an entry that Add returned.
  std::string_view Key(size_t entry) const {
    const Entry& e = entries_[entry];
    return std::string_view(chars_).substr(e.at, e.keyLen);
  }
  std::string_view Text(size_t entry) const {
    const Entry& e = entries_[entry];
    return std::string_view(chars_).substr(e.at + e.keyLen, e.textLen);
  }
  size_t size() const { return entries_.size(); }
  // Forgets every entry and gives back the memory.
  void Clear();

 private:
  struct Entry {
    size_t at;  // key, then text, in chars_
    uint32_t keyLen;
    uint32_t textLen;
    size_t hash;
  };
  // The slot that holds key, or the empty slot where it would go.
  size_t Slot(std::string_view key, size_t hash) const;
  void Grow();

  std::string chars_;
  std::vector<Entry> entries_;
  std::vector<uint32_t> slots_;  // entry + 1; 0 for an empty slot
};

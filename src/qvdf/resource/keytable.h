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
  // Add with the key's hash from Prefetch, which starts fetching the slot
  // the key's lookup will read first: other work between the two hides the
  // wait for it.
  std::pair<size_t, bool> Add(std::string_view key, std::string_view text, size_t hash);
  size_t Prefetch(std::string_view key) const;
  // Adds key with its text without looking it up: a key that is there
  // already keeps its first text, and the later entry is never found. The
  // index takes such entries in one sweep at the next lookup, each slot
  // fetched ahead of its use, instead of one scattered read per key.
  void Append(std::string_view key, std::string_view text);
  // The entry of key, or npos when it was never added. Keys are mostly
  // looked up in the order they were added: the entry after the one found
  // last is tried first, which spares the hash and its scattered reads.
  size_t Find(std::string_view key) const;
  // The key and the text of an entry that Add or Find returned.
  std::string_view Key(size_t entry) const {
    const Entry& e = entries_[entry];
    return std::string_view(chars_).substr(e.at, e.keyLen);
  }
  std::string_view Text(size_t entry) const {
    const Entry& e = entries_[entry];
    return std::string_view(chars_).substr(e.at + e.keyLen, e.textLen);
  }
  // The number of different keys.
  size_t size() const;
  // Makes room for keys and texts of `chars` bytes in all and `entries`
  // entries, so that a table read from a file of known size is not copied
  // again and again as it grows.
  void Reserve(size_t chars, size_t entries);
  // Forgets every entry and gives back the memory.
  void Clear();

 private:
  struct Entry {
    size_t at;  // key, then text, in chars_
    uint32_t keyLen;
    uint32_t textLen;
    size_t hash;
    bool repeat;  // the key of an earlier entry: never found
  };
  // The slot that holds key, or the empty slot where it would go.
  size_t Slot(std::string_view key, size_t hash) const;
  // Puts the entries appended since the last lookup into the index.
  void Index() const;
  void Grow() const;
  bool Holds(size_t entry, std::string_view key) const {
    const Entry& e = entries_[entry];
    return e.keyLen == key.size() && std::string_view(chars_).substr(e.at, e.keyLen) == key;
  }

  std::string chars_;
  // The index is built on demand by const lookups, hence mutable.
  mutable std::vector<Entry> entries_;
  mutable std::vector<uint32_t> slots_;  // entry + 1; 0 for an empty slot
  mutable size_t indexed_ = 0;           // entries_ before this one are in slots_
  mutable size_t distinct_ = 0;          // entries that are not repeats
  mutable size_t next_ = 0;              // the entry after the one Find found last
};

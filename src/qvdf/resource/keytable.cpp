// Open addressing with linear probing over a power-of-two slot array kept
// at most half full; the hash of each entry is kept so that growing never
// hashes a key again and most mismatches cost no string compare.
#include "qvdf/resource/keytable.h"

#include <functional>

std::pair<size_t, bool> KeyTable::Add(std::string_view key, std::string_view text) {
  return Add(key, text, std::hash<std::string_view>{}(key));
}

size_t KeyTable::Prefetch(std::string_view key) const {
  size_t hash = std::hash<std::string_view>{}(key);
  if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
  return hash;
}

std::pair<size_t, bool> KeyTable::Add(std::string_view key, std::string_view text, size_t hash) {
  // Appended entries come first: their keys were added before this one.
  Index();
  while ((entries_.size() + 1) * 2 > slots_.size()) Grow();
  size_t slot = Slot(key, hash);
  if (slots_[slot] != 0) return {slots_[slot] - 1, false};
  Append(key, text);
  entries_.back().hash = hash;
  slots_[slot] = static_cast<uint32_t>(entries_.size());
  indexed_ = entries_.size();
  ++distinct_;
  return {entries_.size() - 1, true};
}

void KeyTable::Append(std::string_view key, std::string_view text) {
  entries_.push_back({chars_.size(), static_cast<uint32_t>(key.size()),
                      static_cast<uint32_t>(text.size()), std::hash<std::string_view>{}(key),
                      false});
  chars_.append(key).append(text);
}

size_t KeyTable::Find(std::string_view key) const {
  Index();
  if (slots_.empty()) return npos;
  size_t found = npos;
  // Keys are unique among the entries that are not repeats, so a match
  // here is the entry.
  if (next_ < entries_.size() && !entries_[next_].repeat && Holds(next_, key)) {
    found = next_;
  } else {
    uint32_t s = slots_[Slot(key, std::hash<std::string_view>{}(key))];
    if (s == 0) return npos;
    found = s - 1;
  }
  next_ = found + 1;
  return found;
}

void KeyTable::Reserve(size_t chars, size_t entries) {
  chars_.reserve(chars);
  entries_.reserve(entries);
}

size_t KeyTable::size() const {
  Index();
  return distinct_;
}

size_t KeyTable::Slot(std::string_view key, size_t hash) const {
  size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    uint32_t s = slots_[i];
    if (s == 0) return i;
    const Entry& e = entries_[s - 1];
    if (e.hash == hash && Holds(s - 1, key)) return i;
  }
}

void KeyTable::Index() const {
  const size_t n = entries_.size();
  if (indexed_ == n) return;
  while (n * 2 > slots_.size()) Grow();
  const size_t mask = slots_.size() - 1;
  constexpr size_t kAhead = 8;
  for (size_t k = indexed_; k < n; ++k) {
    if (k + kAhead < n) __builtin_prefetch(&slots_[entries_[k + kAhead].hash & mask]);
    Entry& e = entries_[k];
    size_t i = Slot(std::string_view(chars_).substr(e.at, e.keyLen), e.hash);
    if (slots_[i] != 0) {
      e.repeat = true;
    } else {
      slots_[i] = static_cast<uint32_t>(k + 1);
      ++distinct_;
    }
  }
  indexed_ = n;
}

void KeyTable::Grow() const {
  size_t n = slots_.empty() ? 1024 : slots_.size() * 2;
  slots_.assign(n, 0);
  size_t mask = n - 1;
  for (size_t k = 0; k < indexed_; ++k) {
    if (entries_[k].repeat) continue;
    size_t i = entries_[k].hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<uint32_t>(k + 1);
  }
}

void KeyTable::Clear() {
  indexed_ = distinct_ = next_ = 0;
  std::string().swap(chars_);
  std::vector<Entry>().swap(entries_);
  std::vector<uint32_t>().swap(slots_);
}

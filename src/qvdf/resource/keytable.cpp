// Open addressing with linear probing over a power-of-two slot array kept
// at most half full; the hash of each entry is kept so that growing never
// hashes a key again and most mismatches cost no string compare.
#include "qvdf/resource/keytable.h"

#include <functional>

std::pair<size_t, bool> KeyTable::Add(std::string_view key, std::string_view text) {
  if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
  size_t hash = std::hash<std::string_view>{}(key);
  size_t slot = Slot(key, hash);
  if (slots_[slot] != 0) return {slots_[slot] - 1, false};
  Entry e{chars_.size(), static_cast<uint32_t>(key.size()), static_cast<uint32_t>(text.size()),
          hash};
  chars_.append(key).append(text);
  entries_.push_back(e);
  slots_[slot] = static_cast<uint32_t>(entries_.size());
  return {entries_.size() - 1, true};
}

size_t KeyTable::Find(std::string_view key) const {
  if (slots_.empty()) return npos;
  uint32_t s = slots_[Slot(key, std::hash<std::string_view>{}(key))];
  return s == 0 ? npos : s - 1;
}

size_t KeyTable::Slot(std::string_view key, size_t hash) const {
  size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    uint32_t s = slots_[i];
    if (s == 0) return i;
    const Entry& e = entries_[s - 1];
    if (e.hash == hash && e.keyLen == key.size() &&
        std::string_view(chars_).substr(e.at, e.keyLen) == key)
      return i;
  }
}

void KeyTable::Grow() {
  size_t n = slots_.empty() ? 1024 : slots_.size() * 2;
  slots_.assign(n, 0);
  size_t mask = n - 1;
  for (size_t k = 0; k < entries_.size(); ++k) {
    size_t i = entries_[k].hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = static_cast<uint32_t>(k + 1);
  }
}

void KeyTable::Clear() {
  std::string().swap(chars_);
  std::vector<Entry>().swap(entries_);
  std::vector<uint32_t>().swap(slots_);
}

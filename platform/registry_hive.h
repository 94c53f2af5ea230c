// One registry hive in memory: its keys by path, each with its values, and
// the text form in which a hive is kept on disk (format in registry_hive.cc).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tvreg {

struct RegValue {
  std::string name;  // as first written
  uint32_t type = 0;
  std::string data;  // the bytes, as written
};

struct RegKey {
  std::string path;  // '\'-separated, as created; "" for the hive's root key
  std::string key_class;
  bool is_volatile = false;
  // For a volatile key: the boot it was made in, and the process that made
  // it (pid 0: no owning process).
  std::string boot_id;
  int64_t owner_pid = 0;
  uint64_t owner_start = 0;
  std::vector<RegValue> values;  // in the order first written

  RegValue* FindValue(std::string_view name);
};

// ASCII lower-case copy: the form in which names are compared.
std::string FoldName(std::string_view name);

// Splits a key path at '\', dropping empty parts. False when a part is
// longer than the limit of a key name.
bool SplitKeyPath(std::string_view path, std::vector<std::string>* parts);
std::string JoinKeyPath(std::string_view parent, std::string_view child);

class Hive {
 public:
  Hive();

  // The key of a canonical path (parts joined by one '\'), or null.
  RegKey* Find(std::string_view path);
  const RegKey* Find(std::string_view path) const;
  // Adds a key whose parent exists; returns it.
  RegKey* Add(RegKey key);
  // Removes a key (the caller has made sure it has no sub-keys).
  void Remove(std::string_view path);
  // The direct sub-keys of a key, in case-insensitive order of their names.
  std::vector<const RegKey*> Children(std::string_view path) const;
  // Removes every key for which `dead` holds, with everything below it.
  template <typename Pred>
  void DropKeysIf(Pred dead);

  std::string Serialize() const;
  // Parses the text form; false (and an unchanged hive) when it is corrupt.
  bool Parse(std::string_view text);

 private:
  std::map<std::string, RegKey> keys_;  // by folded path
};

template <typename Pred>
void Hive::DropKeysIf(Pred dead) {
  std::vector<std::string> gone;
  for (auto& [folded, key] : keys_) {
    if (!folded.empty() && dead(key)) gone.push_back(folded);
  }
  for (const std::string& folded : gone) {
    auto it = keys_.lower_bound(folded);
    while (it != keys_.end() &&
           (it->first == folded || it->first.starts_with(folded + "\\"))) {
      it = keys_.erase(it);
    }
  }
}

}  // namespace tvreg

// Helpers the client-side collection statements share: the type
// description in force, the fields of a row and the names of a name list.
#pragma once

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sqlruntime/collections.h"
#include "sqltypes/collection.h"

namespace sqli_coll {

// The description the value is read by: the program's own, else the server's.
inline const CollTypeInfo* InForce(const SqliCollection* c) {
  return c->cl_typed ? c->cl_typeinfo : c->cl_svr_typeinfo;
}

inline bool IsCollType(int32_t t) { return t >= SQLSET && t <= SQLCOLLECTION; }

// Entries of the fields of the row rooted at entry root (its children).
inline std::vector<int> RowFields(const CollTypeInfo* info, int root) {
  std::vector<int> out;
  const int level = info->ti_entry[root].level_no + 1;
  for (int i = root + 1; i < info->ti_count && info->ti_entry[i].level_no >= level; ++i) {
    if (info->ti_entry[i].level_no == level) out.push_back(i);
  }
  return out;
}

inline std::string TrimmedName(const char* p, size_t n) {
  std::string s(p, strnlen(p, n));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

inline std::string FieldName(const CollTypeEntry& e) {
  return TrimmedName(e.fieldname, static_cast<size_t>(std::clamp<int>(e.fieldnmlen, 0, 128)));
}

// The names of a name list, without trailing blanks.
inline std::vector<std::string> Names(const char* list) {
  std::vector<std::string> out;
  if (list == nullptr) return out;
  for (const char* p = list; *p != '\0'; p += SQLI_NAME_ENTRY) out.push_back(TrimmedName(p, SQLI_NAME_ENTRY));
  return out;
}

}  // namespace sqli_coll

// Collection host variables for the runtime tests: type descriptions
// written out entry by entry, value lists, and a reader that decodes the
// packed elements on its own (big-endian integers, length-prefixed
// VARCHAR), so that changes can be compared with a plain list model.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sqlruntime/collections.h"
#include "sqlruntime/cursor.h"
#include "sqltypes/collection.h"
#include "sqltypes/sqlvalue.h"

namespace coll_test {

struct E {
  int16_t level;
  uint16_t type;
  int16_t length;
  const char* name;
};

// A field-type list for sqli_cl_alloc, ended by seqno 0.
inline std::vector<CollTypeEntry> Types(std::initializer_list<E> l) {
  std::vector<CollTypeEntry> out;
  int16_t seq = 1;
  for (const E& e : l) {
    CollTypeEntry t{};
    t.seqno = seq++;
    t.level_no = e.level;
    t.type = e.type;
    t.length = e.length;
    if (e.name != nullptr) {
      t.fieldnmlen = static_cast<int16_t>(std::strlen(e.name));
      std::memcpy(t.fieldname, e.name, std::strlen(e.name));
    }
    out.push_back(t);
  }
  out.push_back(CollTypeEntry{});
  return out;
}

inline SqliCollection* Make(std::initializer_list<E> l) {
  std::vector<CollTypeEntry> t = Types(l);
  SqliCollection* c = nullptr;
  EXPECT_EQ(0, sqli_cl_alloc(0, &c, t.data()));
  return c;
}

// The variable as the first input of a statement.
inline SqliValueItem Var(SqliCollection* c, int16_t host_type = 118) {
  SqliValueItem it{};
  it.type = host_type;
  it.data = reinterpret_cast<char*>(c);
  it.ind_type = -1;
  return it;
}

inline SqliCollValue V(void* data, int16_t type, int16_t length, int16_t literal = 0) {
  SqliCollValue v{};
  v.data = static_cast<char*>(data);
  v.type = type;
  v.length = length;
  v.literal = literal;
  return v;
}
inline SqliCollValue M(int16_t marker) { return V(nullptr, marker, 1); }
inline SqliCollValue End() { return SqliCollValue{}; }

// A name list of 150-byte entries.
inline std::string NameList(std::initializer_list<const char*> names) {
  std::string out;
  for (const char* n : names) {
    std::string e(SQLI_NAME_ENTRY, '\0');
    std::memcpy(e.data(), n, std::strlen(n));
    out += e;
  }
  return out + std::string(SQLI_NAME_ENTRY, '\0');
}

inline int32_t Be32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<int32_t>((uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | u[3]);
}

// The raw elements, in order.
inline std::vector<std::string> Raw(SqliCollection* c) {
  std::vector<std::string> out;
  CollCursor k;
  EXPECT_EQ(0, zel_coll_curs_attach(c, &k));
  for (;;) {
    char* d = nullptr;
    int32_t n = 0;
    if (zel_coll_next(c, &k, &d, &n) != 0) break;
    out.emplace_back(d, static_cast<size_t>(n));
  }
  zel_coll_curs_detach(c, &k);
  return out;
}

inline std::vector<int32_t> Ints(SqliCollection* c) {
  std::vector<int32_t> out;
  for (const std::string& e : Raw(c)) out.push_back(e.size() == 4 ? Be32(e.data()) : -999999);
  return out;
}

// A statement record of the program's own, outside the statement table.
inline SqliCursor Record() {
  SqliCursor c{};
  c.id = -1;
  return c;
}

// A statement on the variable with the given kind and values.
inline int32_t Stmt(SqliCollection* c, int32_t kind, std::vector<SqliCollValue> values, const char* names = nullptr,
                    int32_t position = 0, int16_t host_type = 118) {
  values.push_back(End());
  SqliValueItem var = Var(c, host_type);
  return sqli_coll_stmt(1, &var, values.data(), names, nullptr, kind, position);
}

// An output host variable of the given type, length, area and indicator.
inline SqliValueItem Out(int16_t type, int32_t length, void* data, int16_t* ind) {
  SqliValueItem o{};
  o.type = type;
  o.length = length;
  o.data = static_cast<char*>(data);
  o.indicator = ind;
  o.ind_type = -1;
  return o;
}

// A test fixture over Base that makes collection variables with New and
// releases them at the end of the test.
template <class Base>
class CollectionsFixture : public Base {
 protected:
  void TearDown() override {
    for (SqliCollection*& c : made_) zel_cl_dealloc(&c);
    Base::TearDown();
  }
  SqliCollection* New(std::initializer_list<E> l) {
    made_.push_back(Make(l));
    return made_.back();
  }
  std::vector<SqliCollection*> made_;
};

}  // namespace coll_test

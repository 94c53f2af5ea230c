#include "storage/command/typed_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "storage/command/sm_util.h"

namespace {

// Elements live in a deque so that their addresses stay put.
struct Pool {
  std::deque<int32_t> i32;
  std::deque<int64_t> i64;
  std::deque<float> f32;
  std::deque<double> f64;
  std::deque<std::string> text;
};

struct TypeCase {
  int32_t type;
  const char* name;
  // Makes an element of value v; less orders two elements as the type does.
  std::function<void*(Pool&, int)> make;
  std::function<bool(const void*, const void*)> less;
};

int CompareIntField(const void* a, const void* b) {
  int32_t x = *static_cast<const int32_t*>(a), y = *static_cast<const int32_t*>(b);
  return x < y ? -5 : (x > y ? 9 : 0);  // any sign is taken as it is
}

template <typename T>
bool Less(const void* a, const void* b) {
  return *static_cast<const T*>(a) < *static_cast<const T*>(b);
}

std::vector<TypeCase> Types() {
  auto i32 = [](Pool& p, int v) -> void* { return &p.i32.emplace_back(v); };
  auto f64 = [](Pool& p, int v) -> void* { return &p.f64.emplace_back(v * 0.5 - 3); };
  return {
      {0, "int32", i32, Less<int32_t>},
      {5, "int32b", [](Pool& p, int v) -> void* { return &p.i32.emplace_back(-v * 1000003); },
       Less<int32_t>},
      {6, "int64", [](Pool& p, int v) -> void* { return &p.i64.emplace_back((int64_t{v} << 40) - 7); },
       Less<int64_t>},
      {1, "float", [](Pool& p, int v) -> void* { return &p.f32.emplace_back(v * 0.25f - 1); },
       Less<float>},
      {2, "double", f64, Less<double>},
      {7, "doubleb", f64, Less<double>},
      {3, "text",
       [](Pool& p, int v) -> void* {
         // Bytes above 127 must sort after ASCII.
         std::string s = v % 3 == 0 ? std::string(1, static_cast<char>(0xC0 + v)) : std::to_string(v);
         return p.text.emplace_back(s).data();
       },
       [](const void* a, const void* b) {
         return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b)) < 0;
       }},
      {4, "custom", i32, Less<int32_t>},
      {9, "untyped", i32, [](const void*, const void*) { return false; }},
  };
}

// The list's contents from head to tail, read through the node links.
std::vector<void*> Contents(const TypedList* list) {
  std::vector<void*> out;
  for (const ListNode* n = list->head; n != nullptr; n = n->next) out.push_back(n->element);
  return out;
}

// Drives a list and a vector model with the same random operations.
void RunModel(const TypeCase& tc, int32_t flags, uint32_t seed) {
  SCOPED_TRACE(std::string(tc.name) + " flags " + std::to_string(flags) + " seed " +
               std::to_string(seed));
  std::mt19937 rng(seed);
  Pool pool;
  int32_t st = -1;
  TypedList* list = ll_create(nullptr, tc.type, sm_free, CompareIntField, flags, &st);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(st, LL_EMPTY);
  std::vector<void*> model;
  int cur = -1;
  bool ordered = flags != 0;
  auto equal = [&](const void* a, const void* b) { return !tc.less(a, b) && !tc.less(b, a); };

  for (int step = 0; step < 400; ++step) {
    int op = static_cast<int>(rng() % 10);
    if (op < 5) {  // insert
      void* e = tc.make(pool, static_cast<int>(rng() % 12));
      size_t pos;
      if (!ordered) {
        pos = model.empty() ? 0 : static_cast<size_t>(cur) + 1;
      } else if (!model.empty() && equal(model[cur], e)) {
        pos = static_cast<size_t>(cur) + 1;
      } else {
        pos = std::lower_bound(model.begin(), model.end(), e, tc.less) - model.begin();
      }
      void* got = ll_insert(list, e, &st);
      if ((flags & LL_UNIQUE) && ordered) {
        auto lb = std::lower_bound(model.begin(), model.end(), e, tc.less);
        if (lb != model.end() && equal(*lb, e)) {
          ASSERT_EQ(st, LL_DUPLICATE);
          ASSERT_EQ(got, *lb);
          cur = static_cast<int>(lb - model.begin());
          continue;
        }
      }
      ASSERT_EQ(st, LL_OK);
      ASSERT_EQ(got, e);
      model.insert(model.begin() + static_cast<long>(pos), e);
      cur = static_cast<int>(pos);
    } else if (op < 7) {  // remove a random element, the current one, or a stranger
      void* target = nullptr;
      int idx = cur;
      int kind = static_cast<int>(rng() % 4);
      if (kind == 0) {
        target = tc.make(pool, 1);  // never inserted: equal values do not count
        void* got = ll_remove(list, target, &st);
        ASSERT_EQ(got, nullptr);
        ASSERT_EQ(st, model.empty() ? LL_EMPTY : LL_NOTFOUND);
        continue;
      }
      if (model.empty()) {
        ASSERT_EQ(ll_remove(list, nullptr, &st), nullptr);
        ASSERT_EQ(st, LL_EMPTY);
        continue;
      }
      if (kind != 1) {
        idx = static_cast<int>(rng() % model.size());
        target = model[idx];
      }
      void* got = ll_remove(list, target, &st);
      ASSERT_EQ(st, LL_OK);
      model.erase(model.begin() + idx);
      cur = idx < static_cast<int>(model.size()) ? idx : idx - 1;
      ASSERT_EQ(got, cur >= 0 ? model[cur] : nullptr);
    } else if (op == 7) {
      void* got = ll_first(list, &st);
      ASSERT_EQ(st, model.empty() ? LL_EMPTY : LL_OK);
      ASSERT_EQ(got, model.empty() ? nullptr : model[0]);
      if (!model.empty()) cur = 0;
    } else if (op == 8) {
      void* got = ll_next(list, &st);
      if (model.empty()) {
        ASSERT_EQ(st, LL_EMPTY);
      } else if (cur + 1 == static_cast<int>(model.size())) {
        ASSERT_EQ(st, LL_END);
        ASSERT_EQ(got, nullptr);
      } else {
        ASSERT_EQ(st, LL_OK);
        ASSERT_EQ(got, model[++cur]);
      }
    } else {
      void* got = ll_last(list, &st);
      ASSERT_EQ(st, model.empty() ? LL_EMPTY : LL_OK);
      ASSERT_EQ(got, model.empty() ? nullptr : model.back());
      if (!model.empty()) cur = static_cast<int>(model.size()) - 1;
    }
    ASSERT_EQ(Contents(list), model);
    if (ordered) {
      ASSERT_TRUE(std::is_sorted(model.begin(), model.end(), tc.less));
    }
  }
  ll_destroy(&list, 0, &st);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(st, LL_OK);
}

TEST(TypedList, AgreesWithModelForEveryTypeAndFlag) {
  uint32_t seed = 20240611;
  std::printf("seed %u\n", seed);
  for (const TypeCase& tc : Types()) {
    for (int32_t flags : {0, 1, 2, 3}) {
      for (uint32_t k = 0; k < 4; ++k) RunModel(tc, flags, seed + k);
    }
  }
}

TEST(TypedList, SortedValuesMatchMultiset) {
  std::mt19937 rng(7);
  std::multiset<int64_t> expect;
  std::deque<int64_t> store;
  int32_t st;
  TypedList* list = ll_create(nullptr, LL_TYPE_INT64, nullptr, nullptr, LL_SORTED, &st);
  for (int i = 0; i < 2000; ++i) {
    int64_t v = static_cast<int64_t>(rng() % 300) - 150;
    expect.insert(v);
    ll_insert(list, &store.emplace_back(v), &st);
    ASSERT_EQ(st, LL_OK);
  }
  std::vector<int64_t> got;
  for (void* e = ll_first(list, &st); e != nullptr; e = ll_next(list, &st)) {
    got.push_back(*static_cast<int64_t*>(e));
  }
  EXPECT_EQ(st, LL_END);
  EXPECT_EQ(got, std::vector<int64_t>(expect.begin(), expect.end()));
  ll_destroy(&list, 0, &st);
}

TEST(TypedList, CreateAndNullListStatuses) {
  int32_t st;
  EXPECT_EQ(ll_create(nullptr, LL_TYPE_CUSTOM, nullptr, nullptr, LL_SORTED, &st), nullptr);
  EXPECT_EQ(st, LL_NOCOMPARE);
  // An unordered type-4 list needs no compare function.
  TypedList* l = ll_create(nullptr, LL_TYPE_CUSTOM, nullptr, nullptr, 0, &st);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(st, LL_EMPTY);
  int32_t one = 1;
  EXPECT_EQ(ll_insert(l, &one, &st), &one);
  EXPECT_EQ(st, LL_OK);
  ll_destroy(&l, 1, &st);

  // Another type drops the compare function.
  l = ll_create(&one, LL_TYPE_INT32, nullptr, CompareIntField, LL_UNIQUE, &st);
  EXPECT_EQ(st, LL_OK);
  EXPECT_EQ(l->compare, nullptr);
  EXPECT_EQ(l->head->element, &one);
  ll_destroy(&l, 0, &st);

  TypedList* none = nullptr;
  for (auto op : {&ll_first, &ll_next, &ll_last}) {
    st = 0;
    EXPECT_EQ(op(nullptr, &st), nullptr);
    EXPECT_EQ(st, LL_EMPTY);
  }
  EXPECT_EQ(ll_insert(nullptr, &one, &st), nullptr);
  EXPECT_EQ(st, LL_EMPTY);
  EXPECT_EQ(ll_remove(nullptr, nullptr, &st), nullptr);
  EXPECT_EQ(st, LL_EMPTY);
  ll_destroy(&none, 1, &st);
  EXPECT_EQ(st, LL_EMPTY);
}

TEST(TypedList, UniqueInt64Neighbours) {
  int64_t ten = 10, twenty = 20, twenty2 = 20, fifteen = 15;
  int32_t st;
  TypedList* l = ll_create(&ten, LL_TYPE_INT64, nullptr, nullptr, LL_UNIQUE, &st);
  ll_insert(l, &twenty, &st);
  ll_first(l, &st);
  EXPECT_EQ(ll_insert(l, &twenty2, &st), &twenty);
  EXPECT_EQ(st, LL_DUPLICATE);
  EXPECT_EQ(l->current->element, &twenty);
  EXPECT_EQ(ll_insert(l, &fifteen, &st), &fifteen);
  EXPECT_EQ(Contents(l), (std::vector<void*>{&ten, &fifteen, &twenty}));
  // Past the end twice: 7 both times, the current node stays.
  ll_last(l, &st);
  EXPECT_EQ(ll_next(l, &st), nullptr);
  EXPECT_EQ(st, LL_END);
  EXPECT_EQ(ll_next(l, &st), nullptr);
  EXPECT_EQ(st, LL_END);
  EXPECT_EQ(l->current->element, &twenty);
  // Removing the last makes its predecessor current.
  EXPECT_EQ(ll_remove(l, nullptr, &st), &fifteen);
  EXPECT_EQ(ll_remove(l, &ten, &st), &fifteen);
  EXPECT_EQ(ll_remove(l, &fifteen, &st), nullptr);
  EXPECT_EQ(st, LL_OK);
  EXPECT_EQ(l->head, nullptr);
  ll_destroy(&l, 0, &st);
}

int g_destroyed = 0;
void CountingFree(void** p) {
  ++g_destroyed;
  sm_free(p);
}

TEST(TypedList, DestroyHandsElementsToCallbackOnlyWhenAsked) {
  for (int flag : {0, 1}) {
    g_destroyed = 0;
    int32_t st;
    TypedList* l = ll_create(nullptr, LL_TYPE_INT32, CountingFree, nullptr, 0, &st);
    std::vector<void*> kept;
    for (int i = 0; i < 5; ++i) {
      void* e = sm_zalloc(sizeof(int32_t));
      kept.push_back(e);
      ll_insert(l, e, &st);
    }
    ll_destroy(&l, flag, &st);
    EXPECT_EQ(st, LL_OK);
    EXPECT_EQ(l, nullptr);
    EXPECT_EQ(g_destroyed, flag ? 5 : 0);
    if (!flag) {
      for (void* e : kept) sm_free(&e);  // still ours: the list left them alone
    }
  }
}

TEST(TypedList, CompareTable) {
  float fa = 1.5f, fb = 2.5f, fnan = std::nanf("");
  double da = -1, db = 3, dnan = std::nan("");
  int64_t big = INT64_MAX, small = INT64_MIN;
  int32_t ia = -7, ib = 7;
  const char* t1 = "abc";
  const char* t2 = "ab\xc3";
  struct Case {
    const void* a;
    const void* b;
    int32_t type;
    int expect;
  } cases[] = {
      {&fa, &fb, 1, -1}, {&fb, &fa, 1, 1},  {&fa, &fa, 1, 0},  {&fnan, &fa, 1, 1},
      {&fa, &fnan, 1, 1}, {&da, &db, 2, -1}, {&db, &da, 7, 1}, {&dnan, &dnan, 2, 1},
      {&small, &big, 6, -1}, {&big, &small, 6, 1}, {&big, &big, 6, 0}, {&ia, &ib, 0, -1},
      {&ib, &ia, 5, 1}, {t1, t2, 3, -1}, {t2, t1, 3, 1}, {t1, t1, 3, 0},
      {&ia, &ib, 8, 0}, {&ia, &ib, 100, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ll_compare(c.a, c.b, c.type, nullptr), c.expect) << "type " << c.type;
  }
  EXPECT_EQ(ll_compare(&ia, &ib, 4, CompareIntField), -5);  // taken as it is
}

}  // namespace

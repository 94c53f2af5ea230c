// Locale objects: null contents, category copy, free and ICU handle release.
#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>

#include "locale/core/gl_category_data_ops.h"
#include "locale/core/gl_errors.h"
#include "locale/core/gl_ext.h"
#include "locale/core/gl_glu.h"
#include "locale/core/gl_lc_cache.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_registry.h"
#include "locale/core/gl_support.h"

namespace {

// Copies a text with its four zero bytes, as the data-file readers store it.
char *Text(const char *s) {
  size_t n = strlen(s);
  auto *p = static_cast<char *>(_gl_malloc(n + 4));
  memcpy(p, s, n);
  memset(p + n, 0, 4);
  return p;
}

// Fills one category of a locale as a loaded one would look.
void SetCategory(GlLocale *loc, int32_t cat, const char *codeset, const char *name) {
  strcpy(loc->codesets[cat - 2], codeset);
  strcpy(loc->names[cat - 2], name);
  if (cat == GL_NUMERIC) {
    loc->numeric.decimal_point.mb = Text(",");
    loc->numeric.thousands_sep.mb = Text(".");
    loc->numeric.grouping[0] = 2;
    loc->numeric.grouping[1] = 3;
    loc->numeric.grouping[2] = 2;
  } else if (cat == GL_MONETARY) {
    loc->numeric.currency_symbol.mb = Text("EUR");
    loc->numeric.frac_digits = 2;
  } else if (cat == GL_TIME) {
    loc->time.calendar = 1;
    loc->time.mon_count = 1;
    loc->time.mon = static_cast<char **>(_gl_malloc(sizeof(char *)));
    loc->time.mon[0] = Text("January");
    loc->time.d_fmt = Text("%d.%m.%Y");
  } else if (cat == GL_MESSAGES) {
    loc->numeric.msg_text[0] = GlText{Text("yes"), nullptr};
  } else if (cat == GL_COLLATE) {
    loc->coll_npasses = 1;
    loc->coll_weights[0] = static_cast<uint16_t *>(_gl_malloc(4 * sizeof(uint16_t)));
    loc->coll_codeorder = 1;
    loc->coll_kind = GL_COLL_AS_SPECIFIED;
    // Two equivalence classes, one sharing its representative.
    auto *eq = static_cast<GlCollEquivalent *>(_gl_malloc(4 * sizeof(GlCollEquivalent)));
    char *rep1 = Text("a");
    eq[0] = {Text("a"), rep1};
    eq[1] = {Text("A"), rep1};
    eq[2] = {Text("b"), Text("b")};
    eq[3] = {nullptr, nullptr};
    loc->coll_equivalents = eq;
  } else if (cat == GL_CTYPE) {
    unsigned char key = 'a';
    uint16_t bits = 2;
    _gl_ct_insert(1, &key, &bits, loc->class_table);
    loc->case_pairs = static_cast<GlCasePair *>(_gl_malloc(2 * sizeof(GlCasePair)));
  }
}

GlLocale *LoadedLocale(const char *codeset = "8859-1") {
  GlLocale *loc = nullptr;
  EXPECT_EQ(0, gl_create_null_locale_4(&loc));
  for (int32_t c = GL_CTYPE; c <= GL_MESSAGES; ++c) SetCategory(loc, c, codeset, "de_de/0333.lco");
  return loc;
}

class LocaleTest : public ::testing::Test {
 protected:
  // The code-set check of the refresh uses the built-in registry.
  void SetUp() override { gl_cache_registry(nullptr, "/nonexistent/registry"); }
  void TearDown() override { gl_free_registry_cache(); }
};

TEST_F(LocaleTest, NullLocaleInvariants) {
  GlLocale *loc = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&loc));
  EXPECT_EQ(0, loc->error);
  EXPECT_EQ(1.0, loc->case_factor);
  EXPECT_EQ(1.0, loc->coll_expansion_factor);
  EXPECT_EQ(0, loc->single_byte);
  for (int c = 0; c < GL_NCATEGORIES; ++c) {
    EXPECT_STREQ("", loc->names[c]);
    EXPECT_STREQ("", loc->codesets[c]);
    EXPECT_EQ(nullptr, loc->icu_locale[c]);
  }
  for (GlCodeTable *t : {loc->class_table, loc->case_table, loc->coll_positions}) {
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(2, t->value_size);
    EXPECT_EQ(0, _gl_ct_max_key_len(t));
    EXPECT_EQ(4, _gl_ct_min_key_len(t));
  }
  EXPECT_EQ(INT32_MAX, loc->numeric.int_frac_digits);
  EXPECT_EQ(INT32_MAX, loc->numeric.n_sign_posn);
  EXPECT_EQ(0, loc->time.calendar);
  EXPECT_EQ(nullptr, gl_localeconv(loc)->decimal_point.mb);
  gl_lc_unload(loc);
}

void *NoMemory(uint64_t) { return nullptr; }

TEST_F(LocaleTest, CreationWithoutMemoryGivesTheStaticErrorObject) {
  int32_t dummy = 0;
  gl_setextfunc(&dummy, GL_EXT_MALLOC, reinterpret_cast<GlExtFunc>(NoMemory));
  GlLocale *loc = nullptr;
  EXPECT_EQ(-1, gl_create_null_locale_4(&loc));
  gl_setextfunc(&dummy, GL_EXT_MALLOC, nullptr);
  _gl_reset_ext_func();
  ASSERT_NE(nullptr, loc);
  EXPECT_EQ(GL_ENOMEM, loc->error);
  EXPECT_TRUE(_gl_is_error_locale(loc));
  // Both static objects and NULL are ignored by the frees.
  gl_lc_unload(loc);
  gl_free_nonshared_loc(loc);
  gl_lc_unload(_gl_error_locale(GL_ENOFILE));
  gl_free_nonshared_loc(nullptr);
  EXPECT_EQ(GL_ENOFILE, _gl_error_locale(GL_ENOFILE)->error);
}

TEST_F(LocaleTest, CopyAllCategoriesSharesDataAndRebuildsLconv) {
  GlLocale *src = LoadedLocale();
  GlLocale *dst = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&dst));
  ASSERT_EQ(0, gl_copy_cat(dst, src, GL_ALL));
  EXPECT_EQ(0, dst->error);  // all six code sets agree
  EXPECT_EQ(src->class_table, dst->class_table);
  EXPECT_EQ(src->coll_equivalents, dst->coll_equivalents);
  EXPECT_EQ(src->time.mon, dst->time.mon);
  EXPECT_EQ(src->numeric.decimal_point.mb, dst->numeric.decimal_point.mb);
  EXPECT_EQ(1, dst->code_order);
  EXPECT_EQ(1, dst->single_byte);
  EXPECT_STREQ("de_de/0333.lco", dst->names[GL_TIME - 2]);
  EXPECT_EQ(static_cast<uint32_t>('d'), dst->wnames[GL_TIME - 2][0]);
  EXPECT_EQ(0u, dst->wcodesets[0][6]);
  // lconv is the destination's own copy.
  GlLconv *lc = gl_localeconv(dst);
  ASSERT_NE(nullptr, lc->decimal_point.mb);
  EXPECT_NE(src->numeric.decimal_point.mb, lc->decimal_point.mb);
  EXPECT_STREQ(",", lc->decimal_point.mb);
  ASSERT_NE(nullptr, lc->grouping);
  EXPECT_EQ(std::string("\x03\x02"), std::string(lc->grouping));
  EXPECT_EQ(2, lc->frac_digits);
  EXPECT_EQ(127, lc->int_frac_digits);
  EXPECT_STREQ("EUR", lc->currency_symbol.mb);
  // The copy dies first, then the source; LeakSanitizer checks the rest.
  gl_free_nonshared_loc(dst);
  gl_lc_unload(src);
}

TEST_F(LocaleTest, CopyChecksEveryCategoryBeforeCopying) {
  GlLocale *src = LoadedLocale();
  GlLocale *dst = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&dst));
  GlCodeTable *own_table = dst->class_table;

  // Destination's LC_MESSAGES already set: nothing of the six is copied.
  strcpy(dst->names[GL_MESSAGES - 2], "x");
  strcpy(dst->codesets[GL_MESSAGES - 2], "8859-1");
  EXPECT_EQ(-1, gl_copy_cat(dst, src, GL_ALL));
  EXPECT_EQ(GL_EALREADYSET, dst->error);
  EXPECT_EQ(own_table, dst->class_table);
  EXPECT_STREQ("", dst->names[0]);
  dst->names[GL_MESSAGES - 2][0] = '\0';
  dst->codesets[GL_MESSAGES - 2][0] = '\0';

  // Source category not set (name without code set counts as not set).
  GlLocale *half = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&half));
  strcpy(half->names[GL_TIME - 2], "only a name");
  EXPECT_EQ(-1, gl_copy_cat(dst, half, GL_TIME));
  EXPECT_EQ(GL_ENOTSET, dst->error);
  EXPECT_EQ(-1, gl_copy_cat(dst, src, 8));
  EXPECT_EQ(GL_EBADARG, dst->error);

  // One category of another code set: copied, but the refresh reports 12.
  GlLocale *other = LoadedLocale("utf8");
  ASSERT_EQ(0, gl_copy_cat(dst, src, GL_CTYPE));
  ASSERT_EQ(0, gl_copy_cat(dst, other, GL_TIME));
  EXPECT_EQ(GL_ECODESET, dst->error);
  EXPECT_EQ(other->time.d_fmt, dst->time.d_fmt);

  half->names[GL_TIME - 2][0] = '\0';
  gl_lc_unload(half);
  gl_free_nonshared_loc(dst);
  gl_lc_unload(other);
  gl_lc_unload(src);
}

int g_closed;
void *g_closed_handle;
void FakeClose(GluHandle h) {
  ++g_closed;
  g_closed_handle = h;
}

TEST_F(LocaleTest, SharedIcuHandleClosesWithItsLastCategory) {
  GlGluApi *api = _gl_glu_bind_area();
  api->lc_close = FakeClose;
  _gl_glu_set_bound(1);
  GlLocale *loc = nullptr;
  ASSERT_EQ(0, gl_create_null_locale_4(&loc));
  int handle = 0, other = 0;
  loc->icu_locale[GL_CTYPE - 2] = &handle;
  loc->icu_locale[GL_COLLATE - 2] = &handle;
  loc->icu_locale[GL_TIME - 2] = &other;
  loc->icu_in_use[GL_CTYPE - 2] = loc->icu_in_use[GL_COLLATE - 2] = 1;
  gl_free_category(loc, GL_CTYPE);
  gl_make_null_category(loc, GL_CTYPE);
  EXPECT_EQ(0, g_closed);
  EXPECT_EQ(0, loc->icu_in_use[GL_CTYPE - 2]);
  gl_free_category(loc, GL_COLLATE);
  gl_make_null_category(loc, GL_COLLATE);
  EXPECT_EQ(1, g_closed);
  EXPECT_EQ(&handle, g_closed_handle);
  gl_lc_unload(loc);  // closes the third
  EXPECT_EQ(2, g_closed);
  EXPECT_EQ(&other, g_closed_handle);
  _gl_glu_set_bound(0);
}

TEST_F(LocaleTest, CachedObjectIsFreedWhenItsLastReferenceGoes) {
  GlLocale *loc = LoadedLocale();
  auto *node = static_cast<GlLcNode *>(_gl_malloc(sizeof(GlLcNode)));
  node->name = Text("de_de.8859-1");
  node->loc = loc;
  node->count = 2;
  node->dir = nullptr;
  node->next = *_gl_lc_cache_head();
  *_gl_lc_cache_head() = node;
  gl_free_nonshared_loc(loc);
  ASSERT_EQ(node, _gl_lc_cache_find(loc));
  EXPECT_EQ(1, node->count);
  // gl_lc_unload drops the last reference and frees the whole object.
  gl_lc_unload(loc);
  EXPECT_EQ(nullptr, *_gl_lc_cache_head());
}

TEST(LconvTest, StringAndGroupingCopies) {
  EXPECT_EQ(nullptr, _gl_dup_mbs4(nullptr));
  std::string big(256, 'x');
  big.append(4, '\0');
  EXPECT_EQ(nullptr, _gl_dup_mbs4(big.c_str()));
  std::string fits(255, 'x');
  fits.append(4, '\0');
  char *d = _gl_dup_mbs4(fits.c_str());
  ASSERT_NE(nullptr, d);
  EXPECT_EQ(0, memcmp(d, fits.data(), 259));
  _gl_free(d);
  // A two-byte terminator code set: single zero bytes stay inside.
  const char wide[] = {'a', 0, 'b', 0, 0, 0, 0, 0};
  d = _gl_dup_mbs4(wide);
  EXPECT_EQ(0, memcmp(d, wide, 7));
  _gl_free(d);

  int32_t none[16] = {0};
  EXPECT_EQ(nullptr, _gl_grouping_bytes(none));
  int32_t g[16] = {3, 3, 0x102, 4};
  char *gb = _gl_grouping_bytes(g);
  EXPECT_EQ(std::string("\x03\x02\x04"), std::string(gb));
  _gl_free(gb);
  int32_t many[16] = {256, 3};
  EXPECT_EQ(nullptr, _gl_grouping_bytes(many));
}

}  // namespace

// Loads a whole locale-object file and prints its query items, for the
// comparison with the C library's locales (langinfo_glibc_test.py):
//   item <n> <hex of the multibyte text>   ("-" for NULL), items 0-73
//   list <n> <k> <hex>                     every text of a list item, by
//                                          the wide form's line feeds
//   lconv <field> <hex> | <number>
#include <stdio.h>
#include <string.h>

#include "locale/core/gl_category_data_ops.h"
#include "locale/core/gl_langinfo.h"
#include "locale/core/gl_lco.h"
#include "locale/core/gl_locale.h"
#include "locale/core/gl_refresh.h"

namespace {

void Hex(const char *s, size_t n) {
  for (size_t i = 0; i < n; ++i) printf("%02x", static_cast<unsigned char>(s[i]));
}

void Text(const char *kind, const char *name, const char *s) {
  printf("%s %s ", kind, name);
  if (s == nullptr) {
    printf("-\n");
    return;
  }
  Hex(s, static_cast<size_t>(_gl_mbs4_len(s, 1 << 20)));
  printf("\n");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: langinfo_dump FILE.lco\n");
    return 2;
  }
  GlLocale *loc = nullptr;
  if (gl_create_null_locale_4(&loc) != 0) return 1;
  FILE *f = fopen(argv[1], "re");
  if (f == nullptr) return 1;
  int32_t rc = _gl_lco_read_all(f, loc);
  fclose(f);
  if (rc != 0 || _gl_locale_refresh(loc) != 0) {
    fprintf(stderr, "%s: load failed, error %d\n", argv[1], loc->error);
    return 1;
  }
  char name[16];
  for (int32_t item = 0; item <= 73; ++item) {
    snprintf(name, sizeof name, "%d", item);
    const char *s = gl_nl_langinfo(loc, item);
    if (item == 60 && s != nullptr) {  // the code-set name: a plain string
      printf("item 60 ");
      Hex(s, strlen(s));
      printf("\n");
      continue;
    }
    Text("item", name, s);
  }
  const GlLconv *lc = gl_localeconv(loc);
  const struct {
    const char *name;
    const char *value;
  } texts[] = {{"decimal_point", lc->decimal_point.mb},
               {"thousands_sep", lc->thousands_sep.mb},
               {"grouping", lc->grouping},
               {"int_curr_symbol", lc->int_curr_symbol.mb},
               {"currency_symbol", lc->currency_symbol.mb},
               {"mon_decimal_point", lc->mon_decimal_point.mb},
               {"mon_thousands_sep", lc->mon_thousands_sep.mb},
               {"mon_grouping", lc->mon_grouping},
               {"positive_sign", lc->positive_sign.mb},
               {"negative_sign", lc->negative_sign.mb}};
  for (const auto &t : texts) {
    bool is_grouping = strstr(t.name, "grouping") != nullptr;
    if (is_grouping && t.value != nullptr) {
      printf("lconv %s ", t.name);
      Hex(t.value, strlen(t.value));
      printf("\n");
    } else {
      Text("lconv", t.name, t.value);
    }
  }
  const struct {
    const char *name;
    char value;
  } chars[] = {{"int_frac_digits", lc->int_frac_digits}, {"frac_digits", lc->frac_digits},
               {"p_cs_precedes", lc->p_cs_precedes},     {"p_sep_by_space", lc->p_sep_by_space},
               {"n_cs_precedes", lc->n_cs_precedes},     {"n_sep_by_space", lc->n_sep_by_space},
               {"p_sign_posn", lc->p_sign_posn},         {"n_sign_posn", lc->n_sign_posn}};
  for (const auto &c : chars) printf("lconv %s %d\n", c.name, c.value);
  gl_lc_unload(loc);
  return 0;
}

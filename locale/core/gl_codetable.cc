// Code tables.
//
// Text form (numbers decimal unless "hex"; hex written lower case, read in
// either case):
//
//   header   "%d %d %d " longest key, shortest key, flags; the default value
//            in the value writer's form; "\n"
//   tree     (flag 2 clear) every node in pre-order, root first:
//              "%d %d\n"  has state array, has value block
//              the state array as runs, the value block as runs
//              the children in byte order of their state-1 bytes
//   shared   (flag 2 set) "%d %d\n" number of state arrays, of value blocks;
//            each state array as runs; each value block as runs; then every
//            node in pre-order: "%d %d %u %u\n" has states, has values,
//            state array index, value block index (0 when absent)
//   runs     records "%02x%03x%03x" start, length L, repeat R (hex), then L
//            entries, "\n"; entry p of repetition i goes to start + i*L + p.
//            The line "0000000" ends the runs: its line end is read as the
//            eighth head digit. State entries are "%02x".
//
// Every count and index read from the text is checked before it is used: a
// text that would place entries outside a 256-entry array, give a node
// children beyond the fourth byte or name a missing shared array fails with
// load error 21.
#include "locale/core/gl_codetable.h"

#include <string.h>


#include "locale/core/gl_errors.h"
#include "locale/core/gl_support.h"
#include "locale/core/gl_tokens.h"

namespace {

constexpr int kMaxDepth = 4;

size_t SlotBytes(const GlCodeTable *t) { return size_t{1} << t->shift; }
size_t BlockBytes(const GlCodeTable *t) { return 256 * SlotBytes(t); }

unsigned char *NewStates() {
  auto *s = static_cast<unsigned char *>(_gl_malloc(256));
  if (s != nullptr) memset(s, 0, 256);
  return s;
}

unsigned char *NewValueBlock(GlCodeTable *t) {
  auto *v = static_cast<unsigned char *>(_gl_malloc(BlockBytes(t)));
  if (v == nullptr) return nullptr;
  for (int b = 0; b < 256; ++b) memcpy(v + b * SlotBytes(t), t->default_value, t->value_size);
  return v;
}

GlCodeNode *NewNode() {
  auto *n = static_cast<GlCodeNode *>(_gl_malloc(sizeof(GlCodeNode)));
  if (n == nullptr) return nullptr;
  memset(n, 0, sizeof *n);
  n->shared_state = -1;
  n->shared_values = -1;
  return n;
}

// Frees what a node holds (not the node itself).
void FreeNodeContents(GlCodeNode *n, bool shared) {
  if (n->children != nullptr) {
    for (int32_t i = 0; i < n->child_count; ++i) {
      if (n->children[i] != nullptr) {
        FreeNodeContents(n->children[i], shared);
        _gl_free(n->children[i]);
      }
    }
    _gl_free(n->children);
  }
  _gl_free(n->child_index);
  if (!shared) {
    _gl_free(n->states);
    _gl_free(n->values);
  }
  n->children = nullptr;
  n->child_index = nullptr;
  n->states = nullptr;
  n->values = nullptr;
}

int InsertAt(GlCodeTable *t, GlCodeNode *node, const unsigned char *key, int len, int d,
             const void *value) {
  unsigned char b = key[d];
  if (d == len - 1) {
    if (node->states != nullptr && node->states[b] == GL_CT_MORE) return -1;
    if (node->states == nullptr) {
      if ((node->states = NewStates()) == nullptr) return -1;
      ++t->n_state_arrays;
    }
    if (t->flags & GL_CT_MARK_END) node->states[b] = GL_CT_END;
    if (value == nullptr) return 0;
    if (node->values == nullptr) {
      if ((node->values = NewValueBlock(t)) == nullptr) return -1;
      ++t->n_value_blocks;
    }
    memcpy(node->values + b * SlotBytes(t), value, t->value_size);
    return 0;
  }
  if (node->states != nullptr && node->states[b] == GL_CT_END) return -1;
  if (node->states == nullptr) {
    if ((node->states = NewStates()) == nullptr) return -1;
    ++t->n_state_arrays;
  }
  if (node->child_index == nullptr) {
    if ((node->child_index = NewStates()) == nullptr) return -1;
    ++t->n_child_arrays;
  }
  if (node->children == nullptr) {
    node->children = static_cast<GlCodeNode **>(_gl_malloc(256 * sizeof(GlCodeNode *)));
    if (node->children == nullptr) return -1;
    memset(node->children, 0, 256 * sizeof(GlCodeNode *));
  }
  if (node->states[b] == GL_CT_MORE) {
    return InsertAt(t, node->children[node->child_index[b]], key, len, d + 1, value);
  }
  if (node->child_count >= 256) return -1;
  int32_t number = node->child_count++;
  GlCodeNode *child = NewNode();
  if (child == nullptr || InsertAt(t, child, key, len, d + 1, value) != 0) {
    if (child != nullptr) {
      FreeNodeContents(child, false);
      _gl_free(child);
    }
    --node->child_count;
    return -1;
  }
  node->states[b] = GL_CT_MORE;
  node->child_index[b] = static_cast<unsigned char>(number);
  node->children[number] = child;
  return 0;
}

const void *SlotOf(const GlCodeTable *t, const GlCodeNode *n, unsigned char b) {
  if (n->values == nullptr) return t->default_value;
  return n->values + b * SlotBytes(t);
}

int StateOf(const GlCodeNode *n, unsigned char b) {
  return n->states != nullptr ? static_cast<int>(n->states[b]) : static_cast<int>(GL_CT_INVALID);
}

const GlCodeNode *ChildOf(const GlCodeNode *n, unsigned char b) {
  if (n->children == nullptr || n->child_index == nullptr) return nullptr;
  int32_t i = n->child_index[b];
  return i < n->child_count ? n->children[i] : nullptr;
}

void SetError(void *obj, int32_t e) {
  if (obj != nullptr) *_gl_ext_errno(obj) = e;
}

// Walks the bytes s[0..limit) (limit < 0: no limit, at most 4 bytes).
// Returns the value, or NULL with *err 1 (invalid) or 7 (cut by limit);
// *len is the number of bytes examined.
const void *Walk(const GlCodeTable *t, const unsigned char *s, int32_t limit, int32_t *len,
                 int32_t *err) {
  const GlCodeNode *node = &t->root;
  for (int i = 0; i < kMaxDepth; ++i) {
    if (limit >= 0 && i >= limit) {
      *len = i;
      *err = GL_ESHORT;
      return nullptr;
    }
    unsigned char b = s[i];
    int st = StateOf(node, b);
    *len = i + 1;
    if (st == GL_CT_END) return SlotOf(t, node, b);
    if (st != GL_CT_MORE || (node = ChildOf(node, b)) == nullptr) break;
  }
  *err = GL_EILSEQ;
  return nullptr;
}

// Walks exactly n key bytes given in walk order; NULL when not a key.
const void *WalkKey(const GlCodeTable *t, const unsigned char *bytes, int n) {
  if (n < 1 || n > kMaxDepth) return nullptr;
  const GlCodeNode *node = &t->root;
  for (int i = 0; i < n; ++i) {
    int st = StateOf(node, bytes[i]);
    if (i == n - 1) return st == GL_CT_END ? SlotOf(t, node, bytes[i]) : nullptr;
    if (st != GL_CT_MORE || (node = ChildOf(node, bytes[i])) == nullptr) return nullptr;
  }
  return nullptr;
}

// ---- text form: writing ----

// Writes one array of 256 entries of width w as runs; zero is the entry
// that is skipped.
template <class WriteEntry>
void WriteRuns(FILE *out, const unsigned char *a, size_t w, const unsigned char *zero,
               size_t cmp, WriteEntry write) {
  auto at = [&](int i) { return a + static_cast<size_t>(i) * w; };
  auto eq = [&](int i, int j) { return memcmp(at(i), at(j), cmp) == 0; };
  auto is_zero = [&](int i) { return memcmp(at(i), zero, cmp) == 0; };
  int i = 0;
  while (i < 256) {
    if (is_zero(i)) {
      ++i;
      continue;
    }
    int s = i;
    if (s + 3 < 256 && eq(s, s + 1) && eq(s, s + 2) && eq(s, s + 3)) {
      int r = 1;
      while (s + r < 256 && eq(s, s + r)) ++r;
      fprintf(out, "%02x%03x%03x", s, 1, r);
      write(at(s));
      fprintf(out, "\n");
      i = s + r;
      continue;
    }
    int stop = 256, run = 1;
    for (int j = s + 1; j < 256; ++j) {
      run = eq(j, j - 1) ? run + 1 : 1;
      if (run == 4) {
        stop = j;
        break;
      }
    }
    int end = stop - 1;
    while (end > s && is_zero(end)) --end;
    fprintf(out, "%02x%03x%03x", s, end - s + 1, 1);
    for (int p = s; p <= end; ++p) write(at(p));
    fprintf(out, "\n");
    i = end + 1;
  }
  fprintf(out, "0000000\n");
}

void WriteStates(FILE *out, const unsigned char *states) {
  static const unsigned char kZero = 0;
  WriteRuns(out, states, 1, &kZero, 1, [&](const unsigned char *e) { fprintf(out, "%02x", *e); });
}

void WriteValues(FILE *out, const GlCodeTable *t, const unsigned char *values,
                 GlCtValueWriter writer) {
  WriteRuns(out, values, SlotBytes(t), t->default_value, static_cast<size_t>(t->value_size),
            [&](const unsigned char *e) { writer(out, e); });
}

void WriteTreeNode(FILE *out, const GlCodeTable *t, const GlCodeNode *n, GlCtValueWriter w) {
  fprintf(out, "%d %d\n", n->states ? 1 : 0, n->values ? 1 : 0);
  if (n->states) WriteStates(out, n->states);
  if (n->values) WriteValues(out, t, n->values, w);
  if (n->states == nullptr) return;
  for (int b = 0; b < 256; ++b) {
    if (n->states[b] == GL_CT_MORE) {
      if (const GlCodeNode *c = ChildOf(n, static_cast<unsigned char>(b))) WriteTreeNode(out, t, c, w);
    }
  }
}

void WriteSharedNode(FILE *out, const GlCodeNode *n) {
  fprintf(out, "%d %d %u %u\n", n->states ? 1 : 0, n->values ? 1 : 0,
          n->shared_state < 0 ? 0u : static_cast<unsigned>(n->shared_state),
          n->shared_values < 0 ? 0u : static_cast<unsigned>(n->shared_values));
  if (n->states == nullptr) return;
  for (int b = 0; b < 256; ++b) {
    if (n->states[b] == GL_CT_MORE) {
      if (const GlCodeNode *c = ChildOf(n, static_cast<unsigned char>(b))) WriteSharedNode(out, c);
    }
  }
}

// ---- text form: reading ----

struct Loader {
  GlFile *in;
  GlCodeTable *t;
  GlCtValueReader reader;
  int32_t error = 0;

  bool Fail(int32_t e) {
    if (error == 0) error = e;
    return false;
  }

  // Reads runs into an array of 256 entries of width w.
  template <class ReadEntry>
  bool ReadRuns(unsigned char *a, size_t w, ReadEntry read) {
    for (;;) {
      uint32_t start = _gl_read_hex(in, 2);
      uint32_t len = _gl_read_hex(in, 3);
      uint32_t rep = _gl_read_hex(in, 3);
      if (len == 0) return true;
      // A repeat of 0 would still read L entries into the array.
      if (rep == 0 || start + static_cast<uint64_t>(len) * rep > 256) return Fail(GL_ECTTEXT);
      // Read the L entries into the first repetition, then copy it.
      for (uint32_t p = 0; p < len; ++p) {
        if (!read(a + (start + p) * w)) return false;
      }
      for (uint32_t r = 1; r < rep; ++r) {
        memcpy(a + (start + r * len) * w, a + start * w, len * w);
      }
      if (!_gl_read_eol(in)) return Fail(GL_ENOMEM);
    }
  }

  bool ReadStates(unsigned char *states) {
    return ReadRuns(states, 1, [&](unsigned char *e) {
      uint32_t v = _gl_read_hex(in, 2);
      if (v != GL_CT_INVALID && v != GL_CT_MORE && v != GL_CT_END) return Fail(GL_ECTTEXT);
      *e = static_cast<unsigned char>(v);
      return true;
    });
  }

  bool ReadValues(unsigned char *values) {
    return ReadRuns(values, SlotBytes(t), [&](unsigned char *e) {
      return reader(in, e, t->value_size) == 0 || Fail(GL_ECTTEXT);
    });
  }

  static int32_t CountMore(const unsigned char *states) {
    int32_t n = 0;
    for (int b = 0; b < 256; ++b) n += states[b] == GL_CT_MORE;
    return n;
  }

  // Gives a node with a state array its (empty) children in byte order.
  bool MakeChildren(GlCodeNode *n, int depth) {
    int32_t count = CountMore(n->states);
    n->child_count = 0;
    if (count == 0) return true;
    if (depth + 1 >= kMaxDepth) return Fail(GL_ECTTEXT);
    n->child_index = NewStates();
    n->children = static_cast<GlCodeNode **>(_gl_malloc(static_cast<uint64_t>(count) * sizeof(GlCodeNode *)));
    if (n->child_index == nullptr || n->children == nullptr) return Fail(GL_ENOMEM);
    ++t->n_child_arrays;
    memset(n->children, 0, static_cast<size_t>(count) * sizeof(GlCodeNode *));
    n->child_count = count;
    int32_t next = 0;
    for (int b = 0; b < 256; ++b) {
      if (n->states[b] != GL_CT_MORE) continue;
      n->child_index[b] = static_cast<unsigned char>(next);
      if ((n->children[next] = NewNode()) == nullptr) return Fail(GL_ENOMEM);
      ++next;
    }
    return true;
  }

  bool ReadTreeNode(GlCodeNode *n, int depth) {
    int32_t has_states = _gl_read_int(in);
    int32_t has_values = _gl_read_int(in);
    if (!_gl_read_eol(in)) return Fail(GL_ENOMEM);
    if (has_states) {
      if ((n->states = NewStates()) == nullptr) return Fail(GL_ENOMEM);
      ++t->n_state_arrays;
      if (!ReadStates(n->states)) return false;
    }
    if (has_values) {
      if ((n->values = NewValueBlock(t)) == nullptr) return Fail(GL_ENOMEM);
      ++t->n_value_blocks;
      if (!ReadValues(n->values)) return false;
    }
    if (!n->states) return true;
    if (!MakeChildren(n, depth)) return false;
    for (int32_t i = 0; i < n->child_count; ++i) {
      if (!ReadTreeNode(n->children[i], depth + 1)) return false;
    }
    return true;
  }

  bool ReadSharedNode(GlCodeNode *n, int depth) {
    int32_t has_states = _gl_read_int(in);
    int32_t has_values = _gl_read_int(in);
    int32_t si = _gl_read_int(in);
    int32_t vi = _gl_read_int(in);
    if (!_gl_read_eol(in)) return Fail(GL_ENOMEM);
    if (has_states) {
      if (si < 0 || si >= t->n_state_arrays) return Fail(GL_ECTTEXT);
      n->states = t->shared_states[si];
      n->shared_state = si;
    }
    if (has_values) {
      if (vi < 0 || vi >= t->n_value_blocks) return Fail(GL_ECTTEXT);
      n->values = t->shared_values[vi];
      n->shared_values = vi;
    }
    if (!n->states) return true;
    if (!MakeChildren(n, depth)) return false;
    for (int32_t i = 0; i < n->child_count; ++i) {
      if (!ReadSharedNode(n->children[i], depth + 1)) return false;
    }
    return true;
  }

  bool ReadShared() {
    int32_t ns = _gl_read_int(in);
    int32_t nv = _gl_read_int(in);
    if (!_gl_read_eol(in)) return Fail(GL_ENOMEM);
    // Every node is a state array or a value block; a table has at most a
    // few hundred thousand of them.
    if (ns < 0 || nv < 0 || ns > (1 << 20) || nv > (1 << 20)) return Fail(GL_ECTTEXT);
    t->shared_states = static_cast<unsigned char **>(_gl_malloc((static_cast<uint64_t>(ns) + 1) * sizeof(void *)));
    t->shared_values = static_cast<unsigned char **>(_gl_malloc((static_cast<uint64_t>(nv) + 1) * sizeof(void *)));
    t->shared_child_counts = static_cast<int32_t *>(_gl_malloc((static_cast<uint64_t>(ns) + 1) * sizeof(int32_t)));
    if (!t->shared_states || !t->shared_values || !t->shared_child_counts) return Fail(GL_ENOMEM);
    t->n_state_arrays = 0;
    t->n_value_blocks = 0;
    for (int32_t i = 0; i < ns; ++i) {
      unsigned char *s = NewStates();
      if (s == nullptr) return Fail(GL_ENOMEM);
      t->shared_states[t->n_state_arrays++] = s;
      if (!ReadStates(s)) return false;
      t->shared_child_counts[i] = CountMore(s);
    }
    for (int32_t i = 0; i < nv; ++i) {
      unsigned char *v = NewValueBlock(t);
      if (v == nullptr) return Fail(GL_ENOMEM);
      t->shared_values[t->n_value_blocks++] = v;
      if (!ReadValues(v)) return false;
    }
    return ReadSharedNode(&t->root, 0);
  }
};

// Frees the shared lists and what they hold, leaving them NULL.
void FreeSharedLists(GlCodeTable *table) {
  if (table->shared_states != nullptr) {
    for (int32_t i = 0; i < table->n_state_arrays; ++i) _gl_free(table->shared_states[i]);
  }
  if (table->shared_values != nullptr) {
    for (int32_t i = 0; i < table->n_value_blocks; ++i) _gl_free(table->shared_values[i]);
  }
  _gl_free(table->shared_states);
  _gl_free(table->shared_values);
  _gl_free(table->shared_child_counts);
  table->shared_states = table->shared_values = nullptr;
  table->shared_child_counts = nullptr;
}

// Before writing or sharing: a one-byte table accepts every byte.
void MarkSingleByteRoot(GlCodeTable *t) {
  if (t->max_key_len <= 1 && t->min_key_len == 1 && t->root.states != nullptr) {
    memset(t->root.states, GL_CT_END, 256);
  }
}

}  // namespace

GlCodeTable *_gl_ct_create(int32_t value_size, uint32_t flags, const void *default_value) {
  if (value_size < 1 || value_size > 8) return nullptr;
  auto *t = static_cast<GlCodeTable *>(_gl_malloc(sizeof(GlCodeTable)));
  if (t == nullptr) return nullptr;
  memset(t, 0, sizeof *t);
  t->value_size = value_size;
  t->flags = flags | GL_CT_MARK_END;
  t->max_key_len = 0;
  t->min_key_len = 4;
  t->root.shared_state = t->root.shared_values = -1;
  while ((1 << t->shift) < value_size) ++t->shift;
  t->default_value = static_cast<unsigned char *>(_gl_malloc(static_cast<uint64_t>(value_size)));
  t->root.states = NewStates();
  if (t->default_value == nullptr || t->root.states == nullptr) {
    _gl_free(t->default_value);
    _gl_free(t->root.states);
    _gl_free(t);
    return nullptr;
  }
  if (default_value != nullptr) {
    memcpy(t->default_value, default_value, static_cast<size_t>(value_size));
  } else {
    memset(t->default_value, 0, static_cast<size_t>(value_size));
  }
  t->n_state_arrays = 1;
  return t;
}

int32_t _gl_ct_insert(int32_t key_len, const unsigned char *key, const void *value,
                      GlCodeTable *table) {
  if (table == nullptr || key == nullptr || key_len < 1 || key_len > kMaxDepth) return -1;
  if (table->flags & GL_CT_SHARED) return -1;
  if (InsertAt(table, &table->root, key, key_len, 0, value) != 0) return -1;
  if (key_len > table->max_key_len) table->max_key_len = key_len;
  if (key_len < table->min_key_len) table->min_key_len = key_len;
  return 0;
}

int32_t _gl_ct_load(GlFile *stream, GlCodeTable *table, int32_t max_key_len,
                    GlCtValueReader reader) {
  Loader l{stream, table, reader};
  int32_t longest = _gl_read_int(stream);
  int32_t shortest = _gl_read_int(stream);
  int32_t flags = _gl_read_int(stream);
  _gl_skip_blank(stream);
  if (longest > max_key_len || longest > kMaxDepth || longest < 0 || shortest < 0 ||
      shortest > kMaxDepth) {
    table->load_error = GL_ECTTEXT;
    return -1;
  }
  // The text's default value is read past and dropped: the table keeps the
  // default it was created with, which its creator relies on for keys the
  // text leaves without a value.
  auto *text_default = static_cast<unsigned char *>(
      _gl_malloc(static_cast<uint64_t>(table->value_size > 0 ? table->value_size : 1)));
  bool header_ok = text_default != nullptr &&
                   reader(stream, text_default, table->value_size) == 0 && _gl_read_eol(stream);
  _gl_free(text_default);
  if (!header_ok) {
    table->load_error = GL_ENOMEM;
    return -1;
  }
  // Start from an empty root; the text describes it in full.
  bool was_shared = (table->flags & GL_CT_SHARED) != 0 && table->shared_states != nullptr;
  FreeNodeContents(&table->root, was_shared);
  FreeSharedLists(table);
  table->max_key_len = longest;
  table->min_key_len = shortest;
  table->flags = static_cast<uint32_t>(flags);
  table->n_state_arrays = table->n_value_blocks = table->n_child_arrays = 0;
  bool ok = (table->flags & GL_CT_SHARED) ? l.ReadShared() : l.ReadTreeNode(&table->root, 0);
  if (!ok) {
    table->load_error = l.error != 0 ? l.error : GL_ENOMEM;
    return -1;
  }
  table->load_error = 0;
  return 0;
}

void _gl_ct_dump(FILE *stream, GlCodeTable *table, GlCtValueWriter writer) {
  MarkSingleByteRoot(table);
  fprintf(stream, "%d %d %d ", table->max_key_len, table->min_key_len, table->flags);
  writer(stream, table->default_value);
  fprintf(stream, "\n");
  if (!(table->flags & GL_CT_SHARED)) {
    WriteTreeNode(stream, table, &table->root, writer);
    return;
  }
  fprintf(stream, "%d %d\n", table->n_state_arrays, table->n_value_blocks);
  for (int32_t i = 0; i < table->n_state_arrays; ++i) WriteStates(stream, table->shared_states[i]);
  for (int32_t i = 0; i < table->n_value_blocks; ++i) {
    WriteValues(stream, table, table->shared_values[i], writer);
  }
  WriteSharedNode(stream, &table->root);
}

namespace {

// Finds equal arrays while sharing: an open-addressing set of list indexes
// keyed by the arrays' contents (plain memory, so the library exports no
// container code).
class ContentSet {
 public:
  // stride: bytes between entries; width: bytes of an entry that count.
  ContentSet(unsigned char **list, size_t stride, size_t width, int32_t capacity)
      : list_(list), stride_(stride), width_(width) {
    size_ = 16;
    while (size_ < 2 * static_cast<uint64_t>(capacity) + 2) size_ *= 2;
    slots_ = static_cast<int32_t *>(_gl_malloc(size_ * sizeof(int32_t)));
    if (slots_ != nullptr) memset(slots_, 0xff, size_ * sizeof(int32_t));
  }
  ~ContentSet() { _gl_free(slots_); }
  ContentSet(const ContentSet &) = delete;
  ContentSet &operator=(const ContentSet &) = delete;

  bool ok() const { return slots_ != nullptr; }

  // The index of an equal listed array, or -1 after remembering index.
  int32_t FindOrAdd(const unsigned char *a, int32_t index) {
    uint64_t i = Hash(a) & (size_ - 1);
    for (; slots_[i] >= 0; i = (i + 1) & (size_ - 1)) {
      if (Equal(list_[slots_[i]], a)) return slots_[i];
    }
    slots_[i] = index;
    return -1;
  }

 private:
  uint64_t Hash(const unsigned char *a) const {
    uint64_t h = 1469598103934665603ull;
    for (int e = 0; e < 256; ++e) {
      for (size_t b = 0; b < width_; ++b) h = (h ^ a[e * stride_ + b]) * 1099511628211ull;
    }
    return h;
  }
  bool Equal(const unsigned char *x, const unsigned char *y) const {
    if (stride_ == width_) return memcmp(x, y, 256 * stride_) == 0;
    for (int e = 0; e < 256; ++e) {
      if (memcmp(x + e * stride_, y + e * stride_, width_) != 0) return false;
    }
    return true;
  }

  unsigned char **list_;
  size_t stride_, width_;
  uint64_t size_ = 0;
  int32_t *slots_ = nullptr;
};

struct Sharer {
  GlCodeTable *t;
  ContentSet &states;
  ContentSet &values;
  int32_t ns = 0, nv = 0;

  void Visit(GlCodeNode *n) {
    if (n->states != nullptr) {
      t->shared_states[ns] = n->states;
      int32_t found = states.FindOrAdd(n->states, ns);
      if (found >= 0) {
        _gl_free(n->states);
        n->shared_state = found;
      } else {
        n->shared_state = ns;
        t->shared_child_counts[ns] = n->child_count;
        ++ns;
      }
      n->states = t->shared_states[n->shared_state];
    }
    if (n->values != nullptr) {
      t->shared_values[nv] = n->values;
      int32_t found = values.FindOrAdd(n->values, nv);
      if (found >= 0) {
        _gl_free(n->values);
        n->shared_values = found;
      } else {
        n->shared_values = nv++;
      }
      n->values = t->shared_values[n->shared_values];
    }
    for (int32_t i = 0; i < n->child_count; ++i) {
      if (n->children != nullptr && n->children[i] != nullptr) Visit(n->children[i]);
    }
  }
};

}  // namespace

int32_t _gl_ct_share(GlCodeTable *table) {
  if (table->flags & GL_CT_SHARED) return 0;
  MarkSingleByteRoot(table);
  uint64_t ns = static_cast<uint64_t>(table->n_state_arrays) + 1;
  uint64_t nv = static_cast<uint64_t>(table->n_value_blocks) + 1;
  table->shared_states = static_cast<unsigned char **>(_gl_malloc(ns * sizeof(void *)));
  table->shared_values = static_cast<unsigned char **>(_gl_malloc(nv * sizeof(void *)));
  table->shared_child_counts = static_cast<int32_t *>(_gl_malloc(ns * sizeof(int32_t)));
  ContentSet states(table->shared_states, 1, 1, table->n_state_arrays);
  ContentSet values(table->shared_values, SlotBytes(table), static_cast<size_t>(table->value_size),
                    table->n_value_blocks);
  if (!table->shared_states || !table->shared_values || !table->shared_child_counts ||
      !states.ok() || !values.ok()) {
    // Nothing is listed yet: drop the empty lists, the tree stays as it was.
    _gl_free(table->shared_states);
    _gl_free(table->shared_values);
    _gl_free(table->shared_child_counts);
    table->shared_states = table->shared_values = nullptr;
    table->shared_child_counts = nullptr;
    return -1;
  }
  Sharer s{table, states, values};
  s.Visit(&table->root);
  table->n_state_arrays = s.ns;
  table->n_value_blocks = s.nv;
  table->flags |= GL_CT_SHARED;
  return 0;
}

void _gl_ct_free(GlCodeTable *table) {
  if (table == nullptr) return;
  bool shared = (table->flags & GL_CT_SHARED) != 0 && table->shared_states != nullptr;
  FreeNodeContents(&table->root, shared);
  _gl_free(table->default_value);
  FreeSharedLists(table);
  _gl_free(table);
}

int32_t _gl_ct_max_key_len(const GlCodeTable *table) { return table->max_key_len; }
int32_t _gl_ct_min_key_len(const GlCodeTable *table) { return table->min_key_len; }
int32_t _gl_ct_error(const GlCodeTable *table) { return table->load_error; }

void _gl_ct_counts(const GlCodeTable *table, int32_t *value_blocks, int32_t *state_arrays,
                   int32_t *child_arrays) {
  *value_blocks = table->n_value_blocks;
  *state_arrays = table->n_state_arrays;
  *child_arrays = table->n_child_arrays;
}

const void *_gl_ct_lookup_mb(const GlCodeTable *t, const unsigned char *s, void *obj,
                             int32_t *len) {
  int32_t err = 0, n = 0;
  const void *v = Walk(t, s, -1, &n, &err);
  if (len != nullptr) *len = n;
  if (v == nullptr) SetError(obj, err);
  return v;
}

const void *_gl_ct_lookup_mb_value(const GlCodeTable *t, const unsigned char *s, void *obj) {
  return _gl_ct_lookup_mb(t, s, obj, nullptr);
}

int32_t _gl_ct_mblen(const GlCodeTable *t, const unsigned char *s, void *obj) {
  int32_t len = 0;
  return _gl_ct_lookup_mb(t, s, obj, &len) != nullptr ? len : 0;
}

const void *_gl_ct_lookup_mbn(const GlCodeTable *t, const unsigned char *s, int32_t n,
                              int32_t *len, void *obj) {
  int32_t err = 0, examined = 0;
  const void *v = nullptr;
  if (n <= 0) {
    err = GL_ESHORT;
  } else {
    v = Walk(t, s, n, &examined, &err);
  }
  if (len != nullptr) *len = examined;
  if (v == nullptr) SetError(obj, err);
  return v;
}

const void *_gl_ct_lookup_mbn_value(const GlCodeTable *t, const unsigned char *s, int32_t n,
                                    void *obj) {
  return _gl_ct_lookup_mbn(t, s, n, nullptr, obj);
}

const void *_gl_ct_lookup_wc(const GlCodeTable *t, uint32_t wc, void *obj) {
  int32_t shortest = t->min_key_len;
  int n;
  if (wc <= 0xff) {
    n = shortest;
  } else if (wc <= 0xffff) {
    n = shortest > 2 ? shortest : 2;
  } else if (wc <= 0xffffff) {
    n = shortest > 3 ? shortest : 3;
  } else {
    n = 4;
  }
  unsigned char all[4] = {static_cast<unsigned char>(wc >> 24), static_cast<unsigned char>(wc >> 16),
                          static_cast<unsigned char>(wc >> 8), static_cast<unsigned char>(wc)};
  const void *v = (n >= 1 && n <= 4) ? WalkKey(t, all + (4 - n), n) : nullptr;
  if (v == nullptr) SetError(obj, GL_EILSEQ);
  return v;
}

const void *_gl_ct_lookup_unit(const GlCodeTable *t, const unsigned char *s, int32_t n,
                               int32_t unit_len, void *obj) {
  if (unit_len != 4) unit_len = 2;
  if (n < unit_len) {
    SetError(obj, GL_ESHORT);
    return nullptr;
  }
  // The unit is stored least significant byte first; its key is big-endian.
  unsigned char key[4];
  for (int i = 0; i < unit_len; ++i) key[i] = s[unit_len - 1 - i];
  const void *v = WalkKey(t, key, unit_len);
  if (v == nullptr) SetError(obj, GL_EILSEQ);
  return v;
}

const void *_gl_ct_lookup_key(const GlCodeTable *t, int32_t key_len, const unsigned char *key) {
  return WalkKey(t, key, key_len);
}

int _gl_ct_read_hex16(GlFile *stream, void *dest, int32_t value_size) {
  uint16_t v = static_cast<uint16_t>(_gl_read_hex(stream, 4));
  if (value_size < 2) return -1;
  memcpy(dest, &v, 2);
  return 0;
}

void _gl_ct_write_hex16(FILE *stream, const void *value) {
  uint16_t v;
  memcpy(&v, value, 2);
  fprintf(stream, "%04x", v);
}

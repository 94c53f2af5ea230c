#include "tools/msgc/vqm_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <limits>

namespace msgc {

namespace {

bool FitsShort(int32_t n) {
  return n >= std::numeric_limits<int16_t>::min() && n <= std::numeric_limits<int16_t>::max();
}

}  // namespace

bool BuildVqm(const Catalog& catalog, std::vector<uint8_t>* out,
              std::vector<std::string>* errors) {
  const size_t before = errors->size();
  std::vector<const Message*> sorted;
  for (const Message& m : catalog.messages) sorted.push_back(&m);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Message* a, const Message* b) { return a->number < b->number; });
  bool all_short = true;
  for (size_t i = 0; i < sorted.size(); ++i) {
    const Message& m = *sorted[i];
    if (i > 0 && sorted[i - 1]->number == m.number)
      errors->push_back(m.where + ": message " + std::to_string(m.number) +
                        " is also defined at " + sorted[i - 1]->where);
    if (m.text.size() > static_cast<size_t>(kMaxTextLength))
      errors->push_back(m.where + ": message " + std::to_string(m.number) + " has " +
                        std::to_string(m.text.size()) + " bytes; at most " +
                        std::to_string(kMaxTextLength) + " fit");
    if (!FitsShort(m.number)) all_short = false;
  }
  if (sorted.size() > static_cast<size_t>(kMaxEntries))
    errors->push_back("too many messages: " + std::to_string(sorted.size()) + "; at most " +
                      std::to_string(kMaxEntries) + " fit in one file");
  Form form = Form::kLong;
  if (catalog.form == FormChoice::kShort) {
    form = Form::kShort;
    for (const Message* m : sorted)
      if (!FitsShort(m->number))
        errors->push_back(m->where + ": message " + std::to_string(m->number) +
                          " does not fit the short form's 16-bit numbers");
  } else if (catalog.form != FormChoice::kLong) {
    form = all_short ? Form::kShort : Form::kLong;
  }
  if (errors->size() != before) return false;

  const size_t esz = EntrySize(form);
  size_t total = kHeaderSize + sorted.size() * esz;
  for (const Message* m : sorted) total += m->text.size();
  if (total > std::numeric_limits<uint32_t>::max()) {
    errors->push_back("the file would exceed 4 GiB");
    return false;
  }
  out->assign(total, 0);
  std::span<uint8_t> buf(*out);
  bool ok = StoreBE(buf, 0, form == Form::kShort ? kMagicShort : kMagicLong, 2) &&
            StoreBE(buf, 2, sorted.size(), 2);
  size_t text_at = kHeaderSize + sorted.size() * esz;
  for (size_t i = 0; i < sorted.size() && ok; ++i) {
    const Message& m = *sorted[i];
    const size_t at = kHeaderSize + i * esz;
    const auto number = static_cast<uint32_t>(m.number);
    if (form == Form::kShort) {
      ok = StoreBE(buf, at, number & 0xFFFF, 2) && StoreBE(buf, at + 2, m.text.size(), 2) &&
           StoreBE(buf, at + 4, text_at, 4);
    } else {
      ok = StoreBE(buf, at, number, 4) && StoreBE(buf, at + 4, m.text.size(), 2) &&
           StoreBE(buf, at + 6, text_at, 4);
    }
    if (ok && text_at + m.text.size() <= buf.size())
      std::copy(m.text.begin(), m.text.end(), buf.begin() + static_cast<ptrdiff_t>(text_at));
    else
      ok = false;
    text_at += m.text.size();
  }
  if (!ok) errors->push_back("internal error: a field fell outside the file being built");
  return ok;
}

bool ReadVqm(std::span<const uint8_t> file, Form* form, std::vector<Message>* messages,
             std::string* error) {
  messages->clear();
  uint16_t magic = 0;
  int16_t count = 0;
  if (!LoadU16(file, 0, &magic) || !LoadI16(file, 2, &count)) {
    *error = "file of " + std::to_string(file.size()) + " bytes is too short for a header";
    return false;
  }
  if (magic == kMagicShort) {
    *form = Form::kShort;
  } else if (magic == kMagicLong) {
    *form = Form::kLong;
  } else {
    char hex[8];
    snprintf(hex, sizeof hex, "0x%04X", magic);
    *error = std::string("bad magic ") + hex + " (not a message file)";
    return false;
  }
  if (count < 0) {
    *error = "negative entry count " + std::to_string(count);
    return false;
  }
  const size_t esz = EntrySize(*form);
  const size_t index_end = kHeaderSize + static_cast<size_t>(count) * esz;
  if (index_end > file.size()) {
    *error = "index of " + std::to_string(count) + " entries runs past the end of the file (" +
             std::to_string(file.size()) + " bytes)";
    return false;
  }
  for (int i = 0; i < count; ++i) {
    const size_t at = kHeaderSize + static_cast<size_t>(i) * esz;
    Message m;
    int16_t length = 0;
    uint32_t offset = 0;
    bool ok;
    if (*form == Form::kShort) {
      int16_t n16 = 0;
      ok = LoadI16(file, at, &n16) && LoadI16(file, at + 2, &length) &&
           LoadU32(file, at + 4, &offset);
      m.number = n16;
    } else {
      ok = LoadI32(file, at, &m.number) && LoadI16(file, at + 4, &length) &&
           LoadU32(file, at + 6, &offset);
    }
    const std::string which = "entry " + std::to_string(i) + " (message " +
                              std::to_string(m.number) + ")";
    if (!ok) {
      *error = which + " cannot be read";
      return false;
    }
    if (length < 0) {
      *error = which + " has a negative text length " + std::to_string(length);
      return false;
    }
    if (offset < index_end || offset > file.size() ||
        static_cast<size_t>(length) > file.size() - offset) {
      *error = which + ": text of " + std::to_string(length) + " bytes at offset " +
               std::to_string(offset) + " lies outside the text area (" +
               std::to_string(index_end) + ".." + std::to_string(file.size()) + ")";
      return false;
    }
    if (!messages->empty() && messages->back().number >= m.number) {
      *error = which + " is not above the number before it (" +
               std::to_string(messages->back().number) + "); the index must ascend";
      return false;
    }
    m.text.assign(reinterpret_cast<const char*>(file.data()) + offset, length);
    m.where = "entry " + std::to_string(i);
    messages->push_back(std::move(m));
  }
  return true;
}

}  // namespace msgc

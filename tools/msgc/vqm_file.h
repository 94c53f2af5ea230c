// Building a message file from a catalog and reading one back, in the
// format that vqm_format.h describes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/msgc/catalog.h"
#include "tools/msgc/vqm_format.h"

namespace msgc {

// Builds the file's bytes. The form is chosen by the catalog (auto or unset:
// short when every number fits in 16 bits). Refuses, with every reason in
// *errors: duplicate numbers, a number the short form cannot hold, more than
// 32767 entries, a text longer than 32767 bytes.
bool BuildVqm(const Catalog& catalog, std::vector<uint8_t>* out, std::vector<std::string>* errors);

// Reads a file's entries in index order. Every field is checked before it
// is used: a short file, a bad magic, a negative count, an index or a text
// that runs past the end of the file or into the header and index, a
// negative length, or numbers out of ascending order are reported in
// *error as corruption.
bool ReadVqm(std::span<const uint8_t> file, Form* form, std::vector<Message>* messages,
             std::string* error);

}  // namespace msgc

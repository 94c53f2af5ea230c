// The message source text: reading it into a catalog and writing a catalog
// back as source (the compiler's dump).
//
// A source is UTF-8, one entry per line:
//
//   # a comment; blank lines are ignored too
//   @output tev.vqm         name of the compiled file (the command line's
//                           -o takes precedence)
//   @form long              short | long | auto (short when every number
//                           fits in 16 bits)
//   @charset ISO-8859-1     code set of the stored texts: ISO-8859-1 or
//                           UTF-8; the source's UTF-8 is converted
//   88053 [s d] %s ended with result %d.
//   88300 [] This command must be run by an administrator.
//
// An entry is a signed decimal number, the printf argument kinds of its
// text in brackets (see printf_kinds.h), one blank and the text to the end
// of the line. The compiler adds the text's line feed. Escapes: \n \t \\,
// \xHH (one stored byte), and a final \c, which stores the text without
// its line feed. A directive may carry a trailing "# comment".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/msgc/catalog.h"

namespace msgc {

// Adds the entries and directives of one source to *catalog. A directive
// that contradicts one set by an earlier source is an error. Every problem
// found is appended to *errors as "name:line: reason"; the result is true
// when there was none.
bool ParseSource(std::string_view text, const std::string& name, Catalog* catalog,
                 std::vector<std::string>* errors);

// Writes the catalog as source text, entries in the order given; the
// argument kinds come from each text's conversions. A text whose
// conversions cannot be read gets the kinds "[?]" and a line in *warnings.
std::string WriteSource(const Catalog& catalog, std::vector<std::string>* warnings);

}  // namespace msgc

// Error numbers of the formatting and parsing engines, beside the library's
// own (locale/core/gl_errors.h).
#pragma once

enum {
  GL_ENOERA = 9,       // no era contains the date
  GL_EMONLETTER = 20,  // a money conversion letter other than i and n
  GL_EYEARFIELD = 41,  // the year field of a time format failed
  GL_EBADSPEC = 45,    // bad conversion specification
  GL_ENONUMBER = 46,   // no number in the text
};

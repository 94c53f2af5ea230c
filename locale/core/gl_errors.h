// Library error numbers of the locale library. Operations fail with -1 or
// NULL and store one of these at _gl_ext_errno(object).
#pragma once

enum {
  GL_ENOERROR = 0,
  GL_EILSEQ = 1,        // invalid character or byte sequence
  GL_ENULLARG = 2,      // NULL argument
  GL_ENOMEM = 3,        // memory exhausted
  GL_ENEGATIVE = 4,     // negative count or index; more than 15 list values
  GL_EBEFORESTART = 5,  // end position before the start
  GL_ERANGE = 6,        // value out of range in a number conversion
  GL_ESHORT = 7,        // character cut short; malformed specification
  GL_ENOFILE = 8,       // data file not found; name too long
  GL_EBADARG = 9,       // bad argument
  GL_EFORMAT = 11,      // bad data-file format
  GL_ECODESET = 12,     // categories of different code sets
  GL_ESTREAM = 13,      // stream read or write error
  GL_E2BIG = 14,        // output buffer too small
  GL_EMISSING = 15,     // data file missing; NULL format
  GL_EEOF = 16,         // end of stream
  GL_EREAD = 17,        // byte read failed without end of file or error
  GL_ENOTSET = 18,      // source category not set
  GL_EALREADYSET = 19,  // destination category already set
  GL_ETHAI = 20,        // refused for the Thai collation
  GL_ECTTEXT = 21,      // bad code-table text; key too long
  GL_EBADCONV = 22,     // unknown conversion letter; input does not match
  GL_EVERSION = 51,    // wrong compiler version of a locale-object file
  GL_ECATFAILED = 55,   // a category failed to load without a number of its own
  GL_EMIXEDLEN = 56,   // one length -1 and the other explicit
  GL_ENOCTYPE = 57,     // category completed without LC_CTYPE data
  GL_ECTYPECS = 58,     // a category file's code set differs from LC_CTYPE's
};

// Time fields out of range, eras and calendars.
enum {
  GL_EFRACTION = 23,
  GL_ESECOND = 24,
  GL_EMINUTE = 25,
  GL_EHOUR = 26,
  GL_EMDAY = 27,
  GL_EWDAY = 28,
  GL_EYDAY = 29,
  GL_EMONTH = 30,
  GL_EYEAR = 31,
  GL_EERA = 49,       // malformed era string
  GL_ECALENDAR = 50,  // unrecognised calendar name
};

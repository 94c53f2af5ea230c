// The audit trail of a file pair: an ordinary file to which every change of
// a record appends an image of the record.
#pragma once

#include <cstdint>
#include <string>

namespace isam {

enum : char { AUDIT_ADD = 'a', AUDIT_DELETE = 'd', AUDIT_BEFORE = 'r', AUDIT_AFTER = 'w' };

// The audit file named by the current file's audit node. 1 with the name,
// 0 when the file has no audit node, -1 with iserrno when the node cannot
// be read or is damaged.
int is_auditname(std::string* name);

// Opens the audit file of the current file when auditing is on and this
// thread has not opened it yet. 0, or -1 with iserrno (isiocode 19 for a
// failed open).
int is_auditopen();

// Closes the thread's descriptor of the pair's audit file, so that the next
// change opens the file the audit node names then (another process may have
// named another one meanwhile).
struct IsamSharedFile;
void is_auditforget(IsamSharedFile* sf);

// Appends one audit record when auditing is on and the audit file is open.
// 0, or -1 with iserrno = errno and isiocode 51 (seek) or 83 (write); the
// change the record describes stays made.
int is_auditwrite(char type, int32_t recnum, const unsigned char* record, int len);

}  // namespace isam

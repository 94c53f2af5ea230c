// Checks an account's password with the machine's authentication modules
// (PAM, service "login"): the account must exist, the password must be
// right and the account must be allowed to log on now.
#pragma once

#include <cstdint>

namespace tvp {

// 0 when the password is accepted; 86 for a null password; 1326 when the
// account or the password is refused; 8 when no memory is left.
int32_t CheckPassword(const char* account, const char* password);

}  // namespace tvp

#include "platform/logon.h"

#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>

#include "platform/win_errors.h"

namespace tvp {

namespace {

constexpr char kService[] = "login";

// Answers every question that hides its echo with the password, and every
// other one with nothing.
int Converse(int count, const struct pam_message** messages, struct pam_response** responses,
             void* password) {
  if (count <= 0) return PAM_CONV_ERR;
  auto* out = static_cast<struct pam_response*>(calloc(static_cast<size_t>(count), sizeof **responses));
  if (out == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) {
      out[i].resp = strdup(static_cast<const char*>(password));
      if (out[i].resp == nullptr) {
        for (int j = 0; j < i; ++j) free(out[j].resp);
        free(out);
        return PAM_BUF_ERR;
      }
    }
  }
  *responses = out;
  return PAM_SUCCESS;
}

// A refused password is answered at once: the caller decides how to slow
// repeated attempts.
void NoFailDelay(int, unsigned, void*) {}

}  // namespace

int32_t CheckPassword(const char* account, const char* password) {
  if (password == nullptr) return tvwin::kInvalidPassword;
  if (account == nullptr || *account == '\0') return tvwin::kLogonFailure;
  struct pam_conv conv = {Converse, const_cast<char*>(password)};
  pam_handle_t* pamh = nullptr;
  int rc = pam_start(kService, account, &conv, &pamh);
  if (rc != PAM_SUCCESS) return rc == PAM_BUF_ERR ? tvwin::kNotEnoughMemory : tvwin::kLogonFailure;
  void (*delay)(int, unsigned, void*) = NoFailDelay;
  pam_set_item(pamh, PAM_FAIL_DELAY, reinterpret_cast<const void*>(delay));
  rc = pam_authenticate(pamh, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (rc == PAM_SUCCESS) rc = pam_acct_mgmt(pamh, PAM_SILENT);
  pam_end(pamh, rc);
  if (rc == PAM_BUF_ERR) return tvwin::kNotEnoughMemory;
  return rc == PAM_SUCCESS ? tvwin::kOk : tvwin::kLogonFailure;
}

}  // namespace tvp

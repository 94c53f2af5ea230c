// {high, low} pair operations and the fixed owner and token values of the
// storage-manager API.
#include "storage/datapath/xbsa.h"

#include <cstdio>
#include <cstring>

void tevMBytesToUInt64(UInt64Pair* out, uint32_t megabytes) {
  out->high = megabytes >> 12;
  out->low = (megabytes & 0xFFFu) << 20;
}

void tevUInt64ToMBytes(uint32_t* out, const UInt64Pair* pair) {
  *out = (pair->low >> 20) + (pair->high << 12);
}

void tevU64ToUInt64(UInt64Pair* out, uint64_t value) {
  out->high = static_cast<uint32_t>(value >> 32);
  out->low = static_cast<uint32_t>(value);
}

void tevUInt64ToU64(uint64_t* out, const UInt64Pair* pair) {
  *out = (static_cast<uint64_t>(pair->high) << 32) + pair->low;
}

void tevUInt64Subtract(UInt64Pair* pair, uint32_t value) {
  if (pair == nullptr) return;
  const uint32_t before = pair->low;
  pair->low = before - value;
  if (value > before && pair->high != 0) pair->high -= 1;
}

int tevUInt64Compare(const UInt64Pair* pair, uint32_t value) {
  if (pair == nullptr) return 1;
  if (pair->high != 0 || pair->low > value) return -1;
  return pair->low == value ? 0 : 1;
}

void tevSetDefaultOwner(XbsaObjectOwner* owner) {
  std::snprintf(owner->bsaObjectOwner, sizeof owner->bsaObjectOwner, "%s", "TARVELON");
  std::snprintf(owner->appObjectOwner, sizeof owner->appObjectOwner, "%s", "tarvelon");
}

void tevClearSecurityToken(XbsaSecurityToken* token) {
  std::memset(token->bytes, 0, sizeof token->bytes);
}

// Result numbers of the platform layer. Callers compare and pass these on as
// the numbers the client libraries have always reported, so they keep the
// values of the interfaces they stand in for.
#pragma once

#include <cstdint>

namespace tvwin {

inline constexpr int32_t kOk = 0;
inline constexpr int32_t kFileNotFound = 2;
inline constexpr int32_t kPathNotFound = 3;
inline constexpr int32_t kAccessDenied = 5;
inline constexpr int32_t kInvalidHandle = 6;
inline constexpr int32_t kNotEnoughMemory = 8;
inline constexpr int32_t kNoMoreFiles = 18;
inline constexpr int32_t kBadNetPath = 53;
inline constexpr int32_t kInvalidPassword = 86;
inline constexpr int32_t kInvalidParameter = 87;
inline constexpr int32_t kBufferOverflow = 111;
inline constexpr int32_t kMoreData = 234;
inline constexpr int32_t kNoMoreItems = 259;
inline constexpr int32_t kRegistryCorrupt = 1009;  // hive file unreadable
inline constexpr int32_t kBadKey = 1010;
inline constexpr int32_t kRegistryIoFailed = 1016;
inline constexpr int32_t kKeyDeleted = 1018;
inline constexpr int32_t kChildMustBeVolatile = 1021;
inline constexpr int32_t kNoLogonServers = 1311;  // account databases unreachable
inline constexpr int32_t kLogonFailure = 1326;
inline constexpr int32_t kNoneMapped = 1332;
inline constexpr int32_t kRpcServerUnavailable = 1722;
inline constexpr int32_t kDcNotFound = 2453;
// Host look-ups
inline constexpr int32_t kHostNotFound = 11001;
inline constexpr int32_t kTryAgain = 11002;
inline constexpr int32_t kNoRecovery = 11003;
inline constexpr int32_t kNoData = 11004;

}  // namespace tvwin

// The files behind the registry, and the transaction every registry call
// runs as.
//
// The registry directory is named by TARVELON_REGISTRY (default
// /var/lib/tarvelon/registry). It holds the machine hive "HKLM.reg" and,
// per account, "HKCU-<uid>.reg"; without TARVELON_REGISTRY the account's
// hive is "$HOME/.tarvelon_registry.reg". Beside each hive lies
// "<hive>.lock", locked with flock: shared to read, exclusive to change.
// A change is written to "<hive>.tmp", synced and renamed over the hive, and
// the directory is synced, so that a hive file is always a complete old or
// new version, whenever its writer stops.
//
// Volatile keys count as absent once the machine has restarted (the
// kernel's boot id differs) or, when they record the process that made
// them, once that process has ended.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/registry_hive.h"

namespace tvreg {

enum class Root { kMachine, kUser };

std::string RegistryDirectory();
std::string HivePath(Root root);

// Runs `read` on the current hive under a shared lock. Returns the loading
// error (1009 for a corrupt hive) or the result of `read`.
int32_t ReadHive(Root root, const std::function<int32_t(const Hive&)>& read);

// Runs `change` on a copy of the current hive under an exclusive lock; when
// it returns 0 and sets its flag, the copy is written back as one step.
// Returns the loading or writing error (5 when the hive may not be written,
// 1016 for another write failure), or the result of `change`.
int32_t ChangeHive(Root root, const std::function<int32_t(Hive&, bool* changed)>& change);

// The kernel's boot id ("" when unknown).
const std::string& CurrentBootId();
// Start time of a live process in clock ticks since boot; false when there
// is no such process.
bool ProcessStartTime(int64_t pid, uint64_t* start);

}  // namespace tvreg

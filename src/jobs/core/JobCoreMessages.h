#pragma once

// Every text the job layer makes for a user, in one place.
namespace jobcoremsg {
// The summary line: the first count names the unit, the others only what
// happened ("3 files added, 1 refused").
inline constexpr const char* kFile = "file";
inline constexpr const char* kFiles = "files";
inline constexpr const char* kNothing = "nothing done";
inline constexpr const char* kAdded = "added";
inline constexpr const char* kReplaced = "replaced";
inline constexpr const char* kExtracted = "extracted";
inline constexpr const char* kPassed = "tested ok";
inline constexpr const char* kUnverified = "ok without checksum";
inline constexpr const char* kDeleted = "deleted";
inline constexpr const char* kDeclined = "declined";
inline constexpr const char* kRefused = "refused";
inline constexpr const char* kDamaged = "damaged";
inline constexpr const char* kFailed = "failed";
inline constexpr const char* kStopped = "stopped";
}  // namespace jobcoremsg

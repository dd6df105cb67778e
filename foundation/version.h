// Release identity of the library: version banner and ownership notice.
#pragma once

#include "zp_config.h"

// "<major>.<minor>.<patch> linux64 (Jul 10 2021, <build id>) \"Glimmerdawn\"".
// Formatted on the first call into a static buffer owned by the library;
// never free it.
const char* ZpVersionString();

// The banner with "Zephrin " in front, in a buffer of its own.
const char* ZpProductVersionString();

// One-line ownership notice naming the year.
const char* ZpNoticeString();

// Always 1.
int ZpAlwaysTrue();

// Release facts shared with the crash handler's header line; the version
// comes from project() in CMakeLists.txt.
constexpr int kZpVersionMajor = ZP_VERSION_MAJOR;
constexpr int kZpVersionMinor = ZP_VERSION_MINOR;
constexpr int kZpVersionPatch = ZP_VERSION_PATCH;
constexpr const char* kZpPlatformWord = "linux64";
constexpr const char* kZpBuildDate = "Jul 10 2021";
constexpr const char* kZpBuildIdentifier = "tw-oss";
constexpr const char* kZpCodeName = "Glimmerdawn";
constexpr const char* kZpNoticeYear = "2021";

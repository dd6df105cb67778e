// Release identity of the library: version banner and ownership notice.
#pragma once

// "2.5.20 linux64 (Jul 10 2021, <build id>) \"Glimmerdawn\"". Formatted on the
// first call into a static buffer owned by the library; never free it.
const char* ZpVersionString();

// The banner with "Zephrin " in front, in a buffer of its own.
const char* ZpProductVersionString();

// One-line ownership notice naming the year.
const char* ZpNoticeString();

// Always 1.
int ZpAlwaysTrue();

// Release facts shared with the crash handler's header line.
constexpr int kZpVersionMajor = 2;
constexpr int kZpVersionMinor = 5;
constexpr int kZpVersionPatch = 20;
constexpr const char* kZpPlatformWord = "linux64";
constexpr const char* kZpBuildDate = "Jul 10 2021";
constexpr const char* kZpBuildIdentifier = "tw-oss";
constexpr const char* kZpCodeName = "Glimmerdawn";
constexpr const char* kZpNoticeYear = "2021";

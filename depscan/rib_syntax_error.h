#pragma once

#include <cstdint>

// Thrown by the tracker's string-argument reader when a request's arguments
// have the wrong shape; caught by its request loop, which drops the request.
struct RibSyntaxError {
  // A string token was required and another token was found.
  static constexpr int32_t kStringExpected = 6;

  int32_t code;
};

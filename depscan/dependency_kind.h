#pragma once

#include <cstdint>

// The kinds of dependency a scene stream can have. Each kind is one bit, so a
// set of kinds (a kind mask) is the OR of any of them.
enum DependencyKind : uint32_t {
  Shader = 1,
  Texture = 2,
  Output = 4,
  Stream = 8,
  Procedural = 16,
  MissingShader = 32,
  MissingTexture = 64,
  MissingStream = 128,
  MissingProcedural = 256,
};

// The one-letter listing prefix of a kind: "s", "t", "o", "a" or "p" for the
// five found kinds, "!" for anything else (the missing kinds, 0, or a mask
// with several bits).
const char* DependencyKindPrefix(int kind);

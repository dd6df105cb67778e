#include "dependency_kind.h"

const char* DependencyKindPrefix(int kind) {
  switch (kind) {
    case DependencyKind::Shader: return "s";
    case DependencyKind::Texture: return "t";
    case DependencyKind::Output: return "o";
    case DependencyKind::Stream: return "a";
    case DependencyKind::Procedural: return "p";
    default: return "!";
  }
}

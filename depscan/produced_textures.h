// Textures that one input stream of a package renders and another reads:
// the package does not hold them, and the streams that read them name them
// as the streams that render them write them, by their relative names.
#pragma once

#include <string>

#include "hash_table.h"

struct ToolOptions;

// The name that the texture at path goes by in the package when another
// stream renders it, else empty. found: the texture is on disk (the image of
// an earlier render, say); it is rendered when it kept the rendered name, or
// is the very file that kept it under another spelling. A texture not found
// is rendered when its relative name is. producedNames holds the rendered
// relative names.
std::string ProducedTextureName(const std::string& path, bool found, const ToolOptions& options,
                                const ZpHashTable& producedNames);

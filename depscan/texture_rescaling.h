// Shrinking a texture on its way into the package through the renderer's
// texture tool "texmeld".
#pragma once

#include <string>

#include "package_writer.h"

// True for a texture that texmeld may shrink: a regular file that libtiff
// opens as a TIFF file and whose texture format is not "CubeFace
// Environment" (cube-face environments are never rescaled).
bool IsRescalableTiff(const std::string& path);

// Writes the texture at `source` as `name` in `folder`: shrunk by `scale`
// through texmeld when it is rescalable, else, or when texmeld fails, copied
// at full size (CopyIntoPackage). texmeld writes a temporary file of the
// folder, which takes `name` only when texmeld succeeded and left a
// non-empty regular file there; so `name` never holds a texmeld's partial
// image, nor an older one. kCopied when `name` holds either; otherwise what
// CopyIntoPackage gave, with `error`.
//
// Keeps no state between calls: several threads may shrink textures at once.
CopyResult RescaleIntoPackage(const std::string& source, const PackageDirectory& folder,
                              const std::string& name, float scale, std::string* error);

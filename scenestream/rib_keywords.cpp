#include "rib_keywords.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "rib_token.h"

namespace {

// Request keywords in code order from the first request code; "-" marks the
// one code without a keyword.
const char kKeywords[] =
    "AreaLightSource Atmosphere Attribute AttributeBegin AttributeEnd Basis Bound Clipping "
    "Color ColorSamples ConcatTransform Cone CoordinateSystem CropWindow Cylinder Declare "
    "Deformation DepthOfField Detail DetailRange Disk Displacement Display ErrorHandler "
    "Exposure Exterior Format FrameAspectRatio FrameBegin FrameEnd GeneralPolygon "
    "GeometricApproximation Geometry Hider Hyperboloid Identity Illuminate Imager Interior "
    "LightSource MakeBump MakeCubeFaceEnvironment MakeLatLongEnvironment MakeShadow "
    "MakeTexture Matte MotionBegin MotionEnd NuPatch ObjectBegin ObjectEnd ObjectInstance "
    "Opacity Option Orientation Paraboloid Patch PatchMesh Perspective PixelFilter "
    "PixelSamples PixelVariance PointsGeneralPolygons PointsPolygons Polygon Projection "
    "Quantize RelativeDetail ReverseOrientation Rotate Scale ScreenWindow "
    "ShadingInterpolation ShadingRate Shutter Sides Skew SolidBegin SolidEnd Sphere Surface "
    "TextureCoordinates Torus Transform TransformBegin TransformEnd Translate TrimCurve "
    "WorldBegin WorldEnd CoordSysTransform ReadArchive SubdivisionMesh Curves Points version "
    "Blobby Procedural ClippingPlane ArchiveBegin ArchiveEnd - IfBegin ElseIf Else IfEnd "
    "ScopedCoordinateSystem ProcDynamicLoad ProcRunProgram NuCurves DisplayChannel Resource "
    "ResourceBegin ResourceEnd MakeBrickMap HierarchicalSubdivisionMesh MultiplyShadingRate "
    "Shader Camera EditBegin EditEnd EditWorldBegin EditWorldEnd Create Delete SetAttribute "
    "SetAttributeAtTime DeleteAttribute Connect Disconnect Evaluate RenderControl";

struct KeywordTable {
  std::string words[RibToken::LastRequest - RibToken::FirstRequest + 1];
  std::unordered_map<std::string_view, int> codes;

  KeywordTable() {
    const char* p = kKeywords;
    int code = RibToken::FirstRequest;
    for (std::string& word : words) {
      const char* end = std::strchr(p, ' ');
      word.assign(p, end ? end : p + std::strlen(p));
      p = end ? end + 1 : p + std::strlen(p);
      if (word != "-") codes.emplace(word, code);
      ++code;
    }
  }
};

const KeywordTable& Table() {
  static const KeywordTable table;
  return table;
}

}  // namespace

const char* RibRequestKeyword(int code) {
  if (!RibToken::IsRequest(code)) return nullptr;
  const std::string& word = Table().words[code - RibToken::FirstRequest];
  return word == "-" ? nullptr : word.c_str();
}

int RibRequestCode(std::string_view word) {
  auto found = Table().codes.find(word);
  return found == Table().codes.end() ? 0 : found->second;
}

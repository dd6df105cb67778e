#include "rib_token.h"

#include <gtest/gtest.h>

#include "scan_test_support.h"

// The keywords in code order from 261; 362 has none.
const char* const kKeywords[] = {
    "AreaLightSource", "Atmosphere", "Attribute", "AttributeBegin", "AttributeEnd", "Basis",
    "Bound", "Clipping", "Color", "ColorSamples", "ConcatTransform", "Cone", "CoordinateSystem",
    "CropWindow", "Cylinder", "Declare", "Deformation", "DepthOfField", "Detail", "DetailRange",
    "Disk", "Displacement", "Display", "ErrorHandler", "Exposure", "Exterior", "Format",
    "FrameAspectRatio", "FrameBegin", "FrameEnd", "GeneralPolygon", "GeometricApproximation",
    "Geometry", "Hider", "Hyperboloid", "Identity", "Illuminate", "Imager", "Interior",
    "LightSource", "MakeBump", "MakeCubeFaceEnvironment", "MakeLatLongEnvironment", "MakeShadow",
    "MakeTexture", "Matte", "MotionBegin", "MotionEnd", "NuPatch", "ObjectBegin", "ObjectEnd",
    "ObjectInstance", "Opacity", "Option", "Orientation", "Paraboloid", "Patch", "PatchMesh",
    "Perspective", "PixelFilter", "PixelSamples", "PixelVariance", "PointsGeneralPolygons",
    "PointsPolygons", "Polygon", "Projection", "Quantize", "RelativeDetail", "ReverseOrientation",
    "Rotate", "Scale", "ScreenWindow", "ShadingInterpolation", "ShadingRate", "Shutter", "Sides",
    "Skew", "SolidBegin", "SolidEnd", "Sphere", "Surface", "TextureCoordinates", "Torus",
    "Transform", "TransformBegin", "TransformEnd", "Translate", "TrimCurve", "WorldBegin",
    "WorldEnd", "CoordSysTransform", "ReadArchive", "SubdivisionMesh", "Curves", "Points",
    "version", "Blobby", "Procedural", "ClippingPlane", "ArchiveBegin", "ArchiveEnd", "IfBegin",
    "ElseIf", "Else", "IfEnd", "ScopedCoordinateSystem", "ProcDynamicLoad", "ProcRunProgram",
    "NuCurves", "DisplayChannel", "Resource", "ResourceBegin", "ResourceEnd", "MakeBrickMap",
    "HierarchicalSubdivisionMesh", "MultiplyShadingRate", "Shader", "Camera", "EditBegin",
    "EditEnd", "EditWorldBegin", "EditWorldEnd", "Create", "Delete", "SetAttribute",
    "SetAttributeAtTime", "DeleteAttribute", "Connect", "Disconnect", "Evaluate", "RenderControl",
};

TEST(RibTokenTest, EveryKeywordScansToItsCodeInOrder) {
  std::string stream;
  std::vector<std::string> expected;
  int code = 261;
  for (const char* keyword : kKeywords) {
    if (code == 362) ++code;
    stream += std::string(keyword) + "\n";
    expected.push_back(std::to_string(code++));
  }
  EXPECT_EQ(code, 393);
  EXPECT_EQ(Scan(stream), expected);
}

TEST(RibTokenTest, NamedCodes) {
  EXPECT_EQ(RibToken::AttributeBegin, 264);
  EXPECT_EQ(RibToken::Sphere, 340);
  EXPECT_EQ(RibToken::WorldEnd, 350);
  EXPECT_EQ(RibToken::version, 356);
  EXPECT_EQ(RibToken::ArchiveEnd, 361);
  EXPECT_EQ(RibToken::IfBegin, 363);
  EXPECT_EQ(RibToken::SetAttribute, 386);
  EXPECT_EQ(RibToken::SetAttributeAtTime, 387);
  EXPECT_EQ(RibToken::Evaluate, 391);
  EXPECT_EQ(RibToken::RenderControl, 392);
}

TEST(RibTokenTest, RequestRange) {
  EXPECT_FALSE(RibToken::IsRequest(260));
  EXPECT_TRUE(RibToken::IsRequest(261));
  EXPECT_TRUE(RibToken::IsRequest(362));
  EXPECT_TRUE(RibToken::IsRequest(392));
  EXPECT_FALSE(RibToken::IsRequest(393));
  EXPECT_FALSE(RibToken::IsRequest(RibToken::End));
}

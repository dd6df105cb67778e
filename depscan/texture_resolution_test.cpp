#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tracker_test_support.h"

namespace {

std::string TextureRequest(const std::string& path) {
  return "SetAttribute \"node\" \"texturename\" \"string\" 1 \"" + path + "\"\n";
}

std::string OutputRequest(const std::string& path) {
  return "SetAttribute \"node\" \"imagefilename\" \"string\" 1 \"" + path + "\"\n";
}

}  // namespace

TEST(HasTextureExtension, ComparesTheTextAfterTheLastDotExactly) {
  struct Case {
    const char* value;
    bool expected;
  } cases[] = {
      {"/a/b.zpt", true},  {"/a/b.tif", true},    {"/a/b.tiff", true},  {"/a/b.exr", true},
      {"/a/b.jpg", true},  {"/a/b.jpeg", true},   {"/a/b.png", true},   {"/a/b.x.png", true},
      {"/a/b.TIF", false}, {"/a/b.tx", false},    {"/a/b", false},      {"/a.tif/b", false},
      {"/a/b.", false},    {"/a/b.tif ", false},  {"", false},          {"/a/b.png.gz", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, HasTextureExtension(c.value)) << c.value;
  }
}

using TextureResolutionTest = TrackerTest;

TEST_F(TextureResolutionTest, IsTiffFileAcceptsTheEightHeaders) {
  struct Case {
    std::string bytes;
    bool expected;
  } cases[] = {
      {std::string("II*\0", 4), true},         {std::string("II+\0", 4), true},
      {std::string("MM\0*", 4), true},         {std::string("MM\0+", 4), true},
      {std::string("\0*II", 4), true},         {std::string("\0+II", 4), true},
      {std::string("*\0MM", 4), true},         {std::string("+\0MM", 4), true},
      {std::string("II*\0\x08\0\0\0", 8), true}, {std::string("II*", 3), false},
      {std::string("MM*\0", 4), false},        {std::string("\x89PNG\r\n", 6), false},
      {"", false},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "f" + std::to_string(n++);
    WriteFile(name, c.bytes);
    EXPECT_EQ(c.expected, IsTiffFile(Path(name).c_str())) << "case " << name;
  }
  EXPECT_FALSE(IsTiffFile(Path("missing").c_str()));
  MakeDirectory("dir");
  EXPECT_FALSE(IsTiffFile(Path("dir").c_str()));
}

TEST_F(TextureResolutionTest, OnlyTiffFilesAreFoundAndOnlyTextureNamesAreMissing) {
  WriteTiff("found.tif");
  WriteTiff("bigtiff.exr");
  WriteFile("bigtiff.tx", std::string("MM\0+\0\x08", 6));
  WriteFile("real.exr", "v/1\x01 not a tiff");
  WriteFile("short.tif", "II*");
  ASSERT_EQ(0, mkfifo(Path("pipe.tif").c_str(), 0600));  // exists, but gives no header
  auto tracker = Scan(TextureRequest(Path("pipe.tif")) +
                      TextureRequest(Path("found.tif")) + TextureRequest(Path("bigtiff.exr")) +
                      TextureRequest(Path("bigtiff.tx")) + TextureRequest(Path("real.exr")) +
                      TextureRequest(Path("short.tif")) + TextureRequest(Path("gone.exr")) +
                      TextureRequest(Path("gone.TIF")) + TextureRequest(Path("gone")) +
                      TextureRequest(Path("gone.tif/inside")) + TextureRequest(Path("gone.png")));
  EXPECT_EQ((Paths{Path("bigtiff.exr"), Path("bigtiff.tx"), Path("found.tif")}),
            Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("gone.exr"), Path("gone.png")}),
            Entries(*tracker, DependencyKind::MissingTexture));
  EXPECT_EQ(Path("found.tif"), Resolved(*tracker, Path("found.tif")));
  EXPECT_EQ("", Resolved(*tracker, Path("real.exr")));
}

TEST_F(TextureResolutionTest, UdimPatternsFindTheirTiles) {
  WriteTiff("tex/wood.1001.tif");
  WriteTiff("tex/wood.1005.tif");
  WriteFile("tex/wood.1003.tif", "not a tiff");
  WriteTiff("tex/wood.0999.tif");
  WriteTiff("tex/wood.2000.tif");
  // Only the first marker is replaced, also in a directory name.
  WriteTiff("1002/UDIM.tif");
  auto tracker = Scan(TextureRequest(Path("tex/wood.UDIM.tif")) +
                      TextureRequest(Path("UDIM/UDIM.tif")) +
                      TextureRequest(Path("tex/none.UDIM.tif")));
  EXPECT_EQ((Paths{Path("1002/UDIM.tif"), Path("tex/wood.1001.tif"), Path("tex/wood.1005.tif")}),
            Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ(Path("tex/wood.1005.tif"), Resolved(*tracker, Path("tex/wood.UDIM.tif")));
  EXPECT_EQ(Path("1002/UDIM.tif"), Resolved(*tracker, Path("UDIM/UDIM.tif")));
  // A pattern without tiles is neither found nor missing.
  EXPECT_EQ(Paths{}, Entries(*tracker, DependencyKind::MissingTexture));
}

TEST_F(TextureResolutionTest, ATileAlreadyFoundKeepsItsFirstName) {
  WriteTiff("tex/a.1001.tif");
  WriteTiff("tex/a.1002.tif");
  auto tracker = Scan(TextureRequest(Path("tex/a.1002.tif")) +
                      TextureRequest(Path("tex/a.UDIM.tif")));
  EXPECT_EQ(Path("tex/a.1001.tif"), Resolved(*tracker, Path("tex/a.UDIM.tif")));
  EXPECT_EQ(Path("tex/a.1002.tif"), Resolved(*tracker, Path("tex/a.1002.tif")));
}

TEST_F(TextureResolutionTest, AnImageNamedAsOutputFirstIsNoTexture) {
  WriteTiff("before.tif");
  WriteTiff("after.tif");
  std::string stream = TextureRequest(Path("before.tif")) + OutputRequest(Path("before.tif")) +
                       OutputRequest(Path("after.tif")) + TextureRequest(Path("after.tif")) +
                       OutputRequest(Path("gone.tif")) + TextureRequest(Path("gone.tif"));
  auto tracker = Scan(stream);
  EXPECT_EQ((Paths{Path("after.tif"), Path("before.tif"), Path("gone.tif")}),
            Entries(*tracker, DependencyKind::Output));
  EXPECT_EQ((Paths{Path("before.tif")}), Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ(Paths{}, Entries(*tracker, DependencyKind::MissingTexture));

  // Without output images in the mask, what the stream writes is a texture.
  auto texturesOnly = Scan(stream, DependencyKind::Texture, "again.rib");
  EXPECT_EQ(Paths{}, Entries(*texturesOnly, DependencyKind::Output));
  EXPECT_EQ((Paths{Path("after.tif"), Path("before.tif")}),
            Entries(*texturesOnly, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("gone.tif")}), Entries(*texturesOnly, DependencyKind::MissingTexture));

  // And without textures in it, no texture is looked for.
  auto outputsOnly = Scan(stream, DependencyKind::Output, "third.rib");
  EXPECT_EQ(Paths{}, Entries(*outputsOnly, DependencyKind::Texture));
  EXPECT_EQ(Paths{}, Entries(*outputsOnly, DependencyKind::MissingTexture));
  EXPECT_EQ((Paths{Path("after.tif"), Path("before.tif"), Path("gone.tif")}),
            Entries(*outputsOnly, DependencyKind::Output));
}

TEST_F(TextureResolutionTest, RepeatedValuesAndMissingDirectoriesClassifyAsTheFirstTime) {
  WriteTiff("look");
  WriteFile("look.oso", "");
  WriteTiff("feel");
  WriteFile("feel.oso", "");
  WriteFile("plain.exr", "not a tiff");
  auto shader = [](const std::string& path) {
    return "SetAttribute \"n\" \"shaderfilename\" \"string\" 1 \"" + path + "\"\n";
  };
  // One text as a shader and as a texture, in either order, is classified
  // as each; names below a missing directory are missing like any other.
  std::string once = shader(Path("look")) + TextureRequest(Path("look")) +
                     TextureRequest(Path("feel")) + shader(Path("feel")) +
                     TextureRequest(Path("plain.exr")) + TextureRequest(Path("gone/a.tif")) +
                     TextureRequest(Path("gone/b/c.png"));
  auto tracker = Scan(once + once);
  EXPECT_EQ((Paths{Path("feel.oso"), Path("look.oso")}),
            Entries(*tracker, DependencyKind::Shader));
  EXPECT_EQ((Paths{Path("feel"), Path("look")}), Entries(*tracker, DependencyKind::Texture));
  EXPECT_EQ((Paths{Path("gone/a.tif"), Path("gone/b/c.png")}),
            Entries(*tracker, DependencyKind::MissingTexture));
  EXPECT_EQ(Path("look"), Resolved(*tracker, Path("look")));
}

#include "package_copy.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <regex>

#include "file_utils.h"
#include "package_folder.h"
#include "packaging_test_support.h"

namespace {

// A grey TIFF of the given size, with the texture-format tag when asked.
std::string WriteTiff(const std::string& path, uint32_t width, uint32_t height,
                      const char* textureFormat = nullptr) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  EXPECT_NE(tif, nullptr) << path;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  if (textureFormat) TIFFSetField(tif, TIFFTAG_PIXAR_TEXTUREFORMAT, textureFormat);
  std::vector<unsigned char> row(width, 128);
  for (uint32_t y = 0; y < height; ++y) TIFFWriteScanline(tif, row.data(), y, 0);
  TIFFClose(tif);
  return path;
}

uint32_t TiffWidth(const std::string& path) {
  uint32_t width = 0;
  if (TIFF* tif = TIFFOpen(path.c_str(), "r")) {
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFClose(tif);
  }
  return width;
}

class PackageCopy : public PackagedNamesTest {
 protected:
  PackageCopy()
      : path_("PATH", PathWith({StandinDir("vornex"), StandinDir("texmeld")}).c_str()),
        log_("TEXMELD_LOG", (dir_ / "texmeld.log").c_str()),
        fail_("TEXMELD_FAIL", nullptr) {
    // As tracwell does: libtiff stays silent about files it cannot read.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    package_ = dir_.MakeDir("pkg");
    for (const char* sub : {"sh", "tex", "proc", "nested"}) dir_.MakeDir(sub);
    tracker_ = EmptyTracker(dir_ / "shot.rib");
  }

  std::string Add(DependencySet& table, const std::string& path) {
    Record(table, path);
    Resolve(*tracker_, path, path);
    return path;
  }

  // Names the package contents, then runs the copy loop with these options.
  void Copy(std::vector<std::string> words) {
    words.insert(words.begin(), {"-package", package_});
    TestOptions options(words);
    NamePackageContents({tracker_.get()}, TestOptions({"-package", package_}).operator*());
    IndexPackageSources();
    // As BuildPackage does, so that the copies run side by side.
    ASSERT_TRUE(OpenRunPackage(*options));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    CopyTrackerFiles(*tracker_, *options, produced_);
    CloseRunPackage();
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
  }

  std::string Packaged(const std::string& name) { return ZpReadWholeFile(package_ + "/" + name); }

  ZpTestDir dir_;
  ZpScopedEnv path_, log_, fail_;
  std::string package_;
  std::unique_ptr<DependencyTracker> tracker_;
  ZpHashTable produced_{32, 0.75f};
  std::string out_, err_;
};

TEST_F(PackageCopy, CopiesEveryKindInOrderAndReportsWhatIsMissing) {
  std::string shader = Add(tracker_->shaders, dir_.WriteFile("sh/plastic.oso", "shader"));
  std::string texture = Add(tracker_->textures, WriteTiff(dir_ / "tex/wood.tx", 4, 4));
  std::string rendered = Add(tracker_->textures, WriteTiff(dir_ / "tex/rendered.tx", 4, 4));
  std::string procedural = Add(tracker_->procedurals, dir_.WriteFile("proc/hair.so", "elf"));
  std::string nested = Add(tracker_->streams,
                           dir_.WriteFile("nested/part.rib", "Surface \"" + texture + "\"\n"));
  Record(tracker_->textures, "bare.tx");  // no separator: never copied
  Record(tracker_->missingShaders, "/gone/metal.oso");
  Record(tracker_->missingTextures, "/gone/rust.tx");
  Record(tracker_->missingTextures, "/elsewhere/made.tx");
  Record(tracker_->missingStreams, "/gone/set.rib");
  Record(tracker_->missingProcedurals, "/gone/fur");
  Record(produced_, "made.tx");      // rendered by another stream of the package
  Record(produced_, "rendered.tx");

  Copy({"-verbose"});
  EXPECT_EQ(out_, "\n#Copying the following files:\n\n" + shader + "\n" + texture + "\n" +
                      nested + "\n" + procedural + "\n");
  EXPECT_EQ(err_,
            "\n#Unresolved resource: '/gone/metal.oso' \n\n"
            "\n#Unresolved resource: '/gone/rust.tx' \n\n"
            "\n#Unresolved resource: '/gone/set.rib' \n\n"
            "\n#Unresolved resource: '/gone/fur' \n\n");
  EXPECT_EQ(Packaged("plastic.oso"), "shader");
  EXPECT_EQ(Packaged("wood.tx"), ZpReadWholeFile(texture));
  EXPECT_EQ(Packaged("hair.so"), "elf");
  EXPECT_FALSE(ZpFileExists((package_ + "/rendered.tx").c_str()));
  // Nested streams are rewritten after the copies, without verbose notes.
  EXPECT_EQ(Packaged("part.rib"), "Surface \"${VRXDIR}/wood.tx\"\n");
}

TEST_F(PackageCopy, TheKindMaskLimitsWhatIsCopiedAndReported) {
  Add(tracker_->shaders, dir_.WriteFile("sh/plastic.oso", "shader"));
  std::string texture = Add(tracker_->textures, WriteTiff(dir_ / "tex/wood.tx", 4, 4));
  Add(tracker_->streams, dir_.WriteFile("nested/part.rib", "Surface \"x\"\n"));
  Record(tracker_->missingShaders, "/gone/metal.oso");
  Record(tracker_->missingTextures, "/gone/rust.tx");
  Copy({"-textures"});
  EXPECT_EQ(err_, "\n#Unresolved resource: '/gone/rust.tx' \n\n");
  EXPECT_EQ(Packaged("wood.tx"), ZpReadWholeFile(texture));
  EXPECT_FALSE(ZpFileExists((package_ + "/plastic.oso").c_str()));
  EXPECT_FALSE(ZpFileExists((package_ + "/part.rib").c_str()));
}

TEST_F(PackageCopy, ScaleShrinksPlainTiffTexturesOnlyAndSilently) {
  std::string plain = Add(tracker_->textures, WriteTiff(dir_ / "tex/plain.tif", 8, 8));
  std::string cube = Add(tracker_->textures,
                         WriteTiff(dir_ / "tex/cube.tif", 8, 8, "CubeFace Environment"));
  std::string latlong = Add(tracker_->textures,
                            WriteTiff(dir_ / "tex/latlong.tif", 8, 8, "LatLong Environment"));
  std::string fake = Add(tracker_->textures, dir_.WriteFile("tex/fake.tif", "II*\0garbage"));
  Copy({"-verbose", "-scale", "0.5"});
  EXPECT_EQ(out_, "\n#Copying the following files:\n\n");
  EXPECT_EQ(err_, "");
  // texmeld writes a temporary file of the package folder (reached through
  // the descriptor the run holds), which takes the texture's name when whole.
  const std::string target = "(/proc/[0-9]+/fd/[0-9]+|" + package_ +
                             ")/[.]tracwell-[0-9]+-[0-9]+[.]part[.]tif\n--\n";
  // The textures are shrunk side by side: the runs may come in any order.
  std::string run = "-nomipmap\n-scale\n0[.]5\n";
  std::string latlongRun = run + latlong + "\n" + target, plainRun = run + plain + "\n" + target;
  EXPECT_TRUE(std::regex_match(ZpReadWholeFile(dir_ / "texmeld.log"),
                               std::regex(latlongRun + plainRun + "|" + plainRun + latlongRun)))
      << ZpReadWholeFile(dir_ / "texmeld.log");
  EXPECT_EQ(TiffWidth(package_ + "/plain.tif"), 4u);
  EXPECT_EQ(TiffWidth(package_ + "/latlong.tif"), 4u);
  EXPECT_EQ(Packaged("cube.tif"), ZpReadWholeFile(cube));
  EXPECT_EQ(Packaged("fake.tif"), ZpReadWholeFile(fake));
}

TEST_F(PackageCopy, AFailedTexmeldFallsBackToACopyEvenOverAnOldResult) {
  ZpScopedEnv fail("TEXMELD_FAIL", "1");
  std::string texture = Add(tracker_->textures, WriteTiff(dir_ / "tex/wood.tif", 8, 8));
  dir_.WriteFile("pkg/wood.tif", "left from an earlier run");
  Copy({"-scale", "0.25"});
  EXPECT_EQ(Packaged("wood.tif"), ZpReadWholeFile(texture));
}

TEST_F(PackageCopy, ATexmeldThatFailsHalfwayLeavesTheFullTexture) {
  std::string fake = dir_.MakeDir("fake");
  dir_.WriteFile("fake/texmeld", "#!/bin/sh\nprintf 'II*' > \"$5\"\nexit 1\n");
  chmod((fake + "/texmeld").c_str(), 0755);
  ZpScopedEnv path("PATH", PathWith({fake}).c_str());
  std::string texture = Add(tracker_->textures, WriteTiff(dir_ / "tex/wood.tif", 8, 8));
  Copy({"-scale", "0.5"});
  EXPECT_EQ(Packaged("wood.tif"), ZpReadWholeFile(texture));
}

// A folder where a texture's copy should go: the copy fails and says so,
// shrunk or not.
TEST_F(PackageCopy, AFolderInATexturesPlaceIsReportedWithOrWithoutScale) {
  std::string texture = Add(tracker_->textures, WriteTiff(dir_ / "tex/wood.tif", 8, 8));
  dir_.MakeDir("pkg/wood.tif");
  for (std::vector<std::string> words : {std::vector<std::string>{},
                                         std::vector<std::string>{"-scale", "0.5"}}) {
    Copy(words);
    EXPECT_EQ(err_, "\n#Could not copy '" + texture + "' as '" + package_ + "/wood.tif'\n\n");
  }
}

TEST_F(PackageCopy, ATextureIsNeverRescaledOverItself) {
  std::string texture = Add(tracker_->textures, WriteTiff(package_ + "/wood.tif", 8, 8));
  std::string before = ZpReadWholeFile(texture);
  Copy({"-scale", "0.5"});
  EXPECT_EQ(err_, "\n#Not writing '" + texture + "' as '" + texture +
                      "': they are the same file\n\n");
  EXPECT_EQ(ZpReadWholeFile(texture), before);
  EXPECT_EQ(ZpReadWholeFile(dir_ / "texmeld.log"), "");
}

// Packaging into the folder a texture lies in: another texture renamed onto
// that texture's name must not overwrite it, copied or shrunk.
TEST_F(PackageCopy, ACopyNeverOverwritesAnotherSourceOfThePackage) {
  std::string outside = Add(tracker_->textures, WriteTiff(dir_ / "nested/wood.tif", 8, 8));
  std::string inside = Add(tracker_->textures, WriteTiff(package_ + "/wood.tif", 6, 6));
  std::string before = ZpReadWholeFile(inside);
  for (std::vector<std::string> words : {std::vector<std::string>{},
                                         std::vector<std::string>{"-scale", "0.5"}}) {
    Copy(words);
    EXPECT_EQ(err_, "\n#Not writing '" + outside + "' as '" + inside +
                        "': that would overwrite '" + inside + "'\n\n");
    EXPECT_EQ(ZpReadWholeFile(inside), before);
    EXPECT_EQ(TiffWidth(package_ + "/wood_1.tif"), words.empty() ? 6u : 3u);
  }
}

}  // namespace

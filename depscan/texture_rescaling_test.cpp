#include "texture_rescaling.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <set>
#include <string>

#include "packaging_test_support.h"

namespace {

class TextureRescaling : public ::testing::Test {
 protected:
  TextureRescaling() {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    bin_ = dir_.MakeDir("bin");
    dir_.MakeDir("pkg");
    std::string error;
    package_ = PackageDirectory::OpenPackage(dir_ / "pkg", &error);
    EXPECT_NE(package_, nullptr) << error;
    source_ = dir_ / "wood.tif";
    TIFF* tif = TIFFOpen(source_.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    unsigned char row[4] = {1, 2, 3, 4};
    TIFFWriteScanline(tif, row, 0, 0);
    TIFFClose(tif);
  }

  // A texmeld of the test's own: the shell text runs with the destination
  // in $5, and the package folder in $PKG.
  void Texmeld(const std::string& body) {
    dir_.WriteFile("bin/texmeld", "#!/bin/sh\nPKG='" + (dir_ / "pkg") + "'\n" + body);
    chmod((bin_ + "/texmeld").c_str(), 0755);
  }

  CopyResult Rescale(std::string* error) {
    ZpScopedEnv path("PATH", PathWith({bin_}).c_str());
    return RescaleIntoPackage(source_, *package_, "wood.tif", 0.5f, error);
  }

  ZpTestDir dir_;
  std::string bin_, source_;
  std::unique_ptr<PackageDirectory> package_;
};

// texmeld writes a temporary file beside the final name, which keeps what it
// held (an earlier run's texture) until texmeld has finished.
TEST_F(TextureRescaling, TexmeldWritesATemporaryFileThatTakesTheNameWhenDone) {
  dir_.WriteFile("pkg/wood.tif", "earlier");
  Texmeld("cat \"$PKG/wood.tif\" > \"$PKG/seen\"\nprintf shrunk > \"$5\"\n"
          "echo \"$5\" > \"$PKG/destination\"\n");
  std::string error;
  EXPECT_EQ(Rescale(&error), CopyResult::kCopied) << error;
  EXPECT_EQ(ZpReadWholeFile(dir_ / "pkg/seen"), "earlier");
  EXPECT_EQ(ZpReadWholeFile(dir_ / "pkg/wood.tif"), "shrunk");
  std::string destination = ZpReadWholeFile(dir_ / "pkg/destination");
  EXPECT_NE(destination.find("/.tracwell-"), std::string::npos) << destination;
  EXPECT_EQ(destination.substr(destination.size() - 10), ".part.tif\n") << destination;
  EXPECT_EQ(FolderNames(dir_ / "pkg"), (std::set<std::string>{"destination", "seen", "wood.tif"}));
}

// Whatever texmeld leaves when it fails, exits 0 without writing, or is
// killed, the package gets the full-size texture and nothing else.
TEST_F(TextureRescaling, AnyTexmeldFailureLeavesTheFullSizeTexture) {
  for (const char* body : {"printf half > \"$5\"\nexit 1\n", "exit 0\n",
                           "printf half > \"$5\"\nkill -KILL $$\n",
                           "rm \"$5\"\nln -s /etc/passwd \"$5\"\n"}) {
    dir_.WriteFile("pkg/wood.tif", "earlier");
    Texmeld(body);
    std::string error;
    EXPECT_EQ(Rescale(&error), CopyResult::kCopied) << body << error;
    EXPECT_EQ(ZpReadWholeFile(dir_ / "pkg/wood.tif"), ZpReadWholeFile(source_)) << body;
    EXPECT_EQ(FolderNames(dir_ / "pkg"), std::set<std::string>{"wood.tif"}) << body;
  }
}

// A FIFO in a texture's place is refused before libtiff or texmeld could
// wait for a writer; what is no TIFF file is copied without texmeld.
TEST_F(TextureRescaling, OnlyRegularTiffFilesReachTexmeld) {
  Texmeld("echo ran >> \"$PKG/../ran\"\nprintf shrunk > \"$5\"\n");
  ASSERT_EQ(unlink(source_.c_str()), 0);
  ASSERT_EQ(mkfifo(source_.c_str(), 0600), 0);
  std::string error;
  EXPECT_EQ(Rescale(&error), CopyResult::kNotRegular);
  EXPECT_EQ(error, "not a regular file");
  ASSERT_EQ(unlink(source_.c_str()), 0);
  dir_.WriteFile("wood.tif", "II*\0 not really a TIFF");
  EXPECT_EQ(Rescale(&error), CopyResult::kCopied) << error;
  EXPECT_EQ(ZpReadWholeFile(dir_ / "pkg/wood.tif"), ZpReadWholeFile(source_));
  EXPECT_EQ(ZpReadWholeFile(dir_ / "ran"), "");
  EXPECT_EQ(FolderNames(dir_ / "pkg"), std::set<std::string>{"wood.tif"});
}

}  // namespace

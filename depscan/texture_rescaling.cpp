#include "texture_rescaling.h"

#include <sys/stat.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "package_jobs.h"
#include "process.h"
#include "stream_rewrite.h"

bool IsRescalableTiff(const std::string& path) {
  // libtiff would wait for a FIFO's writer, and read a device for ever.
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  TIFF* tif = TIFFOpen(path.c_str(), "rm");
  if (!tif) return false;
  const char* format = nullptr;
  bool cubeFace = TIFFGetField(tif, TIFFTAG_PIXAR_TEXTUREFORMAT, &format) == 1 && format &&
                  std::strcmp(format, "CubeFace Environment") == 0;
  TIFFClose(tif);
  return !cubeFace;
}

namespace {

// Runs texmeld into a temporary file of the folder; true when it committed.
bool Shrink(const std::string& source, const PackageDirectory& folder, const std::string& name,
            float scale) {
  std::string unused;
  std::unique_ptr<PackageFile> file = PackageFile::Create(folder, name, &unused);
  if (!file) return false;
  char factor[32];
  std::snprintf(factor, sizeof factor, "%g", double(scale));
  std::string destination = file->TemporaryPath();
  // A name that begins with "-" would reach texmeld as an option.
  std::string word = ProgramArgument(source);
  const char* args[] = {"-nomipmap", "-scale", factor, word.c_str(), destination.c_str(),
                        nullptr};
  // What texmeld says comes with the messages of its texture, also when
  // several run at once.
  std::string said;
  int status = ZpRunCommandCapturing("texmeld", args, &said);
  PackageWarningText(said);
  // A texmeld that fails may leave a partial image: the full-size texture is
  // better than a broken one.
  return status == 0 && file->HoldsContent() && file->Commit();
}

}  // namespace

CopyResult RescaleIntoPackage(const std::string& source, const PackageDirectory& folder,
                              const std::string& name, float scale, std::string* error) {
  if (IsRescalableTiff(source) && Shrink(source, folder, name, scale)) return CopyResult::kCopied;
  return CopyIntoPackage(source.c_str(), folder, name, error);
}

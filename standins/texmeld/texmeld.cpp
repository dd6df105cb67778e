// Stand-in for the renderer's texture tool, built for the tests only.
//
//   texmeld -nomipmap -scale F SRC DST
//
// Writes DST as SRC shrunk by F (nearest pixel, RGBA, 8 bits) when libtiff can
// read SRC, else as a byte copy of SRC. The packaging tests steer it through
// the environment:
//   TEXMELD_FAIL  when set and not empty: write nothing and exit 1.
//   TEXMELD_LOG   append the argument words, one per line, then "--".
#include <tiffio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Request {
  double scale = 1.0;
  std::string source;
  std::string destination;
};

void SilentHandler(const char*, const char*, va_list) {}

bool ParseArguments(int argc, char** argv, Request* request) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-nomipmap") == 0) continue;
    if (std::strcmp(argv[i], "-scale") == 0) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      request->scale = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || request->scale <= 0) return false;
      continue;
    }
    files.push_back(argv[i]);
  }
  if (files.size() != 2) return false;
  request->source = files[0];
  request->destination = files[1];
  return true;
}

void LogArguments(int argc, char** argv) {
  const char* log = std::getenv("TEXMELD_LOG");
  if (!log || !*log) return;
  FILE* out = std::fopen(log, "a");
  if (!out) return;
  for (int i = 1; i < argc; ++i) std::fprintf(out, "%s\n", argv[i]);
  std::fputs("--\n", out);
  std::fclose(out);
}

bool CopyBytes(const std::string& source, const std::string& destination) {
  FILE* in = std::fopen(source.c_str(), "rb");
  if (!in) return false;
  FILE* out = std::fopen(destination.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return false;
  }
  char buffer[65536];
  size_t n;
  bool ok = true;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
    ok = ok && std::fwrite(buffer, 1, n, out) == n;
  ok = ok && !std::ferror(in);
  std::fclose(in);
  return std::fclose(out) == 0 && ok;
}

bool ReadImage(const std::string& path, uint32_t* width, uint32_t* height,
               std::vector<uint32_t>* pixels) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return false;
  bool ok = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, width) == 1 &&
            TIFFGetField(tif, TIFFTAG_IMAGELENGTH, height) == 1 && *width > 0 &&
            *height > 0;
  if (ok) {
    pixels->assign(size_t(*width) * *height, 0);
    ok = TIFFReadRGBAImageOriented(tif, *width, *height, pixels->data(),
                                   ORIENTATION_TOPLEFT, 0) == 1;
  }
  TIFFClose(tif);
  return ok;
}

bool WriteImage(const std::string& path, uint32_t width, uint32_t height,
                const std::vector<uint32_t>& pixels) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  std::vector<uint8_t> row(size_t(width) * 4);
  bool ok = true;
  for (uint32_t y = 0; y < height && ok; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t p = pixels[size_t(y) * width + x];
      row[x * 4 + 0] = TIFFGetR(p);
      row[x * 4 + 1] = TIFFGetG(p);
      row[x * 4 + 2] = TIFFGetB(p);
      row[x * 4 + 3] = TIFFGetA(p);
    }
    ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
  }
  TIFFClose(tif);
  return ok;
}

uint32_t Scaled(uint32_t size, double scale) {
  double scaled = size * scale;
  return scaled < 1 ? 1 : uint32_t(scaled);
}

bool Shrink(const Request& request) {
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
  if (!ReadImage(request.source, &width, &height, &pixels))
    return CopyBytes(request.source, request.destination);
  uint32_t newWidth = Scaled(width, request.scale);
  uint32_t newHeight = Scaled(height, request.scale);
  std::vector<uint32_t> shrunk(size_t(newWidth) * newHeight);
  for (uint32_t y = 0; y < newHeight; ++y)
    for (uint32_t x = 0; x < newWidth; ++x)
      shrunk[size_t(y) * newWidth + x] =
          pixels[size_t(y * height / newHeight) * width + x * width / newWidth];
  return WriteImage(request.destination, newWidth, newHeight, shrunk);
}

}  // namespace

int main(int argc, char** argv) {
  TIFFSetErrorHandler(SilentHandler);
  TIFFSetWarningHandler(SilentHandler);
  LogArguments(argc, argv);
  Request request;
  if (!ParseArguments(argc, argv, &request)) {
    std::fputs("usage: texmeld -nomipmap -scale F SRC DST\n", stderr);
    return 2;
  }
  const char* fail = std::getenv("TEXMELD_FAIL");
  if (fail && *fail) {
    std::fputs("texmeld: failing as asked\n", stderr);
    return 1;
  }
  if (!Shrink(request)) {
    std::fprintf(stderr, "texmeld: cannot write '%s'\n", request.destination.c_str());
    return 1;
  }
  return 0;
}

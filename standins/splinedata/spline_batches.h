// Spline batches as the stand-in host stores them in a description's plug-in
// data and the stand-in XGen loads them: a small binary layout, native byte
// order, written with writeBatches and read back with readBatches.
#pragma once

#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace splinedata {

// One motion sample of a batch; V is the batch's vertex count.
struct Sample {
  std::vector<float> positions;        // 3 per vertex
  std::vector<float> widths;           // 1 per vertex
  std::vector<float> patchUVs;         // 2 per vertex
  std::vector<float> widthDirections;  // 3 per vertex
};

struct Batch {
  std::uint32_t primitiveCount = 0;
  std::uint32_t vertexCount = 0;
  std::uint32_t infoStride = 2;
  std::vector<std::uint32_t> infos;  // infoStride per curve: first vertex, count, ...
  std::vector<Sample> samples;
};

namespace detail {

inline void put32(std::ostream& out, std::uint32_t v) {
  out.write(reinterpret_cast<const char*>(&v), sizeof v);
}

// Every array is written with its length so that a reader never trusts counts.
template <typename T>
void putArray(std::ostream& out, const std::vector<T>& values) {
  put32(out, static_cast<std::uint32_t>(values.size()));
  out.write(reinterpret_cast<const char*>(values.data()),
            static_cast<std::streamsize>(values.size() * sizeof(T)));
}

class Reader {
 public:
  Reader(std::istream& in, std::size_t size) : bytes_(size, '\0') {
    in.read(&bytes_[0], static_cast<std::streamsize>(size));
    ok_ = static_cast<std::size_t>(in.gcount()) == size;
  }
  bool ok() const { return ok_; }
  bool get32(std::uint32_t& v) { return take(&v, sizeof v); }
  template <typename T>
  bool getArray(std::vector<T>& values) {
    std::uint32_t n = 0;
    if (!get32(n) || n > (bytes_.size() - pos_) / sizeof(T)) return ok_ = false;
    values.resize(n);
    return take(values.data(), n * sizeof(T));
  }
  bool atEnd() const { return pos_ == bytes_.size(); }

 private:
  bool take(void* out, std::size_t n) {
    if (!ok_ || bytes_.size() - pos_ < n) return ok_ = false;
    if (n) std::memcpy(out, bytes_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  std::string bytes_;
  std::size_t pos_ = 0;
  bool ok_ = false;
};

}  // namespace detail

inline constexpr char kMagic[4] = {'X', 'G', 'S', 'P'};

inline void writeBatches(std::ostream& out, const std::vector<Batch>& batches) {
  out.write(kMagic, sizeof kMagic);
  detail::put32(out, static_cast<std::uint32_t>(batches.size()));
  for (const Batch& b : batches) {
    detail::put32(out, b.primitiveCount);
    detail::put32(out, b.vertexCount);
    detail::put32(out, b.infoStride);
    detail::putArray(out, b.infos);
    detail::put32(out, static_cast<std::uint32_t>(b.samples.size()));
    for (const Sample& s : b.samples) {
      detail::putArray(out, s.positions);
      detail::putArray(out, s.widths);
      detail::putArray(out, s.patchUVs);
      detail::putArray(out, s.widthDirections);
    }
  }
}

// Reads exactly size bytes; false when they do not hold whole batches.
inline bool readBatches(std::istream& in, std::size_t size, std::vector<Batch>& batches) {
  detail::Reader r(in, size);
  std::uint32_t magic = 0;
  std::uint32_t count = 0;
  if (!r.get32(magic) || std::memcmp(&magic, kMagic, sizeof magic) != 0 || !r.get32(count))
    return false;
  batches.clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    Batch b;
    std::uint32_t samples = 0;
    if (!r.get32(b.primitiveCount) || !r.get32(b.vertexCount) || !r.get32(b.infoStride) ||
        !r.getArray(b.infos) || !r.get32(samples))
      return false;
    for (std::uint32_t k = 0; k < samples; ++k) {
      Sample s;
      if (!r.getArray(s.positions) || !r.getArray(s.widths) || !r.getArray(s.patchUVs) ||
          !r.getArray(s.widthDirections))
        return false;
      b.samples.push_back(std::move(s));
    }
    batches.push_back(std::move(b));
  }
  return r.atEnd();
}

}  // namespace splinedata

#include "curve_batch.h"

#include <algorithm>
#include <cfloat>

namespace {

struct Curve {
  std::uint64_t first, count;
};

Curve curveAt(const BatchView& batch, std::uint32_t k) {
  const unsigned int* info = batch.infos + std::uint64_t(batch.stride) * k;
  return {info[0], info[1]};
}

void cross(const float* a, const float* b, float* out) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// Width direction crossed with the curve's segment at vertex j (the last
// vertex uses the segment before it). A single vertex has no segment; its
// normal is the zero vector, so nothing outside the curve is read.
void vertexNormal(const BatchView& batch, const Curve& curve, std::uint64_t j, float* out) {
  if (curve.count < 2) {
    out[0] = out[1] = out[2] = 0.0f;
    return;
  }
  std::uint64_t m = curve.first + (j + 1 < curve.count ? j : j - 1);
  const float* p = batch.positions + 3 * m;
  const float segment[3] = {p[3] - p[0], p[4] - p[1], p[5] - p[2]};
  cross(batch.widthDirections + 3 * (curve.first + j), segment, out);
}

}  // namespace

bool CurveTableFits(const BatchView& batch, bool withNormals) {
  if (batch.curves == 0) return true;
  if (!batch.infos || batch.stride < 2) return false;
  if (batch.vertices > 0 &&
      (!batch.positions || !batch.widths || !batch.patchUVs ||
       (withNormals && !batch.widthDirections)))
    return false;
  std::uint64_t total = 0;
  for (std::uint32_t k = 0; k < batch.curves; ++k) {
    Curve c = curveAt(batch, k);
    if (c.count > 0 && c.first + c.count > batch.vertices) return false;
    total += c.count;
  }
  return total <= batch.vertices;
}

void FillCurves(const BatchView& batch, std::uint32_t* nvertices, float* P, float* width,
                float* N, float* st) {
  float minU = FLT_MAX, minV = FLT_MAX, maxU = -FLT_MAX, maxV = -FLT_MAX;
  std::uint64_t out = 0;
  for (std::uint32_t k = 0; k < batch.curves; ++k) {
    Curve c = curveAt(batch, k);
    nvertices[k] = static_cast<std::uint32_t>(c.count);
    // A curve without vertices whose first vertex lies past the batch has
    // no coordinates of its own: it gets (0, 0) and leaves the bounds alone.
    st[3 * k] = st[3 * k + 1] = 0.0f;
    if (c.first < batch.vertices) {
      float u = batch.patchUVs[2 * c.first], v = batch.patchUVs[2 * c.first + 1];
      st[3 * k] = u;
      st[3 * k + 1] = v;
      minU = std::min(minU, u);
      maxU = std::max(maxU, u);
      minV = std::min(minV, v);
      maxV = std::max(maxV, v);
    }
    for (std::uint64_t j = 0; j < c.count; ++j, ++out) {
      const float* p = batch.positions + 3 * (c.first + j);
      std::copy(p, p + 3, P + 3 * out);
      width[out] = batch.widths[c.first + j];
      if (N) vertexNormal(batch, c, j, N + 3 * out);
    }
  }
  if (batch.curves == 0) return;
  float area = std::max(0.0f, maxV - minV) * std::max(0.0f, maxU - minU) /
               static_cast<float>(batch.curves) * 0.5f;
  for (std::uint32_t k = 0; k < batch.curves; ++k) st[3 * k + 2] = area;
}

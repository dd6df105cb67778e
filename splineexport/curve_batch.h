// Turns one batch of splines, as XGen delivers it, into the arrays of a VRX
// "curves" node: vertex counts, points, widths, normals and per-curve
// texture coordinates with the batch's texture-space area.
#pragma once

#include <cstdint>

// One motion sample of a batch. infos holds stride values per curve: its
// first vertex and its vertex count come first. Per-vertex arrays: positions
// and widthDirections 3 floats, widths 1, patchUVs 2.
struct BatchView {
  std::uint32_t curves = 0;
  std::uint32_t vertices = 0;
  const unsigned int* infos = nullptr;
  unsigned int stride = 0;
  const float* positions = nullptr;
  const float* widths = nullptr;
  const float* patchUVs = nullptr;
  const float* widthDirections = nullptr;
};

// True when every curve's vertices lie inside the batch's arrays and all
// curves together fit its vertex count; widthDirections is only needed for
// normals. A batch that fails cannot be read safely.
bool CurveTableFits(const BatchView& batch, bool withNormals);

// Fills nvertices (one per curve), P (3 per vertex), width (1 per vertex),
// N (3 per vertex; skipped when null) and st (3 per curve) from a batch
// that CurveTableFits.
void FillCurves(const BatchView& batch, std::uint32_t* nvertices, float* P, float* width,
                float* N, float* st);

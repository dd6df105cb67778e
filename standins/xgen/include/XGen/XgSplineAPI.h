// Stand-in for the XGen spline interface: loads the serialised spline data
// of a description and iterates its batches. Per-vertex arrays are flat:
// positions and width directions 3 floats per vertex, patch UVs 2.
#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <vector>

namespace splinedata {
struct Batch;
}

namespace XGenSplineAPI {

class XgItSpline {
 public:
  bool isDone() const;
  void next();
  unsigned int primitiveCount() const;
  unsigned int vertexCount() const;
  // The curve table; null when it holds fewer than stride values per curve.
  const unsigned int* primitiveInfos() const;
  unsigned int primitiveInfoStride() const;
  // Arrays of motion sample `sample`; null when the batch has no such sample
  // or the array is shorter than the batch's vertex count asks.
  const float* positions(unsigned int sample) const;
  const float* width(unsigned int sample) const;
  const float* patchUVs(unsigned int sample) const;
  const float* widthDirection(unsigned int sample) const;

 private:
  friend class XgFnSpline;
  const splinedata::Batch* batch() const;
  std::shared_ptr<const std::vector<splinedata::Batch>> batches_;
  std::size_t index_ = 0;
};

class XgFnSpline {
 public:
  XgFnSpline();
  ~XgFnSpline();
  void setFps(float fps);
  // Reads size bytes of serialised spline data; false when they are not.
  bool load(std::istream& stream, std::size_t size, float frame);
  bool executeScript();
  XgItSpline iterator() const;

 private:
  std::shared_ptr<std::vector<splinedata::Batch>> batches_;
  float fps_ = 24.0f;
};

}  // namespace XGenSplineAPI

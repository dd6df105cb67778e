#include <XGen/XgSplineAPI.h>

#include "spline_batches.h"
#include "xgen_standin.h"

namespace {

xgenstandin::LoadRecord record;

const splinedata::Sample* sampleOf(const splinedata::Batch* batch, unsigned int sample) {
  return batch && sample < batch->samples.size() ? &batch->samples[sample] : nullptr;
}

const float* dataOf(const std::vector<float>* values) {
  return values && !values->empty() ? values->data() : nullptr;
}

}  // namespace

namespace xgenstandin {

const LoadRecord& lastLoad() { return record; }
void resetLoads() { record = LoadRecord(); }

}  // namespace xgenstandin

namespace XGenSplineAPI {

XgFnSpline::XgFnSpline() : batches_(std::make_shared<std::vector<splinedata::Batch>>()) {}
XgFnSpline::~XgFnSpline() = default;

void XgFnSpline::setFps(float fps) { fps_ = fps; }

bool XgFnSpline::load(std::istream& stream, std::size_t size, float frame) {
  ++record.loads;
  record.fps = fps_;
  record.frame = frame;
  record.size = size;
  record.scriptRun = false;
  record.loaded = splinedata::readBatches(stream, size, *batches_);
  if (!record.loaded) batches_->clear();
  return record.loaded;
}

bool XgFnSpline::executeScript() {
  record.scriptRun = true;
  return true;
}

XgItSpline XgFnSpline::iterator() const {
  XgItSpline it;
  it.batches_ = batches_;
  return it;
}

const splinedata::Batch* XgItSpline::batch() const {
  return batches_ && index_ < batches_->size() ? &(*batches_)[index_] : nullptr;
}

bool XgItSpline::isDone() const { return batch() == nullptr; }
void XgItSpline::next() { ++index_; }

unsigned int XgItSpline::primitiveCount() const { return batch() ? batch()->primitiveCount : 0; }
unsigned int XgItSpline::vertexCount() const { return batch() ? batch()->vertexCount : 0; }
unsigned int XgItSpline::primitiveInfoStride() const { return batch() ? batch()->infoStride : 0; }

const unsigned int* XgItSpline::primitiveInfos() const {
  return batch() && !batch()->infos.empty() ? batch()->infos.data() : nullptr;
}

const float* XgItSpline::positions(unsigned int sample) const {
  const auto* s = sampleOf(batch(), sample);
  return dataOf(s ? &s->positions : nullptr);
}

const float* XgItSpline::width(unsigned int sample) const {
  const auto* s = sampleOf(batch(), sample);
  return dataOf(s ? &s->widths : nullptr);
}

const float* XgItSpline::patchUVs(unsigned int sample) const {
  const auto* s = sampleOf(batch(), sample);
  return dataOf(s ? &s->patchUVs : nullptr);
}

const float* XgItSpline::widthDirection(unsigned int sample) const {
  const auto* s = sampleOf(batch(), sample);
  return dataOf(s ? &s->widthDirections : nullptr);
}

}  // namespace XGenSplineAPI

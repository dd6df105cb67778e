#include <XGen/XgSplineAPI.h>

#include "spline_batches.h"
#include "xgen_standin.h"

namespace {

xgenstandin::LoadRecord record;

const splinedata::Sample* sampleOf(const splinedata::Batch* batch, unsigned int sample) {
  return batch && sample < batch->samples.size() ? &batch->samples[sample] : nullptr;
}

// A sample's array only when it holds perVertex values for every vertex of
// the batch: the counts the iterator reports are then safe to read by.
const float* dataOf(const splinedata::Batch* batch, const std::vector<float>* values,
                    std::size_t perVertex) {
  if (!values || values->empty()) return nullptr;
  return values->size() >= perVertex * batch->vertexCount ? values->data() : nullptr;
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
  const auto* b = batch();
  if (!b || b->infos.empty()) return nullptr;
  std::size_t needed = std::size_t(b->infoStride) * b->primitiveCount;
  return b->infos.size() >= needed ? b->infos.data() : nullptr;
}

const float* XgItSpline::positions(unsigned int sample) const {
  const auto* s = sampleOf(batch(), sample);
  return dataOf(batch(), s ? &s->positions : nullptr, 3);
}

const float* XgItSpline::width(unsigned int sample) const {
  const auto* s = sampleOf(batch(), sample);
  return dataOf(batch(), s ? &s->widths : nullptr, 1);
}

const float* XgItSpline::patchUVs(unsigned int sample) const {
  const auto* s = sampleOf(batch(), sample);
  return dataOf(batch(), s ? &s->patchUVs : nullptr, 2);
}

const float* XgItSpline::widthDirection(unsigned int sample) const {
  const auto* s = sampleOf(batch(), sample);
  return dataOf(batch(), s ? &s->widthDirections : nullptr, 3);
}

}  // namespace XGenSplineAPI

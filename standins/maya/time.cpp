#include <maya/MTime.h>

namespace {

MTime::Unit uiUnitSetting = MTime::kFilm;

// Length of one unit in seconds; 0 for a value that names no unit.
double secondsPer(MTime::Unit unit) {
  switch (unit) {
    case MTime::kSeconds: return 1.0;
    case MTime::kFilm: return 1.0 / 24;
    case MTime::kNTSCFrame: return 1.0 / 30;
  }
  return 0.0;
}

}  // namespace

MTime::MTime(double value, Unit unit) : value_(value), unit_(unit) {}

double MTime::as(Unit unit) const {
  double per = secondsPer(unit);
  return per == 0.0 ? 0.0 : value_ * secondsPer(unit_) / per;
}

MTime::Unit MTime::uiUnit() { return uiUnitSetting; }

MStatus MTime::setUIUnit(Unit unit) {
  if (secondsPer(unit) == 0.0) return MStatus::kInvalidParameter;
  uiUnitSetting = unit;
  return MStatus::kSuccess;
}

#include <maya/MTime.h>

namespace {

MTime::Unit uiUnitSetting = MTime::kFilm;

// Length of one unit in seconds; 0 for kInvalid.
double secondsPer(MTime::Unit unit) {
  switch (unit) {
    case MTime::kHours: return 3600.0;
    case MTime::kMinutes: return 60.0;
    case MTime::kSeconds: return 1.0;
    case MTime::kMilliseconds: return 0.001;
    case MTime::kGames: return 1.0 / 15;
    case MTime::kFilm: return 1.0 / 24;
    case MTime::kPALFrame: return 1.0 / 25;
    case MTime::kNTSCFrame: return 1.0 / 30;
    case MTime::kShowScan: return 1.0 / 48;
    case MTime::kPALField: return 1.0 / 50;
    case MTime::kNTSCField: return 1.0 / 60;
    case MTime::kInvalid: break;
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

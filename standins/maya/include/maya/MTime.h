// Stand-in for the host's time class with its settable user-interface unit.
#pragma once

#include <maya/MStatus.h>

class MTime {
 public:
  enum Unit {
    kInvalid,
    kHours,
    kMinutes,
    kSeconds,
    kMilliseconds,
    kGames,      // 15 frames per second
    kFilm,       // 24
    kPALFrame,   // 25
    kNTSCFrame,  // 30
    kShowScan,   // 48
    kPALField,   // 50
    kNTSCField,  // 60
  };

  MTime() = default;
  MTime(double value, Unit unit = kFilm);

  double value() const { return value_; }
  Unit unit() const { return unit_; }
  // This time expressed in another unit; 0 for kInvalid.
  double as(Unit unit) const;

  static Unit uiUnit();
  static MStatus setUIUnit(Unit unit);

 private:
  double value_ = 0.0;
  Unit unit_ = kFilm;
};

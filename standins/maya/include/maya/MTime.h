// Stand-in for the host's time class with its settable user-interface unit.
#pragma once

#include <maya/MStatus.h>

class MTime {
 public:
  enum Unit {
    kSeconds,
    kFilm,       // 24 frames per second
    kNTSCFrame,  // 30
  };

  MTime() = default;
  MTime(double value, Unit unit = kFilm);

  double value() const { return value_; }
  Unit unit() const { return unit_; }
  // This time expressed in another unit.
  double as(Unit unit) const;

  static Unit uiUnit();
  static MStatus setUIUnit(Unit unit);

 private:
  double value_ = 0.0;
  Unit unit_ = kFilm;
};

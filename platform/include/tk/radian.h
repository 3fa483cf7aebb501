// An angle in radians, as a type so that degrees cannot be passed where radians are meant.
#ifndef TK_RADIAN_H
#define TK_RADIAN_H

class tkRadian {
 public:
  static constexpr double kPi = 3.14159265358979323846;

  constexpr tkRadian() = default;
  constexpr explicit tkRadian(double radians) : value_(radians) {}
  // The angle of `degrees` degrees.
  static constexpr tkRadian fromDegrees(double degrees) {
    return tkRadian(degrees * (kPi / 180.0));
  }

  constexpr double value() const { return value_; }
  constexpr double toDegrees() const { return value_ * (180.0 / kPi); }

  constexpr tkRadian operator+(tkRadian o) const { return tkRadian(value_ + o.value_); }
  constexpr tkRadian operator-(tkRadian o) const { return tkRadian(value_ - o.value_); }
  constexpr tkRadian operator-() const { return tkRadian(-value_); }
  constexpr tkRadian operator*(double s) const { return tkRadian(value_ * s); }
  constexpr bool operator==(tkRadian o) const { return value_ == o.value_; }
  constexpr bool operator!=(tkRadian o) const { return value_ != o.value_; }
  constexpr bool operator<(tkRadian o) const { return value_ < o.value_; }

 private:
  double value_ = 0.0;
};

#endif

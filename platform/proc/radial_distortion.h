// Internal: the steps of the radial distortion (position at Z = 1 -> distorted point), written
// once for one value (double) and for lanes of values (a vector of doubles of the GCC/Clang
// vector extension), so that ccal_lensDistortion_distort and the camera model's two-point
// projection compute the same bits.
//
// Under the radial model q = d + k·|d − c|²·(d − c); with e = q − c and r = |e| the distorted
// radius x solves x + k·x³ = r and d = c + e·(x/r) (d = c + e·x at r = 0).
#ifndef PROC_RADIAL_DISTORTION_H
#define PROC_RADIAL_DISTORTION_H

namespace ccal::detail {

// Up to this |u| = |k·r²| the root is the series below with one Halley step.
constexpr double kRadialWeakLimit = 0.02;

// The root x of x + k·x³ = r for u = k·r², |u| <= kRadialWeakLimit: five terms of the series of
// the inverse, x = r·(1 − u + 3u² − 12u³ + 55u⁴ − 273u⁵ …), are within 273·|u|⁵ <= 9e-7 of the
// root, and one Halley step cubes that error (times about |u|): below rounding, with one
// division.
template <typename T>
inline void radialWeakRoot(const T& k, const T& r, const T& u, T& x) {
  const T x0 = r * (1.0 - u * (1.0 - u * (3.0 - u * (12.0 - 55.0 * u))));
  const T kx2 = k * x0 * x0;
  const T f = x0 + kx2 * x0 - r;
  const T f1 = 1.0 + 3.0 * kx2;
  const T f2 = 6.0 * k * x0;
  x = x0 - 2.0 * f * f1 / (2.0 * f1 * f1 - f * f2);
}

// d = c + e·(x/rSafe) from e = q − c, the root x and rSafe = r, or 1 where r = 0.
template <typename T, typename C>
inline void radialDistortedPoint(const C& cx, const C& cy, const T& ex, const T& ey, const T& x,
                                 const T& rSafe, T& dx, T& dy) {
  dx = cx + ex * (x / rSafe);
  dy = cy + ey * (x / rSafe);
}

}  // namespace ccal::detail

#endif

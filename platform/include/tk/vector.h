// Fixed-size geometric vectors of doubles: tkVector<2> and tkVector<3>.
//
// A plain value type: copyable, no allocation, zero-initialised by default. Arithmetic is
// component-wise and reads like the formula; equality is exact (use tfRealEq for tolerances).
#ifndef TK_VECTOR_H
#define TK_VECTOR_H

#include <tk/exception.h>

#include <cmath>
#include <type_traits>

template <int N>
class tkVector {
  static_assert(N == 2 || N == 3, "tkVector exists for N = 2 and N = 3 only");

 public:
  // The zero vector.
  tkVector() : v_{} {}
  // From the components (x, y) for N = 2 and (x, y, z) for N = 3.
  template <int M = N, typename = std::enable_if_t<M == 2>>
  tkVector(double x, double y) : v_{x, y} {}
  template <int M = N, typename = std::enable_if_t<M == 3>>
  tkVector(double x, double y, double z) : v_{x, y, z} {}

  static constexpr int size() { return N; }

  double x() const { return v_[0]; }
  double y() const { return v_[1]; }
  // Only for N = 3.
  double z() const {
    static_assert(N == 3, "z() exists for tkVector<3> only");
    return v_[2];
  }

  // Component i; precondition 0 <= i < N (not checked).
  double operator[](int i) const { return v_[i]; }
  double& operator[](int i) { return v_[i]; }

  tkVector operator+(const tkVector& o) const {
    tkVector r;
    for (int i = 0; i < N; ++i)
      r.v_[i] = v_[i] + o.v_[i];
    return r;
  }
  tkVector operator-(const tkVector& o) const {
    tkVector r;
    for (int i = 0; i < N; ++i)
      r.v_[i] = v_[i] - o.v_[i];
    return r;
  }
  tkVector operator-() const {
    tkVector r;
    for (int i = 0; i < N; ++i)
      r.v_[i] = -v_[i];
    return r;
  }
  tkVector operator*(double s) const {
    tkVector r;
    for (int i = 0; i < N; ++i)
      r.v_[i] = v_[i] * s;
    return r;
  }
  // Division by s (no check: dividing by zero gives infinities as in plain arithmetic).
  tkVector operator/(double s) const {
    tkVector r;
    for (int i = 0; i < N; ++i)
      r.v_[i] = v_[i] / s;
    return r;
  }
  tkVector& operator+=(const tkVector& o) { return *this = *this + o; }
  tkVector& operator-=(const tkVector& o) { return *this = *this - o; }
  tkVector& operator*=(double s) { return *this = *this * s; }
  tkVector& operator/=(double s) { return *this = *this / s; }

  double dot(const tkVector& o) const {
    double s = 0.0;
    for (int i = 0; i < N; ++i)
      s += v_[i] * o.v_[i];
    return s;
  }
  // Right-handed cross product this × o; only for N = 3.
  tkVector cross(const tkVector& o) const {
    static_assert(N == 3, "cross() exists for tkVector<3> only");
    tkVector r;
    r.v_[0] = v_[1] * o.v_[2] - v_[2] * o.v_[1];
    r.v_[1] = v_[2] * o.v_[0] - v_[0] * o.v_[2];
    r.v_[2] = v_[0] * o.v_[1] - v_[1] * o.v_[0];
    return r;
  }
  // Euclidean length sqrt(dot(*this)).
  double length() const { return std::sqrt(dot(*this)); }
  // This vector divided by its length. Throws tkMathError::Singular for the zero vector and
  // for a vector whose length is not finite.
  tkVector unit() const {
    const double len = length();
    if (!(len > 0.0) || !std::isfinite(len))
      throw tkMathError::Singular();
    return *this / len;
  }

  // Exact component-wise comparison.
  bool operator==(const tkVector& o) const {
    for (int i = 0; i < N; ++i)
      if (v_[i] != o.v_[i])
        return false;
    return true;
  }
  bool operator!=(const tkVector& o) const { return !(*this == o); }

 private:
  double v_[N];
};

template <int N>
tkVector<N> operator*(double s, const tkVector<N>& v) {
  return v * s;
}

#endif

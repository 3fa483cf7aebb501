// Archive operators of the geometry values (<tk/archive.h> for the archive itself).
//
// Each value is its doubles in a fixed order, 8 bytes each, with no version byte:
//   tkVector<N>   x, y (, z)
//   tkXform<N>    the matrix row by row (element(0, 0), element(0, 1), ...), then the translation
//   tk1Xform      scale, offset
// Loading reads every double first and then replaces the value, so a value whose archive ends
// early (tkArchive::Corrupt) is left unchanged.
#ifndef TK_ARCHIVE_GEOMETRY_H
#define TK_ARCHIVE_GEOMETRY_H

#include <tk/archive.h>
#include <tk/matrix.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform1.h>

template <int N>
tkArchive& operator||(tkArchive& ar, tkVector<N>& value) {
  tkVector<N> moved = value;
  for (int i = 0; i < N; ++i)
    ar || moved[i];
  value = moved;
  return ar;
}

template <int N>
tkArchive& operator||(tkArchive& ar, tkXform<N>& value) {
  tkMatrix<N> matrix = value.matrix();
  tkVector<N> trans = value.trans();
  for (int r = 0; r < N; ++r)
    for (int c = 0; c < N; ++c) {
      double element = matrix.element(r, c);
      ar || element;
      matrix.element(r, c, element);
    }
  ar || trans;
  value = tkXform<N>(matrix, trans);
  return ar;
}

inline tkArchive& operator||(tkArchive& ar, tk1Xform& value) {
  double scale = value.scale();
  double offset = value.offset();
  ar || scale;
  ar || offset;
  value = tk1Xform(scale, offset);
  return ar;
}

#endif

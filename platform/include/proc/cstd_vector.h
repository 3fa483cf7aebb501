// Growable arrays of the procedural layer.
//
// A vector V of element type E is a plain struct in storage the caller owns:
//   E* elements (null while nothing was ever allocated), size_t size, size_t capacity.
// The fields are read-only for callers; use the functions. Elements are records (or doubles) and
// are owned by the vector: a vector of vectors owns its child vectors and releases them when it
// shrinks or is destructed. Element i stays at elements[i] until the next resize, constructCopy
// into or assign to the vector, or destruct.
//
// CSTD_DECLARE_VECTOR(V, E) declares the struct and this function family (all return
// CSTD_STATUS_BAD_ARGUMENT for a null pointer argument and then write nothing):
//
//   cstd_status V_construct(V* vector, size_t size);
//     Constructs a vector of size default elements (each element's own default value; 0.0 for
//     doubles, an empty vector for a vector element). On failure (CSTD_STATUS_OUT_OF_MEMORY) the
//     vector is still constructed, empty, and may be destructed.
//   cstd_status V_constructCopy(V* vector, const V* source);
//     Constructs a deep copy of source. On failure as V_construct.
//   cstd_status V_assign(V* vector, const V* source);
//     Replaces the contents with a deep copy of source. On failure the vector is unchanged.
//   cstd_status V_compareEqual(const V* a, const V* b, int32_t* equal);
//     *equal = 1 when both have the same size and equal elements (as the element's compareEqual).
//   cstd_status V_destruct(V* vector);
//     Releases the elements (last first) and the storage; the vector is then empty and must be
//     constructed again before reuse.
//   cstd_status V_resize(V* vector, size_t size);
//     Keeps the first min(old, new) elements; new elements get their default value, removed ones
//     are released (last first). Storage grows geometrically and never shrinks. A request whose
//     storage would exceed CSTD_VECTOR_MAX_BYTES, or that the allocator refuses, returns
//     CSTD_STATUS_OUT_OF_MEMORY and leaves the vector unchanged.
//   cstd_status V_getBegin(V* vector, E** begin);
//     *begin = the first element (null when the vector is empty and was never allocated).
//   cstd_status V_getBeginSizeConst(const V* vector, const E** begin, size_t* size);
//     Read-only access: *begin as above and *size = the number of elements.
//   cstd_status V_getSize(const V* vector, size_t* size);
//
// and the type-tag checks of <proc/csys_typecheck.h>.
//
// Vectors made here: cstd_vectord (double), cstd_vector_cmath_vect, cstd_vector_cmath_xformLinear3,
// cstd_vector_ccal_crspPair2D3DWeighted, and its two- and three-level nestings
// cstd_vector_vector_ccal_crspPair2D3DWeighted,
// cstd_vector_vector_vector_ccal_crspPair2D3DWeighted.
#ifndef PROC_CSTD_VECTOR_H
#define PROC_CSTD_VECTOR_H

#include <proc/ccal_crspPair2D3DWeighted.h>
#include <proc/cmath_vect.h>
#include <proc/cmath_xformLinear.h>
#include <proc/csys_typecheck.h>
#include <tk/export.h>

#include <stddef.h>
#include <stdint.h>

// Upper bound of the storage of one vector, in bytes (1 TiB); larger requests fail at once
// instead of being passed to the allocator.
#define CSTD_VECTOR_MAX_BYTES ((uint64_t)1 << 40)

#define CSTD_DECLARE_VECTOR(VECTOR, ELEMENT)                                                  \
  typedef struct VECTOR {                                                                     \
    ELEMENT* elements;                                                                        \
    size_t size;                                                                              \
    size_t capacity;                                                                          \
  } VECTOR;                                                                                   \
  TK_API cstd_status VECTOR##_construct(VECTOR* vector, size_t size);                         \
  TK_API cstd_status VECTOR##_constructCopy(VECTOR* vector, const VECTOR* source);            \
  TK_API cstd_status VECTOR##_assign(VECTOR* vector, const VECTOR* source);                   \
  TK_API cstd_status VECTOR##_compareEqual(const VECTOR* a, const VECTOR* b, int32_t* equal); \
  TK_API cstd_status VECTOR##_destruct(VECTOR* vector);                                       \
  TK_API cstd_status VECTOR##_resize(VECTOR* vector, size_t size);                            \
  TK_API cstd_status VECTOR##_getBegin(VECTOR* vector, ELEMENT** begin);                      \
  TK_API cstd_status VECTOR##_getBeginSizeConst(const VECTOR* vector, const ELEMENT** begin,  \
                                                size_t* size);                                \
  TK_API cstd_status VECTOR##_getSize(const VECTOR* vector, size_t* size);                    \
  CSYS_DEFINE_TYPE_CHECKS(VECTOR)

CSTD_DECLARE_VECTOR(cstd_vectord, double)
CSTD_DECLARE_VECTOR(cstd_vector_cmath_vect, cmath_vect)
CSTD_DECLARE_VECTOR(cstd_vector_cmath_xformLinear3, cmath_xformLinear3)
CSTD_DECLARE_VECTOR(cstd_vector_ccal_crspPair2D3DWeighted, ccal_crspPair2D3DWeighted)
CSTD_DECLARE_VECTOR(cstd_vector_vector_ccal_crspPair2D3DWeighted,
                    cstd_vector_ccal_crspPair2D3DWeighted)
CSTD_DECLARE_VECTOR(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted,
                    cstd_vector_vector_ccal_crspPair2D3DWeighted)

#endif

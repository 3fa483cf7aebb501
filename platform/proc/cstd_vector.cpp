// One implementation (VectorOps) serves every vector type of <proc/cstd_vector.h>; the element
// operations below adapt doubles, plain records and nested vectors to it.
#include <proc/cstd_vector.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

namespace {

// ---- element operations --------------------------------------------------------------------
// Every element type E has: elementConstruct(E*) (its default value), elementDestruct(E*),
// elementConstructCopy(E*, const E*) and elementEqual(const E*, const E*, int32_t*).

cstd_status elementConstruct(double* element) {
  *element = 0.0;
  return CSTD_STATUS_OK;
}
cstd_status elementDestruct(double*) {
  return CSTD_STATUS_OK;
}
cstd_status elementConstructCopy(double* element, const double* source) {
  *element = *source;
  return CSTD_STATUS_OK;
}
cstd_status elementEqual(const double* a, const double* b, int32_t* equal) {
  *equal = *a == *b ? 1 : 0;
  return CSTD_STATUS_OK;
}

// Records and vectors share the names of their function family; a vector element starts empty.
#define CSTD_ELEMENT_LIFETIME_(TYPE)                                       \
  cstd_status elementDestruct(TYPE* element) {                             \
    return TYPE##_destruct(element);                                       \
  }                                                                        \
  cstd_status elementConstructCopy(TYPE* element, const TYPE* source) {    \
    return TYPE##_constructCopy(element, source);                          \
  }                                                                        \
  cstd_status elementEqual(const TYPE* a, const TYPE* b, int32_t* equal) { \
    return TYPE##_compareEqual(a, b, equal);                               \
  }
#define CSTD_RECORD_ELEMENT_(TYPE)              \
  cstd_status elementConstruct(TYPE* element) { \
    return TYPE##_construct(element);           \
  }                                             \
  CSTD_ELEMENT_LIFETIME_(TYPE)
#define CSTD_VECTOR_ELEMENT_(TYPE)              \
  cstd_status elementConstruct(TYPE* element) { \
    return TYPE##_construct(element, 0);        \
  }                                             \
  CSTD_ELEMENT_LIFETIME_(TYPE)

CSTD_RECORD_ELEMENT_(cmath_vect)
CSTD_RECORD_ELEMENT_(cmath_xformLinear3)
CSTD_RECORD_ELEMENT_(ccal_crspPair2D3DWeighted)
CSTD_VECTOR_ELEMENT_(cstd_vector_ccal_crspPair2D3DWeighted)
CSTD_VECTOR_ELEMENT_(cstd_vector_vector_ccal_crspPair2D3DWeighted)

// ---- the vector ------------------------------------------------------------------------------
// Elements are C structs (or doubles): trivially copyable, so the storage may move with realloc.
// A nested vector holds only pointers to its own heap storage, so moving it is safe too.
template <class Vector, class Element>
struct VectorOps {
  static_assert(std::is_trivially_copyable<Element>::value, "elements must be relocatable");

  static size_t maxElements() {
    uint64_t limit = CSTD_VECTOR_MAX_BYTES / sizeof(Element);
    return static_cast<size_t>(std::min<uint64_t>(limit, SIZE_MAX / sizeof(Element)));
  }

  static void makeEmpty(Vector* vector) {
    vector->elements = nullptr;
    vector->size = 0;
    vector->capacity = 0;
  }

  // Makes room for capacity elements; the vector is unchanged on failure.
  static cstd_status reserve(Vector* vector, size_t capacity) {
    if (capacity <= vector->capacity)
      return CSTD_STATUS_OK;
    if (capacity > maxElements())
      return CSTD_STATUS_OUT_OF_MEMORY;
    void* storage = std::realloc(vector->elements, capacity * sizeof(Element));
    if (storage == nullptr)
      return CSTD_STATUS_OUT_OF_MEMORY;
    vector->elements = static_cast<Element*>(storage);
    vector->capacity = capacity;
    return CSTD_STATUS_OK;
  }

  // Releases elements [from, size), last first; returns the first failure.
  static cstd_status truncate(Vector* vector, size_t from) {
    cstd_status result = CSTD_STATUS_OK;
    while (vector->size > from) {
      --vector->size;
      cstd_status status = elementDestruct(&vector->elements[vector->size]);
      if (status < 0 && result >= 0)
        result = status;
    }
    return result;
  }

  static cstd_status resize(Vector* vector, size_t size) {
    if (vector == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    if (size <= vector->size)
      return truncate(vector, size);
    if (size > vector->capacity) {
      size_t grown = vector->capacity <= maxElements() / 2 ? 2 * vector->capacity : 0;
      cstd_status status = reserve(vector, std::max(size, grown));
      if (status < 0)
        return status;
    }
    size_t oldSize = vector->size;
    while (vector->size < size) {
      cstd_status status = elementConstruct(&vector->elements[vector->size]);
      if (status < 0) {
        truncate(vector, oldSize);
        return status;
      }
      ++vector->size;
    }
    return CSTD_STATUS_OK;
  }

  static cstd_status construct(Vector* vector, size_t size) {
    if (vector == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    makeEmpty(vector);
    return resize(vector, size);
  }

  static cstd_status destruct(Vector* vector) {
    if (vector == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    cstd_status status = truncate(vector, 0);
    std::free(vector->elements);
    makeEmpty(vector);
    return status;
  }

  static cstd_status constructCopy(Vector* vector, const Vector* source) {
    if (vector == nullptr || source == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    makeEmpty(vector);
    cstd_status status = reserve(vector, source->size);
    while (status >= 0 && vector->size < source->size) {
      status =
          elementConstructCopy(&vector->elements[vector->size], &source->elements[vector->size]);
      if (status >= 0)
        ++vector->size;
    }
    if (status < 0)
      destruct(vector);
    return status < 0 ? status : CSTD_STATUS_OK;
  }

  static cstd_status assign(Vector* vector, const Vector* source) {
    if (vector == nullptr || source == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    if (vector == source)
      return CSTD_STATUS_OK;
    Vector copy;
    cstd_status status = constructCopy(&copy, source);
    if (status < 0)
      return status;
    status = destruct(vector);
    *vector = copy;
    return status;
  }

  static cstd_status compareEqual(const Vector* a, const Vector* b, int32_t* equal) {
    if (a == nullptr || b == nullptr || equal == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    *equal = a->size == b->size ? 1 : 0;
    for (size_t i = 0; *equal != 0 && i < a->size; ++i) {
      cstd_status status = elementEqual(&a->elements[i], &b->elements[i], equal);
      if (status < 0)
        return status;
    }
    return CSTD_STATUS_OK;
  }

  static cstd_status getBegin(Vector* vector, Element** begin) {
    if (vector == nullptr || begin == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    *begin = vector->elements;
    return CSTD_STATUS_OK;
  }

  static cstd_status getBeginSizeConst(const Vector* vector, const Element** begin, size_t* size) {
    if (vector == nullptr || begin == nullptr || size == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    *begin = vector->elements;
    *size = vector->size;
    return CSTD_STATUS_OK;
  }

  static cstd_status getSize(const Vector* vector, size_t* size) {
    if (vector == nullptr || size == nullptr)
      return CSTD_STATUS_BAD_ARGUMENT;
    *size = vector->size;
    return CSTD_STATUS_OK;
  }
};

}  // namespace

#define CSTD_DEFINE_VECTOR_(VECTOR, ELEMENT)                                            \
  cstd_status VECTOR##_construct(VECTOR* vector, size_t size) {                         \
    return VectorOps<VECTOR, ELEMENT>::construct(vector, size);                         \
  }                                                                                     \
  cstd_status VECTOR##_constructCopy(VECTOR* vector, const VECTOR* source) {            \
    return VectorOps<VECTOR, ELEMENT>::constructCopy(vector, source);                   \
  }                                                                                     \
  cstd_status VECTOR##_assign(VECTOR* vector, const VECTOR* source) {                   \
    return VectorOps<VECTOR, ELEMENT>::assign(vector, source);                          \
  }                                                                                     \
  cstd_status VECTOR##_compareEqual(const VECTOR* a, const VECTOR* b, int32_t* equal) { \
    return VectorOps<VECTOR, ELEMENT>::compareEqual(a, b, equal);                       \
  }                                                                                     \
  cstd_status VECTOR##_destruct(VECTOR* vector) {                                       \
    return VectorOps<VECTOR, ELEMENT>::destruct(vector);                                \
  }                                                                                     \
  cstd_status VECTOR##_resize(VECTOR* vector, size_t size) {                            \
    return VectorOps<VECTOR, ELEMENT>::resize(vector, size);                            \
  }                                                                                     \
  cstd_status VECTOR##_getBegin(VECTOR* vector, ELEMENT** begin) {                      \
    return VectorOps<VECTOR, ELEMENT>::getBegin(vector, begin);                         \
  }                                                                                     \
  cstd_status VECTOR##_getBeginSizeConst(const VECTOR* vector, const ELEMENT** begin,   \
                                         size_t* size) {                                \
    return VectorOps<VECTOR, ELEMENT>::getBeginSizeConst(vector, begin, size);          \
  }                                                                                     \
  cstd_status VECTOR##_getSize(const VECTOR* vector, size_t* size) {                    \
    return VectorOps<VECTOR, ELEMENT>::getSize(vector, size);                           \
  }

CSTD_DEFINE_VECTOR_(cstd_vectord, double)
CSTD_DEFINE_VECTOR_(cstd_vector_cmath_vect, cmath_vect)
CSTD_DEFINE_VECTOR_(cstd_vector_cmath_xformLinear3, cmath_xformLinear3)
CSTD_DEFINE_VECTOR_(cstd_vector_ccal_crspPair2D3DWeighted, ccal_crspPair2D3DWeighted)
CSTD_DEFINE_VECTOR_(cstd_vector_vector_ccal_crspPair2D3DWeighted,
                    cstd_vector_ccal_crspPair2D3DWeighted)
CSTD_DEFINE_VECTOR_(cstd_vector_vector_vector_ccal_crspPair2D3DWeighted,
                    cstd_vector_vector_ccal_crspPair2D3DWeighted)

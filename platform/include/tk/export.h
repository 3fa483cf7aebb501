// Export macro of the shared library. Every class or free function that applications call
// carries TK_API; templates and inline code need none.
#ifndef TK_EXPORT_H
#define TK_EXPORT_H

#if defined(_WIN32)
#if defined(CCAL_BUILDING_LIBRARY)
#define TK_API __declspec(dllexport)
#else
#define TK_API __declspec(dllimport)
#endif
#else
#define TK_API __attribute__((visibility("default")))
#endif

#endif

#include <tk/assertion.h>

tkAssertionHandler tfSetAssertionHandler(tkAssertionHandler handler) {
  return cstd_assert_setHandler(handler);
}

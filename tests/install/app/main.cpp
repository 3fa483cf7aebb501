// An outside application: includes the umbrella header and calls into the shared library.
#include <ccal/ccal.h>

#include <cstdio>

int main() {
  std::puts("ccal package found");
  return 0;
}

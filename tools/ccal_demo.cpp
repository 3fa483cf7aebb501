#include <ccal/ccal.h>

#include <cstdio>

int main() {
  std::puts("ccal demo");
  return 0;
}

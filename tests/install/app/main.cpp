// An outside application: includes the umbrella header and calls into the shared library.
#include <ccal/ccal.h>

#include <cmath>
#include <cstdio>

int main() {
  // Exported code from the core library: a rotation through its three-value form.
  tk3Quaternion q(0.9, 0.1, -0.3, 0.2);
  q.normalise();
  tk3Quaternion rebuilt;
  rebuilt.setUsingUnitValIndex(q.unitValIndex(), q.var1(), q.var2(), q.var3());
  const tkVector<3> v(1.0, 2.0, 3.0);
  const double error = (q.rotate(v) - rebuilt.rotate(v)).length();
  tkRandomUniform random(1);
  const double draw = random.next(0.0, 10.0);
  std::printf("ccal package found: rotation round trip error %.3g, first draw %.6f\n", error, draw);
  return error < 1e-12 && draw >= 0.0 && draw < 10.0 ? 0 : 1;
}

// Internal: the Levenberg-Marquardt refinement of a telecentric camera on the image residual,
// behind ccal_calibrateTelecentricCamera (<proc/ccal_calibrateTelecentricCamera.h>).
//
// Model: image = K * (R * H + t).xy with K = [[sx, skew], [0, sy]], R = R0 * R(q(w)), where H is
// a home-frame point taken relative to a fixed centre (the caller subtracts it), R0 is the start
// rotation and q(w) = (1, w1, w2, w3) / |(1, w1, w2, w3)| is a correction that is the identity
// at w = 0 and smooth for any correction below half a turn: the quaternion form of
// camera_model/pose.h with the held component a, whose rotation derivatives the Jacobian uses.
//
// Parameter column x (8 x 1): sx, sy, skew, w1, w2, w3, t.x, t.y.
// Function column F (m = 2N): per observation sqrt(w) * (predicted - image), x then y, pixels.
// The Jacobian is analytic. Func and compJacob return the negative status of
// csys_attention_check when an abort was requested.
#ifndef TK_CORE_TELECENTRIC_TELECENTRIC_CAMERA_SOLVER_H
#define TK_CORE_TELECENTRIC_TELECENTRIC_CAMERA_SOLVER_H

#include <tk/levmar_solve.h>
#include <tk/matrix.h>
#include <tk/vector.h>

#include <vector>

// One correspondence of positive weight.
struct tk_TelecentricObservation {
  tkVector<3> home;   // home-frame point less the centre
  tkVector<2> image;  // pixels
  double sqrtWeight;  // > 0
};

class tk_TelecentricCameraSolver : public tkLevMarSolve {
 public:
  static constexpr long kParameterCount = 8;

  // observations: at least four (the solver keeps a reference; they must outlive it).
  // startRotation: R0. Throws tkInvariantFailure for fewer than four observations or a negative
  // iteration limit.
  tk_TelecentricCameraSolver(const std::vector<tk_TelecentricObservation>& observations,
                             const tkMatrix<3>& startRotation, long maxIterations);

  // R0 * R(q(w)) of a parameter column.
  tkMatrix<3> rotation(const tkNMMatrix& x) const;

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override;
  long compJacob(const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) override;

 private:
  const std::vector<tk_TelecentricObservation>& observations_;
  tkMatrix<3> startRotation_;
};

#endif

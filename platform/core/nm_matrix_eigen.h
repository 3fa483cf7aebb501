// Internal: views of a tkNMMatrix as an Eigen matrix, without copying. The view is valid as long
// as the matrix is neither resized nor destroyed.
#ifndef TK_NM_MATRIX_EIGEN_H
#define TK_NM_MATRIX_EIGEN_H

#include <tk/nm_matrix.h>

#include <Eigen/Core>

inline Eigen::Map<Eigen::MatrixXd> tk_eigenView(tkNMMatrix& matrix) {
  return Eigen::Map<Eigen::MatrixXd>(matrix.data(), matrix.rows(), matrix.cols());
}

inline Eigen::Map<const Eigen::MatrixXd> tk_eigenView(const tkNMMatrix& matrix) {
  return Eigen::Map<const Eigen::MatrixXd>(matrix.data(), matrix.rows(), matrix.cols());
}

#endif

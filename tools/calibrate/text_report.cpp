#include "text_report.h"

#include "outlier_output.h"

#include <ccal/camera_terms.h>
#include <tk/calib2_params.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

void appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  out += buffer;
}

std::string listOf(const std::vector<double>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%.9g", i > 0 ? ", " : "", values[i]);
    out += text;
  }
  return out + "]";
}

// Camera centre and viewing direction in world coordinates, angles of R in degrees.
void appendPose(std::string& out, const tk2XformCalib2& xform, const char* worldName) {
  const tkCalib2ParamsExtrinsic extrinsic = xform.extrinsicParams();
  const tkXform<3> cameraFromWorld = xform.extrinsicXform();
  const tkMatrix<3> rt = cameraFromWorld.matrix().transpose();
  const tkVector<3> centre = -(rt * cameraFromWorld.trans());
  const tkVector<3> axis = rt * tkVector<3>(0, 0, 1);
  appendf(out,
          "  pose            %s -> camera: angles (%.4f, %.4f, %.4f) deg, translation "
          "(%.6g, %.6g, %.6g)\n",
          worldName, extrinsic.angles().rx() * kDegrees, extrinsic.angles().ry() * kDegrees,
          extrinsic.angles().rz() * kDegrees, cameraFromWorld.trans().x(),
          cameraFromWorld.trans().y(), cameraFromWorld.trans().z());
  appendf(out,
          "                  camera centre (%.6g, %.6g, %.6g), optical axis (%.4f, %.4f, %.4f)"
          "\n",
          centre.x(), centre.y(), centre.z(), axis.x(), axis.y(), axis.z());
}

void appendAreaCamera(std::string& out, const tkToolResult& result, const tkToolCamera& camera) {
  const tkCalib2ParamsIntrinsic k = camera.xform.intrinsicParams();
  const tkCameraMatrixTerms K = tfCameraMatrixTerms(k);
  const tkPhysicalAtZEquals1FromImageParams& m = camera.intrinsic;
  const tkCameraDeviations& d = camera.deviations;
  const auto pm = [&](double sigma, const char* format = "%.2g") {
    return camera.hasDeviations ? tfPlusMinus(result, sigma, format) : std::string();
  };
  appendf(out, "  camera matrix   fx %.4f%s  fy %.4f%s  cx %.4f%s  cy %.4f%s  skew %.4g%s  (pixels)\n",
          K.fx, pm(d.fx).c_str(), K.fy, pm(d.fy).c_str(), K.cx, pm(d.cx).c_str(), K.cy,
          pm(d.cy).c_str(), K.skew, pm(d.skew).c_str());
  const tkVector<2> coe = m.centerOfExpansion();
  const tkVector<2> coePixels = k.imageFromDistorted().mapPoint(coe);
  switch (m.distModel()) {
    case tk2XformCalib2Defs::eRadial:
      appendf(out, "  lens            radial k %.9g%s (image -> Z = 1; > 0 barrel)\n", m.k(),
              pm(d.lens.empty() ? 0.0 : d.lens[0]).c_str());
      break;
    case tk2XformCalib2Defs::eSineTan: {
      const std::vector<double>& p = m.lensDistParams();
      appendf(out, "  lens            sine-tangent p0..p3 %s\n", listOf(p).c_str());
      if (camera.hasDeviations && result.quality.present)
        appendf(out, "                  ± %s (p0 held: the scale it shares with L)\n",
                listOf(d.lens).c_str());
      break;
    }
    default:
      appendf(out, "  lens            none\n");
  }
  if (m.distModel() != tk2XformCalib2Defs::eNoDistortion) {
    appendf(out, "  centre of expansion (%.6g%s, %.6g%s) normalised = (%.3f, %.3f) px\n", coe.x(),
            pm(d.centreX).c_str(), coe.y(), pm(d.centreY).c_str(), coePixels.x(), coePixels.y());
  }
  appendf(out,
          "  library terms   cameraScale (%.9g, %.9g), cameraSkew %.9g, cameraTranslation "
          "(%.9g, %.9g),\n                  lensDistParams %s (image -> position at Z = 1)\n",
          m.cameraScale().first, m.cameraScale().second, m.cameraSkew(), m.cameraTranslation().x(),
          m.cameraTranslation().y(), listOf(m.lensDistParams()).c_str());
  appendPose(out, camera.xform, "world");
  if (camera.hasDeviations && result.quality.present)
    appendf(out, "                  σ rotation (%.2g, %.2g, %.2g) deg, σ translation (%.2g, %.2g, %.2g)\n",
            d.rotationDeg[0], d.rotationDeg[1], d.rotationDeg[2], d.translation[0],
            d.translation[1], d.translation[2]);
}

void appendTelecentricCamera(std::string& out, const tkToolCamera& camera) {
  const tkCalib2ParamsIntrinsic k = camera.xform.intrinsicParams();
  appendf(out,
          "  scale           %.6f, %.6f px per plate unit, skew %.6g, translation (%.4f, "
          "%.4f) px\n",
          k.scale().x(), k.scale().y(), k.skew(), k.translation().x(), k.translation().y());
  appendf(out,
          "  library terms   image = K*(Q.x, Q.y) + translation, K = [[%.9g, %.9g], [0, "
          "%.9g]], model 7\n",
          k.scale().x(), k.skew(), k.scale().y());
  appendPose(out, camera.xform, "home");
}

void appendLineScanCamera(std::string& out, const tkToolCamera& camera) {
  tkLineScanTerms v;
  if (!tfLineScanTerms(camera.xform, v))
    return;
  appendf(out, "  lens            u0 %.4f px, f %.4f px, k1 %.9g, k2 %.9g\n", v.offset, v.scale,
          v.k1, v.k2);
  appendf(out,
          "  pose            client -> camera at scan line 0: quaternion (%.9f, %.9f, %.9f, "
          "%.9f), translation (%.6g, %.6g, %.6g)\n",
          v.quaternion[0], v.quaternion[1], v.quaternion[2], v.quaternion[3], v.translation.x(),
          v.translation.y(), v.translation.z());
  appendf(out, "                  projection centre (%.6g, %.6g, %.6g)\n", v.centre.x(),
          v.centre.y(), v.centre.z());
  appendf(out, "  scanner motion  (%.9g, %.9g, %.9g) units per scan line\n", v.motion.x(),
          v.motion.y(), v.motion.z());
}

// Text in lines of at most width characters, indented by two spaces, broken at blanks.
void appendWrapped(std::string& out, const std::string& text, size_t width) {
  std::string line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos)
      end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += "  " + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  if (!line.empty())
    out += "  " + line + "\n";
}

}  // namespace

std::string tfTextReport(const tkToolResult& result, int worst) {
  std::string out;
  size_t zRotation = 0;
  for (const tkToolPlacement& p : result.placements)
    zRotation += p.kind == "z-rotation";
  appendf(out, "ccal-calibrate: %s\n", result.inputPath.c_str());
  appendWrapped(out, result.description, 96);
  std::string names;
  for (const tkToolCamera& camera : result.cameras)
    names += (names.empty() ? "" : ", ") + camera.name;
  appendf(out, "  %s, %zu camera(s) (%s), %zu placement(s)", result.kind.c_str(),
          result.cameras.size(), names.c_str(), result.placements.size());
  if (result.kind == "area-scan")
    appendf(out, " (%zu z-rotation, %zu arbitrary)", zRotation,
            result.placements.size() - zRotation);
  appendf(out, ", %zu points\n", result.overall.points);
  appendf(out, "  method %s, model %s%s\n", result.method.c_str(), result.model.c_str(),
          result.imageRefinement ? ", refined on image residuals" : "");

  for (size_t c = 0; c < result.cameras.size(); ++c) {
    const tkToolCamera& camera = result.cameras[c];
    appendf(out, "\ncamera %zu \"%s\"\n", c, camera.name.c_str());
    if (result.kind == "area-scan")
      appendAreaCamera(out, result, camera);
    else if (result.kind == "telecentric")
      appendTelecentricCamera(out, camera);
    else
      appendLineScanCamera(out, camera);
    appendf(out, "  residuals       RMS %.4g px, largest %.4g px over %zu points\n",
            camera.figures.rms, camera.figures.largest, camera.figures.points);
  }

  appendf(out, "\nplacements: RMS / largest residual (px) per camera\n  %-12s %-11s", "name",
          "kind");
  for (const tkToolCamera& camera : result.cameras)
    appendf(out, " %19s", camera.name.c_str());
  out += "\n";
  for (const tkToolPlacement& p : result.placements) {
    appendf(out, "  %-12s %-11s", p.name.c_str(), p.kind.c_str());
    for (const tkToolFigures& f : p.perCamera) {
      if (f.points == 0)
        appendf(out, " %19s", "-");
      else
        appendf(out, " %9.4f / %7.4f", f.rms, f.largest);
    }
    out += "\n";
  }

  out += tfRejectionText(result);
  tfAppendQualityReport(out, result);

  if (worst > 0 && !result.residuals.empty()) {
    std::vector<const tkToolResidual*> order;
    for (const tkToolResidual& r : result.residuals)
      order.push_back(&r);
    const size_t n = std::min(order.size(), static_cast<size_t>(worst));
    std::partial_sort(order.begin(), order.begin() + static_cast<long>(n), order.end(),
                      [](const tkToolResidual* a, const tkToolResidual* b) {
                        return a->residual.length() > b->residual.length();
                      });
    appendf(out, "\nworst points\n  %-10s %-12s %5s %23s %21s %9s\n", "camera", "placement", "row",
            "image point (px)", "residual (px)", "|r| (px)");
    for (size_t i = 0; i < n; ++i) {
      const tkToolResidual& r = *order[i];
      appendf(out, "  %-10s %-12s %5zu (%10.3f, %10.3f) (%9.4f, %9.4f) %9.4f\n",
              result.cameras[r.camera].name.c_str(), result.placements[r.placement].name.c_str(),
              r.index, r.image.x(), r.image.y(), r.residual.x(), r.residual.y(),
              r.residual.length());
    }
  }
  appendf(out, "\nRMS %.4g px, largest %.4g px over %zu points; wall time %.3f s\n",
          result.overall.rms, result.overall.largest, result.overall.points, result.seconds);
  return out;
}

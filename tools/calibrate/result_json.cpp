#include "result_json.h"

#include "outlier_output.h"
#include "result_quality_json.h"
#include "tool_error.h"

#include <ccal/camera_terms.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>

namespace {

using json = nlohmann::ordered_json;

json vec(const tkVector<2>& v) {
  return json::array({v.x(), v.y()});
}
json vec(const tkVector<3>& v) {
  return json::array({v.x(), v.y(), v.z()});
}

// 3 x 4 row-major [R | t].
json xform3(const tkXform<3>& x) {
  json rows = json::array();
  for (int r = 0; r < 3; ++r) {
    rows.push_back(json::array({x.matrix().element(r, 0), x.matrix().element(r, 1),
                                x.matrix().element(r, 2), x.trans()[r]}));
  }
  return rows;
}

json figures(const tkToolFigures& f) {
  return json{{"rms_px", f.rms}, {"max_px", f.largest}, {"points", f.points}};
}

json calib2(const tk2XformCalib2& xform) {
  const tkCalib2ParamsIntrinsic k = xform.intrinsicParams();
  return json{{"scale", vec(k.scale())},
              {"skew", k.skew()},
              {"translation", vec(k.translation())},
              {"distortion_model", tfModelName(k.distortionModel())},
              {"params", k.distortionParams()},
              {"camera_from_world", xform3(xform.extrinsicXform())}};
}

json cameraJson(const tkToolResult& result, const tkToolCamera& camera) {
  json out{{"name", camera.name}, {"figures", figures(camera.figures)}};
  if (result.kind == "line-scan") {
    tkLineScanTerms v;
    if (tfLineScanTerms(camera.xform, v)) {
      out["line_scan"] =
          json{{"lens", json{{"offset", v.offset}, {"scale", v.scale}, {"k1", v.k1}, {"k2", v.k2}}},
               {"quaternion",
                json::array({v.quaternion[0], v.quaternion[1], v.quaternion[2], v.quaternion[3]})},
               {"translation", vec(v.translation)},
               {"projection_centre", vec(v.centre)},
               {"scanner_motion", vec(v.motion)}};
    }
    return out;
  }
  const tkCameraMatrixTerms k = tfCameraMatrixTerms(camera.xform.intrinsicParams());
  out["camera_matrix"] =
      json{{"fx", k.fx}, {"fy", k.fy}, {"cx", k.cx}, {"cy", k.cy}, {"skew", k.skew}};
  out["calib2"] = calib2(camera.xform);
  if (camera.hasAreaModel) {
    const tkPhysicalAtZEquals1FromImageParams& m = camera.intrinsic;
    out["intrinsic"] =
        json{{"camera_scale", json::array({m.cameraScale().first, m.cameraScale().second})},
             {"camera_skew", m.cameraSkew()},
             {"camera_translation", vec(m.cameraTranslation())},
             {"center_of_expansion", vec(m.centerOfExpansion())},
             {"dist_model", tfModelName(m.distModel())},
             {"lens_dist_params", m.lensDistParams()}};
  }
  if (camera.hasDeviations)
    out["deviations"] = tfDeviationsJson(camera.deviations);
  return out;
}

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw tkToolInputError(path + ": " + what);
}

const json& member(const json& object, const char* key, const std::string& path,
                   const std::string& where) {
  if (!object.is_object() || !object.contains(key))
    fail(path, where + ": missing \"" + key + "\"");
  return object[key];
}

double number(const json& value, const std::string& path, const std::string& where) {
  if (!value.is_number())
    fail(path, where + ": expected a number");
  const double d = value.get<double>();
  if (!std::isfinite(d))
    fail(path, where + ": number is not finite");
  return d;
}

std::vector<double> numbers(const json& value, size_t count, const std::string& path,
                            const std::string& where) {
  if (!value.is_array() || (count != 0 && value.size() != count))
    fail(path, where + ": expected " + (count ? std::to_string(count) + " numbers" : "numbers"));
  std::vector<double> out;
  for (size_t i = 0; i < value.size(); ++i)
    out.push_back(number(value[i], path, where + "[" + std::to_string(i) + "]"));
  return out;
}

tk2XformCalib2Defs::tkCalib2DistortionModel modelOf(const json& value, const std::string& path,
                                                    const std::string& where) {
  tk2XformCalib2Defs::tkCalib2DistortionModel model = tk2XformCalib2Defs::eRadial;
  if (value.is_string() && tfDistortionModelFromName(value.get<std::string>(), model))
    return model;
  fail(path, where + ": expected \"radial\", \"sine-tan\", \"none\" or \"telecentric\"");
}

}  // namespace

std::string tfResultJson(const tkToolResult& result) {
  json root{{"format", "ccal-result/2"},
            {"input", result.inputPath},
            {"kind", result.kind},
            {"method", result.method},
            {"model", result.model}};
  if (result.hasImageSize)
    root["image_size"] = json::array({result.imageSize[0], result.imageSize[1]});
  root["seconds"] = result.seconds;
  if (result.kind == "area-scan") {
    root["image_refinement"] = result.imageRefinement;
    root["quality"] = tfQualityJson(result);
  }
  root["figures"] = figures(result.overall);
  root["cameras"] = json::array();
  for (const tkToolCamera& camera : result.cameras)
    root["cameras"].push_back(cameraJson(result, camera));
  root["placements"] = json::array();
  for (const tkToolPlacement& p : result.placements) {
    json perCamera = json::array();
    for (const tkToolFigures& f : p.perCamera)
      perCamera.push_back(figures(f));
    json placement = json{{"name", p.name},
                                      {"kind", p.kind},
                                      {"plate_to_world", xform3(p.plateToWorld)},
                                      {"figures", perCamera}};
    if (p.hasDeviations)
      placement["deviations"] = tfDeviationsJson(p.deviations);
    root["placements"].push_back(placement);
  }
  if (result.rejection.enabled)
    root["outliers"] = tfRejectionJson(result);
  // The residual rows go one per line: written by hand around the dumped header.
  std::string text = root.dump(2);
  text.erase(text.rfind('}'));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  text += ",\n  \"residuals\": [";
  for (size_t i = 0; i < result.residuals.size(); ++i) {
    const tkToolResidual& r = result.residuals[i];
    const json row = json::array({r.camera, r.placement, r.index, r.image.x(), r.image.y(),
                                  r.residual.x(), r.residual.y(), r.weight});
    text += (i == 0 ? "\n    " : ",\n    ") + row.dump();
  }
  text += result.residuals.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return text;
}

void tfWriteResultJson(const tkToolResult& result, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out)
    out << tfResultJson(result);
  out.flush();
  if (!out)
    throw tkToolInputError("cannot write " + path);
}

tkKnownIntrinsics tfReadKnownIntrinsics(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw tkToolInputError("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  json root;
  try {
    root = json::parse(text.str());
  } catch (const json::exception& error) {
    fail(path, std::string("not valid JSON: ") + error.what());
  }
  if (!root.is_object() || !root.contains("format") ||
      (root["format"] != "ccal-result/2" && root["format"] != "ccal-result/1"))
    fail(path, "format: expected \"ccal-result/2\" (or /1)");
  tkKnownIntrinsics known;
  known.path = path;
  const json& kind = member(root, "kind", path, "file");
  known.kind = kind.is_string() ? kind.get<std::string>() : "";
  if (known.kind != "area-scan" && known.kind != "telecentric")
    fail(path, "kind: known intrinsics come from area-scan or telecentric results");
  const json& cameras = member(root, "cameras", path, "file");
  if (!cameras.is_array() || cameras.empty())
    fail(path, "cameras: expected a non-empty array");
  for (size_t c = 0; c < cameras.size(); ++c) {
    const std::string where = "cameras[" + std::to_string(c) + "]";
    const json& camera = cameras[c];
    const json& name = member(camera, "name", path, where);
    if (!name.is_string())
      fail(path, where + ".name: expected a string");
    known.names.push_back(name.get<std::string>());
    const json& k = member(camera, "calib2", path, where);
    const std::string kw = where + ".calib2";
    const std::vector<double> scale = numbers(member(k, "scale", path, kw), 2, path, kw + ".scale");
    const std::vector<double> trans =
        numbers(member(k, "translation", path, kw), 2, path, kw + ".translation");
    known.calib2.emplace_back(
        tkVector<2>(scale[0], scale[1]), number(member(k, "skew", path, kw), path, kw + ".skew"),
        tkVector<2>(trans[0], trans[1]),
        modelOf(member(k, "distortion_model", path, kw), path, kw + ".distortion_model"),
        numbers(member(k, "params", path, kw), 0, path, kw + ".params"));
    if (known.kind == "area-scan") {
      const json& m = member(camera, "intrinsic", path, where);
      const std::string mw = where + ".intrinsic";
      const std::vector<double> s =
          numbers(member(m, "camera_scale", path, mw), 2, path, mw + ".camera_scale");
      const std::vector<double> t =
          numbers(member(m, "camera_translation", path, mw), 2, path, mw + ".camera_translation");
      const std::vector<double> coe =
          numbers(member(m, "center_of_expansion", path, mw), 2, path, mw + ".center_of_expansion");
      const auto model = modelOf(member(m, "dist_model", path, mw), path, mw + ".dist_model");
      const std::vector<double> lens =
          numbers(member(m, "lens_dist_params", path, mw), 0, path, mw + ".lens_dist_params");
      if (model == tk2XformCalib2Defs::eTelecentric ||
          static_cast<int>(lens.size()) !=
              tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(model)) {
        fail(path, mw + ".lens_dist_params: wrong number of values for the model");
      }
      tkPhysicalAtZEquals1FromImageParams intrinsic;
      intrinsic.cameraScale(tkPair<double>(s[0], s[1]));
      intrinsic.cameraSkew(number(member(m, "camera_skew", path, mw), path, mw + ".camera_skew"));
      intrinsic.cameraTranslation(tkVector<2>(t[0], t[1]));
      intrinsic.centerOfExpansion(tkVector<2>(coe[0], coe[1]));
      intrinsic.distModel(model);
      intrinsic.lensDistParams(lens);
      known.area.push_back(intrinsic);
    }
  }
  return known;
}

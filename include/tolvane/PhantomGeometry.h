#pragma once

#include <cmath>

namespace tolvane {

/// The nominal calibration phantom and the formulas that turn the eight corners of its
/// frustum into the reported quantities. The analyzer, the refined measurement, the synthetic
/// scan generator and the tool all take them from here.
///
/// Corners k = 0..7 are A..H: A to D on face 0 (the rim), E to H on face 5 (the cavity floor);
/// A, B, E, F lie on the -y wall (face 1), C, D, G, H on the +y wall (face 2), A, C, E, G on the
/// -x wall (face 3), B, D, F, H on the +x wall (face 4). Lengths in millimetres.
namespace phantom {

/// Nominal corners A..H in the phantom's own frame. Stored in double; each value converts to
/// exactly the float that its decimal gives, so single-precision users read the same numbers.
inline constexpr double c_nominalCorners[8][3] = {
    {-2.804922, -4.246745, -3.405958}, {3.829352, -4.374752, -2.989024},
    {-2.644028, 2.911513, -3.571816},  {3.978025, 2.784213, -3.155661},
    {-1.626094, -1.887896, -0.385802}, {2.301943, -1.963814, -0.1391},
    {-1.569108, 0.621682, -0.442371},  {2.353263, 0.5464, -0.196037}};

/// Nominal values of the reported quantities. The shearings are separate constants: they
/// differ by 27, 30, 8 and 58 µm from the shearings of the nominal corners (docs/phantom.md).
/// The widths and heights agree with the nominal corners to 0.000002 mm.
inline constexpr float c_fNominalDepth = 2.998553f;
inline constexpr float c_fNominalShearing[4] = {2.689f, 2.668f, 2.690f, 2.664f};
inline constexpr float c_fNominalWidth[4] = {7.161987f, 7.162447f, 2.510862f, 2.511384f};
inline constexpr float c_fNominalHeight[4] = {6.648595f, 6.636336f, 3.936508f, 3.930820f};

/// The faces that meet at each corner: rim or floor, a y wall, an x wall.
inline constexpr int c_cornerFaces[8][3] = {{0, 1, 3}, {0, 1, 4}, {0, 2, 3}, {0, 2, 4},
                                            {5, 1, 3}, {5, 1, 4}, {5, 2, 3}, {5, 2, 4}};
/// Width 1..4 spans A-C, B-D, E-G, F-H (across y); height 1..4 spans A-B, C-D, E-F, G-H
/// (across x).
inline constexpr int c_widthCorners[4][2] = {{0, 2}, {1, 3}, {4, 6}, {5, 7}};
inline constexpr int c_heightCorners[4][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}};

/// The quantities measured from the corners, in the precision T of the corners. Depth k and
/// shearing k belong to corner k (A..D) and its floor corner k + 4 (E..H).
template <class T>
struct Quantities {
  T depth[4];
  T meanDepth;
  T shearing[4];
  T width[4];
  T height[4];
};

/// Depths, shearings, widths and heights of a frustum with corners A..H and rim normal n
/// (unit length, from the rim towards the floor for positive depths). Vec is any type with
/// members x, y, z of type T (CbVector3f for float). The arithmetic runs in T in a fixed
/// order: dot products as (x x' + y y') + z z', depth k = dot(corner k + 4 - corner k, n), the
/// mean as (B + A + C + D) / 4, shearing k as the length of the part of corner k - corner
/// k + 4 perpendicular to n, widths and heights as distances between corners.
template <class T, class Vec>
Quantities<T> Measure(const Vec (&corners)[8], const Vec& n) {
  struct V {
    T x, y, z;
  };
  const auto sub = [](const Vec& a, const Vec& b) { return V{a.x - b.x, a.y - b.y, a.z - b.z}; };
  const auto dot = [](const V& a, const auto& b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
  const auto length = [&dot](const V& v) { return static_cast<T>(std::sqrt(dot(v, v))); };
  Quantities<T> q{};
  for (int k = 0; k < 4; ++k) {
    q.depth[k] = dot(sub(corners[k + 4], corners[k]), n);
    const V v = sub(corners[k], corners[k + 4]);
    const T d = dot(v, n);
    q.shearing[k] = length(V{v.x - n.x * d, v.y - n.y * d, v.z - n.z * d});
    q.width[k] = length(sub(corners[c_widthCorners[k][0]], corners[c_widthCorners[k][1]]));
    q.height[k] = length(sub(corners[c_heightCorners[k][0]], corners[c_heightCorners[k][1]]));
  }
  q.meanDepth = (q.depth[1] + q.depth[0] + q.depth[2] + q.depth[3]) * static_cast<T>(0.25);
  return q;
}

/// The deviation of a value from its nominal one in micrometres: |nominal - value| x 1000, in
/// the precision of the arguments.
template <class T>
T DeviationMicrons(T nominal, T value) {
  return std::fabs(nominal - value) * static_cast<T>(1000);
}

/// The deviation of the mean depth in percent of the nominal depth, from its deviation in µm.
template <class T>
T DepthDeviationPercent(T deviationMicrons) {
  return deviationMicrons * static_cast<T>(0.1) / static_cast<T>(c_fNominalDepth);
}

}  // namespace phantom
}  // namespace tolvane

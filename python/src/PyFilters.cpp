#include "PyFilters.h"

#include <pybind11/stl.h>

#include <string>
#include <vector>

#include <tolvane/KaCFtAlgorithmsList.h>
#include <tolvane/KaCMpDiscardCheek.h>
#include <tolvane/KaCMpDiscardQualityRange.h>
#include <tolvane/KaCMpFtColorCodeByQuality.h>
#include <tolvane/KaCMpFtColorCompensate.h>
#include <tolvane/KaCMpFtFlipSurfelNormals.h>
#include <tolvane/KaCMpFtScaleSurfels.h>
#include <tolvane/KaCMpFtSegmentTeethClassifier.h>
#include <tolvane/KaCMpFtSetQualitiesToOne.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "PyCollection.h"
#include "PyErrors.h"
#include "PySettings.h"
#include "tissue/KaCToothTissueMath.h"

namespace py = pybind11;

namespace {

/// One filter step: the library's filter, the name the tool gives the step, and whether it
/// may remove surfels (and so move the collection's arrays).
struct PyFilter {
  CbSmartPointer<KaIFtSurfelCollection> sp;
  std::string strName;
  bool bRemovesSurfels = false;
};

template <class F, class... A>
PyFilter Make(std::string strName, bool bRemoves, A&&... args) {
  return {CbSmartPointer<KaIFtSurfelCollection>(new F(std::forward<A>(args)...)),
          std::move(strName), bRemoves};
}

struct PyFilterList {
  std::vector<PyFilter> vecFilters;
};

void Apply(const std::vector<PyFilter>& filters, PyCollection& c) {
  KaCFtAlgorithmsList::FilterList list(10);
  bool bRemoves = false;
  for (const PyFilter& f : filters) {
    list.AddTail(f.sp);
    bRemoves = bRemoves || f.bRemovesSurfels;
  }
  CbSmartPointer<KaCFtAlgorithmsList> spList(new KaCFtAlgorithmsList());
  spList->SetFilterAlgorithms(list);
  if (bRemoves) c.PrepareForResize();
  PyGuard(EPyError::eRuntime, [&] {
    py::gil_scoped_release release;
    (*spList)(c.Get());
  });
}

CbVector3f ScaleFactors(const py::object& s) {
  if (py::isinstance<py::float_>(s) || py::isinstance<py::int_>(s)) {
    const auto f = s.cast<float>();
    return {f, f, f};
  }
  const auto v = s.cast<std::vector<float>>();
  if (v.size() != 3) PyRaise(EPyError::eValue, "scale: expected one factor or three");
  return {v[0], v[1], v[2]};
}

}  // namespace

void PyBindFilters(py::module_& m) {
  py::class_<PyFilter> f(m, "Filter", R"doc(
One filter step, as made by the step functions (compensate(), classify(), ...). Apply it with
apply(collection), or run several in order with FilterList([...]).apply(collection).)doc");
  f.def_property_readonly(
      "name", [](const PyFilter& self) { return self.strName; }, "The step's name in the tool.");
  f.def_property_readonly(
      "removes_surfels", [](const PyFilter& self) { return self.bRemovesSurfels; },
      "Whether the step may remove surfels.");
  f.def("__repr__", [](const PyFilter& self) { return "<tolvane.Filter " + self.strName + ">"; });
  f.def(
      "apply", [](const PyFilter& self, PyCollection& c) { Apply({self}, c); },
      py::arg("collection"), "Changes the collection in place; releases the GIL meanwhile.");

  py::class_<PyFilterList> l(m, "FilterList", R"doc(
An ordered list of filter steps, applied in order to a collection in place as one filter list
of the library (the tool's `filter` command does the same).)doc");
  l.def(py::init([](std::vector<PyFilter> v) { return PyFilterList{std::move(v)}; }),
        py::arg("filters"));
  l.def("__len__", [](const PyFilterList& self) { return self.vecFilters.size(); });
  l.def_property_readonly(
      "filters", [](const PyFilterList& self) { return self.vecFilters; }, "The steps in order.");
  l.def("__repr__", [](const PyFilterList& self) {
    std::string s = "<tolvane.FilterList [";
    for (std::size_t i = 0; i < self.vecFilters.size(); ++i) {
      s += (i ? ", " : "") + self.vecFilters[i].strName;
    }
    return s + "]>";
  });
  l.def(
      "apply", [](const PyFilterList& self, PyCollection& c) { Apply(self.vecFilters, c); },
      py::arg("collection"),
      "Runs every step in order over the collection, in place; releases the GIL meanwhile.");

  m.def(
      "compensate", [] { return Make<KaCMpFtColorCompensate>("compensate", false); },
      "Lambert colour compensation: brightens surfels turned away from the viewing direction "
      "(0, 0, -1).");
  m.def(
      "classify",
      [](const py::object& threshold) {
        PySettingsEnsureOpen();
        int t = KaCToothTissueMath::GetToothTissueThreshold();
        if (!threshold.is_none()) t = threshold.cast<int>();
        if (t < -1000 || t > 1000)
          PyRaise(EPyError::eValue, "classify: threshold outside -1000..1000");
        const float q = KaCTolvaneSettings::GetGingivaQualityBeforeClassification();
        return Make<KaCMpFtSegmentTeethClassifier>("classify=" + std::to_string(t), false, t,
                                                   KaCToothTissueMath::c_iHueOffset, q, 0.0f,
                                                   false);
      },
      py::arg("threshold") = py::none(), R"doc(
Tooth/gingiva classification from colour: a surfel whose hue, turned by 120 degrees, lies above
the threshold becomes tooth (tissue 0), else gingiva (tissue 3, quality times the setting
GingivaQualityBeforeClassification). Default threshold: the one the last `tolvane acquire`
kept in the settings file (140 before any).)doc");
  m.def(
      "quality_to_one", [] { return Make<KaCMpFtSetQualitiesToOne>("quality-to-one", false); },
      "Sets every quality to 1.");
  m.def(
      "discard_quality",
      [](float lo, float hi) {
        return Make<KaCMpDiscardQualityRange>(
            "discard-quality=" + std::to_string(lo) + ":" + std::to_string(hi), true, lo, hi);
      },
      py::arg("min"), py::arg("max"), "Removes the surfels whose quality lies in [min, max].");
  m.def(
      "discard_cheek", [] { return Make<KaCMpDiscardCheek>("discard-cheek", true); },
      "Removes the surfels of tissue types 2 and 3.");
  m.def(
      "flip_normals", [] { return Make<KaCMpFtFlipSurfelNormals>("flip-normals", false); },
      "Reverses every normal.");
  m.def(
      "scale",
      [](const py::object& s) {
        return Make<KaCMpFtScaleSurfels>("scale", false, ScaleFactors(s), true);
      },
      py::arg("factors"),
      "Multiplies positions by one factor or three (x, y, z); normals follow the surface.");
  auto byQuality = [] { return Make<KaCMpFtColorCodeByQuality>("colour-by-quality", false); };
  const char* szByQuality =
      "False colours of the value the setting ColorCodedEntity selects (0 quality, 3 tooth, 6 "
      "flag byte, 7 boundary).";
  m.def("colour_by_quality", byQuality, szByQuality);
  m.def("color_by_quality", byQuality, szByQuality);
}

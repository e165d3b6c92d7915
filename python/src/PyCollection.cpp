#include "PyCollection.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "PyErrors.h"
#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAttributes.h"
#include "io/InputReader.h"
#include "io/KaCPlyWriter.h"

namespace py = pybind11;

void PyCollection::PrepareForResize() {
  if (!bViewsHandedOut) return;
  CbSmartPointer<KaCSurfelCollectionCCT> spCopy(new KaCSurfelCollectionCCT(*sp, true));
  m_vecRetired.push_back(sp);
  sp = spCopy;
  bViewsHandedOut = false;
}

namespace {

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// A view of nRows x nColumns elements of T starting at p, rows nStride bytes apart, whose base
// is the collection's Python object.
template <class T>
py::array View(const py::object& owner, const void* p, unsigned int nRows, unsigned int nColumns,
               unsigned int nStride, bool bWriteable) {
  std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(nRows)};
  std::vector<py::ssize_t> strides{static_cast<py::ssize_t>(nStride)};
  if (nColumns > 1) {
    shape.push_back(nColumns);
    strides.push_back(sizeof(T));
  }
  if (nRows == 0) return py::array_t<T>(shape);  // no storage to point into
  owner.cast<PyCollection&>().bViewsHandedOut = true;
  py::array a(py::dtype::of<T>(), shape, strides, static_cast<const T*>(p), owner);
  if (!bWriteable)
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

// The view of attribute id, stored as Stored and shown as nColumns elements of Element.
template <class Stored, class Element>
py::array AttributeView(const py::object& self, unsigned int id, unsigned int nColumns,
                        bool bWriteable) {
  static_assert(sizeof(Stored) % sizeof(Element) == 0, "whole elements");
  PyCollection& c = self.cast<PyCollection&>();
  const auto acc = PyGuard(EPyError::eRuntime, [&] { return c.Get().GetAccessor<Stored>(id); });
  return View<Element>(self, acc.pData, c.Get().GetNrSurfels(), nColumns, acc.nStride, bWriteable);
}

// Checks an (N, k) or (N,) input against the collection's count.
void CheckShape(const py::array& a, const char* name, py::ssize_t n, py::ssize_t nColumns) {
  const bool bShape = nColumns == 1 ? a.ndim() == 1 && a.shape(0) == n
                                    : a.ndim() == 2 && a.shape(0) == n && a.shape(1) == nColumns;
  if (!bShape) {
    std::ostringstream s;
    s << name << ": expected shape (" << n;
    if (nColumns > 1) s << ", " << nColumns;
    s << (nColumns == 1 ? ",)" : ")") << ", got (";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) s << (i ? ", " : "") << a.shape(i);
    s << (a.ndim() == 1 ? ",)" : ")");
    PyRaise(EPyError::eValue, s.str());
  }
}

void SetPositions(PyCollection& c, const py::array& input) {
  const auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(input);
  if (!a) PyRaise(EPyError::eValue, "positions: expected numbers");
  auto& col = c.Get();
  CheckShape(a, "positions", col.GetNrSurfels(), 3);
  auto r = a.unchecked<2>();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) {
    if (!std::isfinite(r(i, 0)) || !std::isfinite(r(i, 1)) || !std::isfinite(r(i, 2))) {
      PyRaise(EPyError::eValue, "positions: row " + std::to_string(i) + " is not finite");
    }
  }
  auto view = col.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  for (py::ssize_t i = 0; i < r.shape(0); ++i) {
    view[static_cast<unsigned int>(i)] = CbVector3f(
        static_cast<float>(r(i, 0)), static_cast<float>(r(i, 1)), static_cast<float>(r(i, 2)));
  }
  col.ResetSupportStructures();
}

void SetNormals(PyCollection& c, const py::array& input) {
  const auto a = FloatArray::ensure(input);
  if (!a) PyRaise(EPyError::eValue, "normals: expected numbers");
  auto& col = c.Get();
  CheckShape(a, "normals", col.GetNrSurfels(), 3);
  auto r = a.unchecked<2>();
  auto view = col.GetNormalAccessor();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) {
    view[static_cast<unsigned int>(i)] =
        KaCNormalCodec::Encode(CbVector3f(r(i, 0), r(i, 1), r(i, 2)));
  }
  c.bHasNormals = true;
}

void SetColors(PyCollection& c, const py::array& input) {
  if (input.dtype().kind() != 'u' && input.dtype().kind() != 'i') {
    PyRaise(EPyError::eValue, "colors: expected integers 0..255 (uint8)");
  }
  const auto a = py::array_t<long long, py::array::c_style | py::array::forcecast>::ensure(input);
  auto& col = c.Get();
  CheckShape(a, "colors", col.GetNrSurfels(), 3);
  auto r = a.unchecked<2>();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) {
    for (int k = 0; k < 3; ++k) {
      if (r(i, k) < 0 || r(i, k) > 255) {
        PyRaise(EPyError::eValue, "colors: row " + std::to_string(i) + " is outside 0..255");
      }
    }
  }
  auto view = col.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  for (py::ssize_t i = 0; i < r.shape(0); ++i) {
    view[static_cast<unsigned int>(i)] = KaCCompressedColor(
        static_cast<int>(r(i, 0)), static_cast<int>(r(i, 1)), static_cast<int>(r(i, 2)));
  }
}

void SetQuality(PyCollection& c, const py::array& input) {
  const auto a = FloatArray::ensure(input);
  if (!a) PyRaise(EPyError::eValue, "quality: expected numbers");
  auto& col = c.Get();
  CheckShape(a, "quality", col.GetNrSurfels(), 1);
  auto r = a.unchecked<1>();
  auto& acc = col.GetQualityAccessor();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) acc.Set(static_cast<unsigned int>(i), r(i));
}

void SetTissue(PyCollection& c, const py::array& input) {
  const auto a = py::array_t<long long, py::array::c_style | py::array::forcecast>::ensure(input);
  if (!a || input.dtype().kind() == 'f')
    PyRaise(EPyError::eValue, "tissue: expected integers 0..3");
  auto& col = c.Get();
  CheckShape(a, "tissue", col.GetNrSurfels(), 1);
  auto r = a.unchecked<1>();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) {
    if (r(i) < 0 || r(i) > 3) {
      PyRaise(EPyError::eValue, "tissue: element " + std::to_string(i) + " is outside 0..3");
    }
  }
  auto& acc = col.GetTissueTypeAccessor();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) {
    acc.Set(static_cast<unsigned int>(i), static_cast<unsigned char>(r(i)));
  }
}

void SetBoundary(PyCollection& c, const py::array& input) {
  const auto a = py::array_t<bool, py::array::c_style | py::array::forcecast>::ensure(input);
  if (!a) PyRaise(EPyError::eValue, "boundary: expected booleans");
  auto& col = c.Get();
  CheckShape(a, "boundary", col.GetNrSurfels(), 1);
  auto r = a.unchecked<1>();
  auto& acc = col.GetBoundaryFlagAccessor();
  for (py::ssize_t i = 0; i < r.shape(0); ++i) acc.Set(static_cast<unsigned int>(i), r(i));
}

void SetValues(PyCollection& c, const py::array& input) {
  const auto a =
      py::array_t<std::uint32_t, py::array::c_style | py::array::forcecast>::ensure(input);
  if (!a) PyRaise(EPyError::eValue, "values: expected unsigned integers");
  auto& col = c.Get();
  CheckShape(a, "values", col.GetNrSurfels(), 1);
  auto r = a.unchecked<1>();
  auto view = col.GetAccessor<std::uint32_t>(eSurfelAttributeValue);
  for (py::ssize_t i = 0; i < r.shape(0); ++i) view[static_cast<unsigned int>(i)] = r(i);
}

PyCollectionPtr FromArrays(const py::array& positions, const py::object& normals,
                           const py::object& colors, const py::object& quality,
                           const py::object& tissue, const py::object& boundary,
                           const py::object& values) {
  if (positions.ndim() != 2 || positions.shape(1) != 3) {
    PyRaise(EPyError::eValue, "positions: expected shape (N, 3)");
  }
  if (positions.shape(0) > 0xFFFFFFFELL) PyRaise(EPyError::eValue, "positions: too many rows");
  const auto n = static_cast<unsigned int>(positions.shape(0));
  auto c = std::make_shared<PyCollection>(
      CbSmartPointer<KaCSurfelCollectionCCT>(new KaCSurfelCollectionCCT(n, true)), false);
  SetPositions(*c, positions);
  if (!normals.is_none()) SetNormals(*c, normals.cast<py::array>());
  if (!colors.is_none()) SetColors(*c, colors.cast<py::array>());
  if (!quality.is_none()) SetQuality(*c, quality.cast<py::array>());
  if (!tissue.is_none()) SetTissue(*c, tissue.cast<py::array>());
  if (!boundary.is_none()) SetBoundary(*c, boundary.cast<py::array>());
  if (!values.is_none()) SetValues(*c, values.cast<py::array>());
  return c;
}

// The collection and the reader's warnings (values changed to fit, vertices without normal).
py::tuple Read(const std::string& strPath) {
  return PyGuard(EPyError::eValue, [&] {
    tolvane::InputReader::Contents contents;
    CbSmartPointer<KaCSurfelCollectionCCT> sp;
    {
      py::gil_scoped_release release;
      sp = tolvane::InputReader::ReadFile(strPath, &contents);
    }
    return py::make_tuple(std::make_shared<PyCollection>(sp, contents.bNormals),
                          contents.vecWarnings);
  });
}

std::string Repr(const PyCollection& c) {
  const auto& col = c.Get();
  std::ostringstream s;
  s << "<tolvane.Collection: " << col.GetNrSurfels() << " surfels";
  if (col.GetNrSurfels() > 0) {
    CbVector3f lo = col.GetPosition(0);
    CbVector3f hi = lo;
    for (unsigned int i = 1; i < col.GetNrSurfels(); ++i) {
      const CbVector3f p = col.GetPosition(i);
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::fmin(lo[k], p[k]);
        hi[k] = std::fmax(hi[k], p[k]);
      }
    }
    s << ", x " << lo.x << ".." << hi.x << ", y " << lo.y << ".." << hi.y << ", z " << lo.z << ".."
      << hi.z;
  }
  s << (c.bHasNormals ? ", with normals" : ", no normals")
    << (col.GetQualityAccessor().IsFloatStorage() ? "" : ", compact qualities") << ">";
  return s.str();
}

}  // namespace

void PyBindCollection(py::module_& m) {
  py::class_<PyCollection, PyCollectionPtr> c(m, "Collection", R"doc(
A surfel collection: the coloured point cloud of a scan. Every surfel has a position, a 16-bit
quantized normal, an RGB colour, a quality in 0..1, a tissue type 0..3 (0 tooth, 3 gingiva), a
boundary flag and a 32-bit value.

Attribute views (positions, colors, quality, values, normal_codes, flags) are numpy arrays that
share memory with the collection and keep it alive (their base is the collection). Writes through
a writeable view change the collection. A filter that removes surfels leaves earlier views
showing the surfels as they were: take views again after it. positions is read-only (the
collection keeps a search tree over it); assign c.positions = array to change positions.
Reading from several threads at once is safe; changing a collection while another thread uses it
is not.)doc");
  c.def_static("from_arrays", &FromArrays, py::arg("positions"), py::arg("normals") = py::none(),
               py::arg("colors") = py::none(), py::arg("quality") = py::none(),
               py::arg("tissue") = py::none(), py::arg("boundary") = py::none(),
               py::arg("values") = py::none(), R"doc(
A new collection from numpy arrays, copied in. positions: (N, 3) float32 or float64 (finite),
normals: (N, 3) directions, encoded to the nearest normal code (need not be unit length; a zero
row leaves the normal unset), colors: (N, 3) integers 0..255, quality: (N,) floats, tissue: (N,)
integers 0..3, boundary: (N,) booleans, values: (N,) unsigned 32-bit integers. What is not given
takes the defaults: no normal, mid grey, quality 1, tooth, no boundary flag, 0. Raises
ValueError for a wrong shape or a value out of range.)doc");
  c.def("__len__", [](const PyCollection& self) { return self.Get().GetNrSurfels(); });
  c.def("__repr__", &Repr);
  c.def(
      "copy",
      [](const PyCollection& self) {
        return std::make_shared<PyCollection>(
            CbSmartPointer<KaCSurfelCollectionCCT>(new KaCSurfelCollectionCCT(self.Get(), true)),
            self.bHasNormals);
      },
      "A deep copy of the surfels.");
  c.def(
      "write",
      [](const PyCollection& self, const std::filesystem::path& path, bool bAscii,
         const py::dict& extra) {
        // Extra float properties: (N,) arrays kept alive here while the file is written.
        std::vector<py::array_t<float, py::array::c_style | py::array::forcecast>> arrays;
        std::vector<KaCPlyWriter::FloatProperty> properties;
        for (const auto& item : extra) {
          auto a =
              py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(item.second);
          const std::string name = py::str(item.first);
          if (!a) PyRaise(EPyError::eValue, "extra '" + name + "': expected numbers");
          CheckShape(a, ("extra '" + name + "'").c_str(), self.Get().GetNrSurfels(), 1);
          properties.push_back({name, a.data()});
          arrays.push_back(std::move(a));
        }
        PyGuard(EPyError::eFile, [&] {
          py::gil_scoped_release release;
          KaCPlyWriter::WriteFile(self.Get(), path.string(),
                                  bAscii ? EPlyFormat::eAscii : EPlyFormat::eBinaryLittleEndian,
                                  properties);
        });
      },
      py::arg("path"), py::arg("ascii") = false, py::arg("extra") = py::dict(), R"doc(
Writes a PLY file (binary little endian, or ASCII with ascii=True) holding every attribute;
reading it back gives the same values bit for bit. extra adds per-surfel float properties by
name, e.g. {"scalar_distance": result.values} (other tools load scalar_NAME as scalar fields).
The file appears only once complete: a failure leaves an existing file as it was. Raises
OSError when the file cannot be written, ValueError for a bad extra property.)doc");
  c.def_property_readonly(
      "has_normals", [](const PyCollection& self) { return self.bHasNormals; },
      "Whether the source held normals (the distance and the phantom analysis need them).");
  c.def_property(
      "positions",
      [](py::object self) {
        return AttributeView<CbVector3f, float>(self, eSurfelAttributePosition, 3, false);
      },
      [](PyCollection& self, const py::array& a) { SetPositions(self, a); },
      "(N, 3) float32 view of the positions, read-only; assigning an array copies it in.");
  c.def_property(
      "colors",
      [](py::object self) {
        return AttributeView<KaCCompressedColor, std::uint8_t>(self, eSurfelAttributeColor, 3,
                                                               true);
      },
      [](PyCollection& self, const py::array& a) { SetColors(self, a); },
      "(N, 3) uint8 view of the colours (R, G, B), writeable.");
  c.def_property(
      "quality",
      [](py::object self) -> py::array {
        PyCollection& s = self.cast<PyCollection&>();
        if (s.Get().HasAttribute(eSurfelAttributeQuality)) {
          return AttributeView<float, float>(self, eSurfelAttributeQuality, 1, true);
        }
        // Compact storage packs the quality into the flag byte: a copy.
        const auto& acc = s.Get().GetQualityAccessor();
        py::array_t<float> out(s.Get().GetNrSurfels());
        auto w = out.mutable_unchecked<1>();
        for (unsigned int i = 0; i < s.Get().GetNrSurfels(); ++i) w(i) = acc.Get(i);
        return out;
      },
      [](PyCollection& self, const py::array& a) { SetQuality(self, a); },
      "(N,) float32 view of the qualities, writeable (a copy when the collection packs them).");
  c.def_property(
      "values",
      [](py::object self) {
        return AttributeView<std::uint32_t, std::uint32_t>(self, eSurfelAttributeValue, 1, true);
      },
      [](PyCollection& self, const py::array& a) { SetValues(self, a); },
      "(N,) uint32 view of the per-surfel value (attribute 105), writeable.");
  c.def_property_readonly(
      "normal_codes",
      [](py::object self) {
        return AttributeView<std::uint16_t, std::uint16_t>(self, eSurfelAttributeNormal, 1, false);
      },
      "(N,) uint16 read-only view of the 16-bit normal codes.");
  c.def_property_readonly(
      "flags",
      [](py::object self) {
        return AttributeView<std::uint8_t, std::uint8_t>(self, eSurfelAttributeFlags, 1, false);
      },
      "(N,) uint8 read-only view of the flag byte: bit 0 boundary, bits 1-2 tissue type.");
  c.def_property(
      "normals",
      [](const PyCollection& self) {
        const auto& col = self.Get();
        py::array_t<float> out({static_cast<py::ssize_t>(col.GetNrSurfels()), py::ssize_t{3}});
        auto w = out.mutable_unchecked<2>();
        const CbVector3f* table = KaCNormalCodec::GetTable();
        const auto codes = col.GetNormalAccessor();
        for (unsigned int i = 0; i < col.GetNrSurfels(); ++i) {
          const CbVector3f& n = table[codes[i]];
          w(i, 0) = n.x;
          w(i, 1) = n.y;
          w(i, 2) = n.z;
        }
        return out;
      },
      [](PyCollection& self, const py::array& a) { SetNormals(self, a); },
      "(N, 3) float32 unit normals decoded from the codes (a copy; unset normals are 0 0 0). "
      "Assigning encodes each row to the nearest code.");
  c.def_property(
      "tissue",
      [](const PyCollection& self) {
        const auto& col = self.Get();
        py::array_t<std::uint8_t> out(col.GetNrSurfels());
        auto w = out.mutable_unchecked<1>();
        const auto& acc = col.GetTissueTypeAccessor();
        for (unsigned int i = 0; i < col.GetNrSurfels(); ++i) w(i) = acc.Get(i);
        return out;
      },
      [](PyCollection& self, const py::array& a) { SetTissue(self, a); },
      "(N,) uint8 tissue types 0..3 (a copy: they share the flag byte).");
  c.def_property(
      "boundary",
      [](const PyCollection& self) {
        const auto& col = self.Get();
        py::array_t<bool> out(col.GetNrSurfels());
        auto w = out.mutable_unchecked<1>();
        const auto& acc = col.GetBoundaryFlagAccessor();
        for (unsigned int i = 0; i < col.GetNrSurfels(); ++i) w(i) = acc.Get(i);
        return out;
      },
      [](PyCollection& self, const py::array& a) { SetBoundary(self, a); },
      "(N,) bool boundary flags (a copy: they share the flag byte).");

  m.def("_read", &Read, py::arg("path"));
}

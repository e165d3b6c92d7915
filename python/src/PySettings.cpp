#include "PySettings.h"

#include <pybind11/stl.h>

#include <string>

#include "Settings.h"
#include "PyErrors.h"
#include "tissue/KaCSettingsStore.h"
#include "tissue/KaCToothTissueMath.h"

namespace py = pybind11;

namespace {

bool s_bOpened = false;

void Open(const std::string& strPath) {
  PyGuard(EPyError::eFile, [&] {
    tolvane::cli::settings::Open(tolvane::cli::settings::ResolvePath(strPath));
    tolvane::cli::settings::RestoreToothTissueThreshold();
  });
  s_bOpened = true;
}

std::string Key(const std::string& strName) {
  const std::string key = tolvane::cli::settings::FindKey(strName);
  if (key.empty()) PyRaise(EPyError::eValue, "unknown setting '" + strName + "'");
  return key;
}

}  // namespace

void PySettingsEnsureOpen() {
  if (!s_bOpened) Open("");
}

void PyBindSettings(py::module_& m) {
  m.def(
      "_settings_open", [](const std::string& path) { Open(path); }, py::arg("path"));
  m.def("_settings_path", [] {
    PySettingsEnsureOpen();
    return KaCSettingsStore::Instance().GetPath();
  });
  m.def("_settings_save", [] {
    PySettingsEnsureOpen();
    PyGuard(EPyError::eFile, [] { tolvane::cli::settings::Save(); });
  });
  m.def("_settings_keys", [] { return tolvane::cli::settings::GetKeys(); });
  m.def(
      "_settings_get",
      [](const std::string& name) {
        PySettingsEnsureOpen();
        const std::string key = Key(name);
        return PyGuard(EPyError::eValue, [&] { return tolvane::cli::settings::GetText(key); });
      },
      py::arg("key"));
  m.def(
      "_settings_set",
      [](const std::string& name, const std::string& text) {
        PySettingsEnsureOpen();
        const std::string key = Key(name);
        PyGuard(EPyError::eValue, [&] { tolvane::cli::settings::SetText(key, text); });
      },
      py::arg("key"), py::arg("text"));
  m.def("_tooth_tissue_threshold", [] {
    PySettingsEnsureOpen();
    return KaCToothTissueMath::GetToothTissueThreshold();
  });
}

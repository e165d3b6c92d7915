#pragma once

#include <pybind11/pybind11.h>

/// Opens the settings file the tool would use (TOLVANE_SETTINGS, else
/// $XDG_CONFIG_HOME/tolvane/settings.ini, else ~/.config/tolvane/settings.ini) unless a file is
/// open already, and restores the tooth tissue threshold kept there, so that settings read by
/// the module are the tool's.
void PySettingsEnsureOpen();

void PyBindSettings(pybind11::module_& m);

#pragma once

#include <string>
#include <vector>

namespace tolvane::cli {

/// The tool's view of the persistent settings: where the settings file lives, the seven
/// library settings by name with their values as text, and the tooth tissue threshold that
/// acquisition runs keep from one run to the next.
///
/// The file is, in this order of precedence: the file given on the command line, the
/// environment variable TOLVANE_SETTINGS, $XDG_CONFIG_HOME/tolvane/settings.ini,
/// ~/.config/tolvane/settings.ini. The threshold lives in the same file, in the section
/// "ToothTissue" under the key "Threshold".
///
/// Works on the process-wide settings store; one thread only.
namespace settings {

/// The settings file to use; strExplicit (from the command line) wins when not empty.
/// Throws InputError when no file can be named (no HOME).
[[nodiscard]] std::string ResolvePath(const std::string& strExplicit);
/// Opens the store on the file (a missing file is an empty store). Errors of the file
/// (unreadable, malformed) pass on as CbException naming the file and line.
void Open(const std::string& strPath);
/// Creates the file's directory when needed and saves the changed values atomically.
void Save();

/// The names of the seven settings, in their order.
[[nodiscard]] const std::vector<std::string>& GetKeys();
/// The key as spelled in GetKeys() for a name in any letter case; empty when unknown.
[[nodiscard]] std::string FindKey(const std::string& strName);
/// The current value of a known key as text ("true", "0.5", "3").
[[nodiscard]] std::string GetText(const std::string& strKey);
/// Parses and sets a known key's value. Throws InputError, changing nothing, when the
/// text is not a value of the setting's type (bool: true/false, 1/0, yes/no, on/off; float:
/// a finite number; int: a whole number), and for ColorCodedEntity when the code selects no
/// quantity (0, 3, 6, 7 and 8 do) unless bForce.
void SetText(const std::string& strKey, const std::string& strValue, bool bForce = false);

/// Makes the threshold saved by an earlier run (if any) the current tooth tissue threshold.
void RestoreToothTissueThreshold();
/// Records the current tooth tissue threshold for the next run (written by Save).
void KeepToothTissueThreshold();

}  // namespace settings

}  // namespace tolvane::cli

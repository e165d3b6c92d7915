// tolvane settings: list, read and change the seven persistent settings.
#include <cstdio>

#include "Arguments.h"
#include "Command.h"
#include "InputError.h"
#include "Settings.h"
#include "UsageError.h"

namespace tolvane::cli {

namespace {

const char c_szHelp[] =
    "Usage: tolvane settings [list | get KEY | set KEY VALUE [--force]] [--file FILE]\n"
    "\n"
    "Lists, reads or changes the seven persistent settings of section Tolvane:\n"
    "  AnalyzePhantomInteractively              bool  (default false)\n"
    "  ColorCompensate                          bool  (default true)\n"
    "  QualityFromColor                         bool  (default true)\n"
    "  ToothTissueBeforeSequentialRegistration  bool  (default true)\n"
    "  TrainToothTissueAtStart                  bool  (default false)\n"
    "  GingivaQualityBeforeClassification       float (default 0.5)\n"
    "  ColorCodedEntity                         int   (default 0)\n"
    "Keys are matched without regard to letter case. Bools are true/false (also 1/0, yes/no,\n"
    "on/off). 'list' (the default) prints KEY=VALUE lines, 'get' the value alone. 'set'\n"
    "refuses an unknown key or a value of the wrong type and then leaves the file as it was.\n"
    "ColorCodedEntity takes the codes that select a quantity: 0 quality, 3 tooth, 6 flag\n"
    "byte, 7 boundary, 8 distance to a plane; --force sets any other whole number.\n"
    "\n"
    "The file is FILE, else $TOLVANE_SETTINGS, else $XDG_CONFIG_HOME/tolvane/settings.ini,\n"
    "else ~/.config/tolvane/settings.ini. A missing file holds the defaults.\n"
    "\n"
    "Options:\n"
    "  --file FILE   the settings file to use\n"
    "  --force       let 'set ColorCodedEntity' take a code outside 0, 3, 6, 7, 8\n";

std::string Key(const std::string& name) {
  const std::string key = settings::FindKey(name);
  if (key.empty()) {
    std::string known;
    for (const std::string& k : settings::GetKeys()) known += (known.empty() ? "" : ", ") + k;
    throw InputError("unknown setting '" + name + "' (known: " + known + ")");
  }
  return key;
}

int Run(const std::vector<std::string>& args) {
  const Arguments a(args, {"file"}, {"force"});
  if (a.WantsHelp()) {
    std::fputs(c_szHelp, stdout);
    return 0;
  }
  const auto& pos = a.GetPositionals();
  const std::string action = pos.empty() ? "list" : pos[0];
  if (action == "list") {
    a.RequirePositionals(0, 1, "");
  } else if (action == "get") {
    a.RequirePositionals(2, 2, "KEY");
  } else if (action == "set") {
    a.RequirePositionals(3, 3, pos.size() < 2 ? "KEY and VALUE" : "VALUE");
  } else {
    throw UsageError("unknown action '" + action + "' (list, get or set)");
  }

  settings::Open(settings::ResolvePath(a.GetString("file")));
  if (action == "list") {
    for (const std::string& k : settings::GetKeys()) {
      std::printf("%s=%s\n", k.c_str(), settings::GetText(k).c_str());
    }
  } else if (action == "get") {
    std::printf("%s\n", settings::GetText(Key(pos[1])).c_str());
  } else {
    const std::string key = Key(pos[1]);
    settings::SetText(key, pos[2], a.Has("force"));
    settings::Save();
  }
  return 0;
}

}  // namespace

Command GetSettingsCommand() {
  return {"settings", "list, get or set the persistent settings", c_szHelp, &Run};
}

}  // namespace tolvane::cli

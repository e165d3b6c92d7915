#include "Command.h"

namespace tolvane::cli {

const std::vector<Command>& Command::GetAll() {
  static const std::vector<Command> s_commands = {GetPhantomCommand(),  GetDistanceCommand(),
                                                  GetFilterCommand(),   GetAcquireCommand(),
                                                  GetSettingsCommand(), GetGenerateCommand()};
  return s_commands;
}

const Command* Command::Find(const std::string& strName) {
  for (const Command& c : GetAll()) {
    if (strName == c.szName) return &c;
  }
  return nullptr;
}

}  // namespace tolvane::cli

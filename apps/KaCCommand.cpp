#include "KaCCommand.h"

const std::vector<KaCCommand>& KaCCommand::GetAll() {
  static const std::vector<KaCCommand> s_commands = {GetPhantomCommand(),  GetDistanceCommand(),
                                                     GetFilterCommand(),   GetAcquireCommand(),
                                                     GetSettingsCommand(), GetGenerateCommand()};
  return s_commands;
}

const KaCCommand* KaCCommand::Find(const std::string& strName) {
  for (const KaCCommand& c : GetAll()) {
    if (strName == c.szName) return &c;
  }
  return nullptr;
}

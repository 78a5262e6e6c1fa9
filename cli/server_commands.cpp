// register and unregister: the Qt library's server entry points, for this user.
#include <iomanip>
#include <sstream>

#include "cli/commands.h"
#include "flipreel/qt/component_server.h"

namespace flipreel::cli {

namespace {

std::string Hex(int32_t code) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0')
       << static_cast<uint32_t>(code);
  return text.str();
}

void AddServerCommand(CLI::App& app, const char* name, const char* help, int32_t (*entry)(),
                      const char* done, std::ostream& out, std::ostream& err) {
  app.add_subcommand(name, help)->callback([=, &out, &err] {
    const int32_t result = entry();
    if (result != component::kOk) {
      err << "flipreel " << name << ": the component server answered " << Hex(result) << "\n";
      throw CLI::RuntimeError(kExitNotWritten);
    }
    out << done << " " << FlipreelTypeLibrary().prog_id << " " << FlipreelTypeLibrary().class_id
        << " for this user\n";
  });
}

}  // namespace

void AddServerCommands(CLI::App& app, std::ostream& out, std::ostream& err) {
  AddServerCommand(app, "register", Description(kQtCommands, "register"), &DllRegisterServer,
                   "registered", out, err);
  AddServerCommand(app, "unregister", Description(kQtCommands, "unregister"), &DllUnregisterServer,
                   "unregistered", out, err);
}

}  // namespace flipreel::cli

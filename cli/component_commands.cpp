// The component commands: the version record, the components registered for
// this user, and (with the Qt library, which is the component server)
// registering and unregistering it.
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "server/component_runtime.h"
#include "server/version_record.h"
#ifdef FLIPREEL_WITH_QT
#include "qt/component_server.h"
#endif

namespace flipreel::cli {

namespace {

std::string Hex(int32_t code) {
  std::ostringstream text;
  text << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0')
       << static_cast<uint32_t>(code);
  return text.str();
}

#ifdef FLIPREEL_WITH_QT
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
#endif

}  // namespace

std::string VersionText() {
  const VersionRecord& v = FlipreelVersionRecord();
  std::string text;
  text += std::string(v.Find("ProductName")->value) + " " +
          std::string(v.Find("ProductVersion")->value) + "\n";
  for (const VersionEntry& e : v.strings)
    text += std::string(e.key) + ": " + std::string(e.value) + "\n";
  text.pop_back();  // the flag's printer ends the line
  return text;
}

void AddComponentCommands(CLI::App& app, std::ostream& out, std::ostream& err) {
  app.set_version_flag("--version", VersionText(), "Show the version record and exit");
  app.add_subcommand("components", "List the components registered for this user (JSON)")
      ->callback([&out] {
        nlohmann::json list = nlohmann::json::array();
        for (const component::Registration& r : component::RegisteredComponents())
          list.push_back({{"class_id", r.class_id},
                          {"prog_id", r.prog_id},
                          {"class", r.class_name},
                          {"library", r.library},
                          {"version", r.version},
                          {"entry", r.entry_file},
                          {"designer_plugin_link", r.designer_link}});
        out << list.dump(2) << "\n";
      });
#ifdef FLIPREEL_WITH_QT
  AddServerCommand(app, "register", "Register the component server for this user",
                   &DllRegisterServer, "registered", out, err);
  AddServerCommand(app, "unregister", "Remove what register made for this user",
                   &DllUnregisterServer, "unregistered", out, err);
#else
  (void)err;
#endif
}

}  // namespace flipreel::cli

// The component commands: the version record and the components registered
// for this user. Registering is a Qt command (cli/server_commands.cpp): the
// component server is the Qt library.
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "flipreel/server/component_runtime.h"
#include "flipreel/server/version_record.h"

namespace flipreel::cli {

namespace {}  // namespace

// "flipreel 1.2.0.2", the numeric version as tools print theirs, then the
// version record, one key a line.
std::string VersionText() {
  const VersionRecord& v = FlipreelVersionRecord();
  std::string text = "flipreel";
  for (size_t i = 0; i < v.file_version.size(); ++i)
    text += (i ? "." : " ") + std::to_string(v.file_version[i]);
  text += "\n";
  for (const VersionEntry& e : v.strings)
    text += std::string(e.key) + ": " + std::string(e.value) + "\n";
  text.pop_back();  // the flag's printer ends the line
  return text;
}

void AddComponentCommands(CLI::App& app, std::ostream& out, std::ostream& err) {
  app.set_version_flag("-V,--version", VersionText(), "Show the version record and exit");
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
  (void)err;
}

}  // namespace flipreel::cli

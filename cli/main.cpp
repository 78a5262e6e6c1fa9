// flipreel: plays, inspects and packs animated GIFs with the Flipreel control.
#include <iostream>
#include <string>

#include "cli/commands.h"

namespace {

// The commands' names, for the messages about a missing or unknown one.
std::string CommandNames(CLI::App& app) {
  std::string names;
  for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    names += (names.empty() ? "" : ", ") + sub->get_name();
  return names;
}

bool IsCommand(CLI::App& app, const std::string& name) {
  return !app.get_subcommands([&](CLI::App* sub) { return sub->check_name(name); }).empty();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"flipreel - plays animated GIF images with the Flipreel control"};
  app.require_subcommand(1);
  // The command named first is the only one a parse can run: a headless one
  // is set up alone (beside the version flag). Anything else sets up every
  // command, for the help and the messages that list them.
  const bool headless = argc >= 2 && flipreel::cli::IsHeadlessCommand(argv[1]);
  flipreel::cli::AddHeadlessCommands(app, headless ? argv[1] : "");
  flipreel::cli::AddComponentCommands(app, std::cout, std::cerr);
  if (const std::optional<int> handed_over =
          flipreel::cli::AddToolCommands(app, argc, argv, headless))
    return *handed_over;
  // CLI11 takes a word that names no command for a stray argument and asks
  // for a command; say plainly what is wrong instead.
  if (argc < 2) {
    std::cerr << "flipreel: a command is required (" << CommandNames(app)
              << "); see flipreel --help\n";
    return flipreel::cli::kExitUsage;
  }
  const std::string first = argv[1];
  if (first.front() != '-' && !IsCommand(app, first)) {
    std::cerr << "flipreel: unknown command \"" << first << "\"; the commands are "
              << CommandNames(app) << "\n";
    return flipreel::cli::kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();  // a command that ran and failed; it has said why
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return flipreel::cli::kExitUsage;
  }
  return flipreel::cli::kExitRan;
}

// flipreel: plays, inspects and packs animated GIFs with the Flipreel control.
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/output.h"

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

// Every message starts "flipreel CMD: ", or "flipreel: " before a command is
// known.
std::string Prefix(const std::string& command) {
  return command.empty() ? "flipreel: " : "flipreel " + command + ": ";
}

// "help" and "help COMMAND": the tool's help, or a command's.
void AddHelpCommand(CLI::App& app, std::string& command) {
  CLI::App* help = app.add_subcommand("help", "Show the help of the tool, or of one command");
  help->add_option("command", command, "the command to show the help of");
  help->callback([&app, &command] {
    if (command.empty()) {
      std::cout << app.help();
      return;
    }
    CLI::App* sub = IsCommand(app, command) ? app.get_subcommand(command) : nullptr;
    if (!sub) {
      std::cerr << "flipreel help: unknown command \"" << command << "\"; the commands are "
                << CommandNames(app) << "\n";
      throw CLI::RuntimeError(flipreel::cli::kExitUsage);
    }
    std::cout << sub->help();
  });
}

int Run(int argc, char** argv);

}  // namespace

int main(int argc, char** argv) {
  flipreel::cli::GuardStandardDescriptors();
  const int status = Run(argc, argv);
  // What was written to standard output must have arrived, also when the
  // command wrote nothing else that could fail (help, the version).
  if (status != flipreel::cli::kExitNotWritten && !flipreel::cli::CloseStandardOutput()) {
    const std::string command = argc >= 2 && argv[1][0] != '-' ? argv[1] : "";
    std::cerr << Prefix(command) << "standard output cannot be written: " << std::strerror(errno)
              << "\n";
    return flipreel::cli::kExitNotWritten;
  }
  return status;
}

namespace {

int Run(int argc, char** argv) {
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
  std::string help_of;
  AddHelpCommand(app, help_of);
  // CLI11 takes a word that names no command for a stray argument and asks
  // for a command; say plainly what is wrong instead.
  if (argc < 2) {
    std::cerr << "flipreel: a command is required (" << CommandNames(app)
              << "); see flipreel help\n";
    return flipreel::cli::kExitUsage;
  }
  const std::string first = argv[1];
  if (first.empty() || (first.front() != '-' && !IsCommand(app, first))) {
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
    const std::string command = first.front() != '-' ? first : "";  // a command, by now
    std::cerr << Prefix(command) << e.what() << "; see flipreel help"
              << (command.empty() ? "" : " " + command) << "\n";
    return flipreel::cli::kExitUsage;
  }
  return flipreel::cli::kExitRan;
}

}  // namespace

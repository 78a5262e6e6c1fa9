// flipreel: plays, inspects and packs animated GIFs with the Flipreel control.
#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"flipreel - plays animated GIF images with the Flipreel control"};
  app.require_subcommand(1);
  flipreel::cli::AddHeadlessCommands(app);
#ifdef FLIPREEL_WITH_QT
  flipreel::cli::AddQtCommands(app, argc, argv);
#endif
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();  // a command that ran and failed; it has said why
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return flipreel::cli::kExitUsage;
  }
  return flipreel::cli::kExitRan;
}

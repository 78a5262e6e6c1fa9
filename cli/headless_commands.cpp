// info, simulate and pack: the commands that run the control on the headless
// host.
#include <sys/stat.h>

#include <chrono>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/control_setup.h"
#include "cli/options.h"
#include "cli/state_json.h"
#include "saved_form/saved_form.h"

namespace flipreel::cli {

namespace {

constexpr int kExitNotWritten = 1;  // pack: the form was not written
constexpr int kMaxTicks = 1000000;
// The longest a download may take before it fails with a time-out.
constexpr std::chrono::seconds kDownloadTimeout{60};

struct CommonOptions : InputOptions {
  bool json = false;
  bool design_time = false;
};

// A control set up on a headless host, with what went wrong told on err.
struct Session {
  HeadlessHost host;
  EventRecorder events;
  std::unique_ptr<Flipreel> control;
  SetupResult result;
  bool problem_reported = false;

  Session(const std::string& command, const CommonOptions& options, std::ostream& err) {
    host.SetUserMode(!options.design_time);
    control = std::make_unique<Flipreel>(host);
    control->AddListener(&events);
    const InputKind kind = ClassifyInput(options.input);
    std::optional<std::string> diagnosis;
    if (kind == InputKind::kGifFile) diagnosis = DiagnoseGifFile(options.input);
    SetupOptions setup = options.Setup();
    if (kind == InputKind::kUrl) {
      // Addresses are really fetched; the set-up waits until the read ends,
      // which the limit makes certain.
      DownloadLimits limits;
      limits.total_timeout = kDownloadTimeout;
      host.EnableDownloads(limits);
      setup.wait_for_download = [this](Flipreel&, Host&) {
        host.WaitForReads(kDownloadTimeout + std::chrono::seconds(5));
      };
    }
    result = SetUpControl(*control, host, options.input, setup);
    events.Take();

    const std::string prefix = "flipreel " + command + ": ";
    auto report = [&](const std::string& line) {
      err << prefix << line << "\n";
      problem_reported = true;
    };
    if (diagnosis) report(options.input + ": " + *diagnosis);
    if (result.error) {
      // Errors of a saved form name the file themselves.
      const std::string where = kind == InputKind::kSavedForm ? "" : options.input + ": ";
      report(where + "error " + std::to_string(result.error->number()) + ": " +
             result.error->description());
    }
    if (kind == InputKind::kUrl && !host.pending_reads().empty())
      report(options.input + ": the download did not complete");
    if (!control->state().FramesLoaded && !problem_reported) {
      std::string line = options.input + ": ";
      line += kind == InputKind::kSavedForm
                  ? "the control \"" + result.control_name + "\" holds no GIF it can show"
                  : "the control loaded no frames from it";
      if (!host.messages().empty()) line += " (" + TextToUtf8(host.messages().front().text) + ")";
      report(line);
    }
  }

  ~Session() { control->RemoveListener(&events); }
};

void AddCommonOptions(CLI::App& sub, CommonOptions& o) {
  AddInputOptions(sub, o);
  sub.add_flag("--json", o.json, "print JSON");
  sub.add_flag("--design-time", o.design_time, "run the control as in a designer (UserMode False)");
}

void RunInfo(const CommonOptions& o, std::ostream& out, std::ostream& err) {
  Session session("info", o, err);
  const Json state = StateJson(*session.control, session.host.messages(), session.result.error);
  if (o.json) {
    out << state.dump(2) << "\n";
  } else {
    PrintState(out, o.input, state);
  }
}

void RunSimulate(const CommonOptions& o, int tick_count, std::ostream& out, std::ostream& err) {
  Session session("simulate", o, err);
  Flipreel& control = *session.control;
  std::optional<HostError> error = session.result.error;
  Json ticks = Json::array();
  for (int t = 1; t <= tick_count && control.Timer1().enabled(); ++t) {
    std::optional<HostError> tick_error;
    try {
      // Composed frames keep their own delays: the clock moves on to each
      // tick, so that the ticks show when they come.
      const int32_t interval = control.Timer1().interval();
      if (control.Composed() && interval > 0) {
        session.host.Advance(interval);
      } else {
        session.host.DeliverTick();
      }
    } catch (const HostError& e) {
      tick_error = e;
    }
    Json tick = TickJson(t, session.events.Take(), control);
    if (tick_error) {
      // A tick that fails ends the simulation, as an unhandled error in a
      // timer event would end the program.
      tick["error"] =
          Json{{"number", tick_error->number()}, {"description", tick_error->description()}};
      err << "flipreel simulate: tick " << t << ": error " << tick_error->number() << ": "
          << tick_error->description() << "\n";
      if (!error) error = tick_error;
      ticks.push_back(std::move(tick));
      break;
    }
    ticks.push_back(std::move(tick));
  }
  Json state = StateJson(control, session.host.messages(), error);
  if (o.json) {
    state["ticks"] = std::move(ticks);
    out << state.dump(2) << "\n";
    return;
  }
  PrintState(out, o.input, state, /*with_frames=*/false);
  for (const Json& tick : ticks) PrintTick(out, tick);
}

struct PackOptions {
  CommonOptions common;
  std::string output;
  std::string name;
};

[[noreturn]] void NotWritten(std::ostream& err, const std::string& line) {
  err << "flipreel pack: " << line << "\n";
  throw CLI::RuntimeError(kExitNotWritten);
}

// The form to add the control to: the existing one at path, or a new one. A
// file there that is not a saved form is never overwritten.
SavedForm ExistingForm(const std::string& path, std::ostream& err) {
  struct stat st {};
  const bool something_there = ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
  if (something_there && (!S_ISREG(st.st_mode) || ClassifyInput(path) != InputKind::kSavedForm))
    NotWritten(err, path + ": exists and is not a saved form; not overwritten");
  try {
    return ReadFormToUpdate(path);
  } catch (const HostError& e) {
    NotWritten(
        err, "error " + std::to_string(e.number()) + ": " + e.description() + "; not overwritten");
  }
}

std::string FreeName(const SavedForm& form) {
  for (int n = 1;; ++n) {
    const std::string name = "Flipreel" + std::to_string(n);
    if (!form.Find(name)) return name;
  }
}

void RunPack(const PackOptions& p, std::ostream& out, std::ostream& err) {
  // A form is saved from a designer.
  CommonOptions o = p.common;
  o.design_time = true;
  Session session("pack", o, err);
  if (session.problem_reported)
    NotWritten(err, p.output + " not written: " + o.input + " gave the control no GIF to save");

  SavedForm form = ExistingForm(p.output, err);
  const std::string name = p.name.empty() ? FreeName(form) : p.name;
  SavedControl saved{std::string(kFlipreelProgId), name, PropertyBag(/*skip_defaults=*/true)};
  session.control->WriteProperties(saved.bag);
  try {
    PutControl(form, p.output, std::move(saved));
  } catch (const HostError& e) {
    NotWritten(
        err, "error " + std::to_string(e.number()) + ": " + e.description() + "; not overwritten");
  }
  try {
    WriteSavedForm(p.output, form);
  } catch (const HostError& e) {
    NotWritten(err, "error " + std::to_string(e.number()) + ": " + e.description());
  }
  const int32_t frames = session.control->state().LastFrame + 1;
  out << p.output << ": control \"" << name << "\" holds " << o.input << " (" << frames
      << (frames == 1 ? " frame)\n" : " frames)\n");
}

}  // namespace

void AddHeadlessCommands(CLI::App& app, std::ostream& out, std::ostream& err) {
  {
    auto o = std::make_shared<CommonOptions>();
    CLI::App* sub = app.add_subcommand("info", "Load a GIF or a saved form and print its state");
    AddCommonOptions(*sub, *o);
    AddComposedOption(*sub, *o);
    sub->callback([o, &out, &err] { RunInfo(*o, out, err); });
  }
  {
    auto o = std::make_shared<CommonOptions>();
    auto ticks = std::make_shared<int>(0);
    CLI::App* sub = app.add_subcommand(
        "simulate", "Load a GIF or a saved form and deliver timer ticks, printing each");
    AddCommonOptions(*sub, *o);
    AddPlayOptions(*sub, *o);
    sub->add_option("--ticks", *ticks, "ticks to deliver while the timer is on")
        ->required()
        ->check(CLI::Range(0, kMaxTicks));
    sub->callback([o, ticks, &out, &err] { RunSimulate(*o, *ticks, out, err); });
  }
  {
    auto p = std::make_shared<PackOptions>();
    CLI::App* sub =
        app.add_subcommand("pack", "Load a GIF into a new control and save it in a saved form");
    AddInputOptions(*sub, p->common);
    sub->add_option("-o,--output", p->output, "the saved form to write")->required();
    sub->add_option("--name", p->name, "the control's name in the form (default: Flipreel1, ...)");
    AddPlayOptions(*sub, p->common);
    sub->add_flag("--no-autostart", p->common.setup.no_autostart, "AutoStart False");
    sub->callback([p, &out, &err] { RunPack(*p, out, err); });
  }
}

void AddHeadlessCommands(CLI::App& app) {
  AddHeadlessCommands(app, std::cout, std::cerr);
}

}  // namespace flipreel::cli

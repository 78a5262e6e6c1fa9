// info, simulate and pack: the commands that run the control on the headless
// host.
#include <sys/stat.h>

#include <chrono>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/control_setup.h"
#include "cli/input.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/state_json.h"
#include "flipreel/control/load_outcome.h"
#include "flipreel/saved_form/saved_form.h"

namespace flipreel::cli {

namespace {

constexpr int kMaxTicks = 1000000;
// The longest a download may take before it fails with a time-out.
constexpr std::chrono::seconds kDownloadTimeout{60};

struct CommonOptions : InputOptions {
  bool json = false;
  bool design_time = false;
};

// The split's message box names only the error's number; the host knows why.
std::string WithReason(const std::string& box_text, const FileHost& host) {
  if (box_text.rfind("Error No. ", 0) != 0 || !host.last_picture_error()) return box_text;
  return box_text + "; " + host.last_picture_error()->description();
}

// A control set up on a headless host from one input, with what went wrong
// told on err.
struct Session {
  HeadlessHost host;
  EventRecorder events;
  std::unique_ptr<Flipreel> control;
  SetupResult result;
  // Why the input gave the control no GIF, or the error the set-up raised.
  std::optional<HostError> failure;

  Session(const std::string& command, const std::string& input, const CommonOptions& options,
          std::ostream& err) {
    host.SetUserMode(!options.design_time);
    control = std::make_unique<Flipreel>(host);
    control->AddListener(&events);
    options.ApplyMemoryBudget(host.memory_budget());
    PreparedInput prepared = PrepareInput(input);
    SetupOptions setup = options.Setup();
    setup.memory_budget = &host.memory_budget();
    if (prepared.kind == InputKind::kUrl) {
      // Addresses are really fetched; the set-up waits until the read ends,
      // which the limit makes certain.
      DownloadLimits limits;
      limits.total_timeout = kDownloadTimeout;
      host.EnableDownloads(limits);
      setup.wait_for_download = [this](Flipreel&, Host&) {
        host.WaitForReads(kDownloadTimeout + std::chrono::seconds(5));
      };
    } else {
      setup.content = std::move(prepared.bytes);
    }
    result = SetUpControl(*control, host, input, setup);
    events.Take();

    std::vector<Text> texts;
    for (const HeadlessHost::Message& m : host.messages()) texts.push_back(m.text);
    failure = prepared.problem ? prepared.problem
                               : LoadFailure(*control, result.error, host.trapped_errors());
    const bool pending = prepared.kind == InputKind::kUrl && !host.pending_reads().empty();
    if (pending && !result.error)
      failure = HostError(err::kDownloadTimedOut, "the download did not complete");

    // Every line is made printable: names and error texts come from files
    // and servers.
    const auto tell = [&](const std::string& line) { err << PrintableUtf8(line, 1000) << "\n"; };
    const std::string prefix = "flipreel " + command + ": " + ShownInput(input) + ": ";
    if (prepared.problem) {
      tell(prefix + prepared.reason);
    } else if (result.error) {
      // Errors of a saved form name the file themselves.
      tell((prepared.kind == InputKind::kSavedForm ? "flipreel " + command + ": " : prefix) +
           "error " + std::to_string(result.error->number()) + ": " + result.error->description() +
           (prepared.note.empty() ? "" : "; " + prepared.note));
    } else if (pending) {
      tell(prefix + "the download did not complete");
    } else if (failure) {
      std::string line =
          prepared.kind == InputKind::kSavedForm
              ? "the control \"" + result.control_name + "\" holds no GIF it can show"
              : "the control loaded no frames from it";
      if (!texts.empty()) line += " (" + WithReason(TextToUtf8(texts.front()), host) + ")";
      tell(prefix + line);
    }
  }

  ~Session() { control->RemoveListener(&events); }

  // Tells, once, that a classic load would look different composed: after
  // the text output, for people (JSON is read by programs, and its
  // standard error stays as it was).
  void TellClassicLook(const std::string& command, const std::string& input,
                       std::ostream& err) const {
    if (failure) return;
    const std::string note = ClassicLookNote(*control, "--composed");
    if (!note.empty())
      err << PrintableUtf8("flipreel " + command + ": " + ShownInput(input) + ": " + note, 1000)
          << "\n";
  }
};

void AddCommonOptions(CLI::App& sub, CommonOptions& o) {
  AddInputOptions(sub, o);
  sub.add_flag("--json", o.json, "print JSON");
  sub.add_flag("--design-time", o.design_time, "run the control as in a designer (UserMode False)");
}

std::function<int()>& AddressHandOver() {
  static std::function<int()> hand_over;
  return hand_over;
}

// Hands the command line over when one of the inputs is an address and this
// program cannot download; what it gives when that fails ends the command.
void HandOverAddresses(const std::vector<std::string>& inputs) {
  if (!AddressHandOver()) return;
  for (const std::string& input : inputs)
    if (IsAddress(input)) throw CLI::RuntimeError(AddressHandOver()());
}

// What the bytes the control holds say of themselves.
std::optional<GifFileFacts> HeldGifFacts(const Flipreel& control) {
  const std::shared_ptr<const std::string> bytes = control.state().Buffer.ToBytes();
  return ReadGifFacts(std::span(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
}

void RunInfo(const CommonOptions& o, const std::vector<std::string>& inputs, std::ostream& out,
             std::ostream& err) {
  HandOverAddresses(inputs);
  Json all = Json::array();
  bool failed = false;
  std::string text;
  for (const std::string& input : inputs) {
    Session session("info", input, o, err);
    failed |= session.failure.has_value();
    // The state after the set-up, what the file says of itself and which
    // input it was.
    const StateReport state =
        ReportState(*session.control, session.host.messages(), session.failure);
    const std::optional<GifFileFacts> facts = HeldGifFacts(*session.control);
    if (o.json) {
      Json j = StateJson(state);
      j["gif"] = GifJson(facts);
      j["input"] = ShownInput(input);
      all.push_back(std::move(j));
    } else {
      text.clear();
      PrintState(text, ShownInput(input), state);
      PrintGif(text, facts);
      WriteOutput("info", out, text, err);
      session.TellClassicLook("info", input, err);
    }
  }
  // One input gives one object, several an array of them.
  // Texts that are not UTF-8 (names, quotes of damaged files) get U+FFFD.
  if (o.json)
    WriteOutput(
        "info", out,
        (all.size() == 1 ? all[0] : all).dump(2, ' ', false, Json::error_handler_t::replace) + "\n",
        err);
  if (failed) throw CLI::RuntimeError(kExitNotLoaded);
}

void RunSimulate(const CommonOptions& o, int tick_count, std::ostream& out, std::ostream& err) {
  HandOverAddresses({o.input});
  Session session("simulate", o.input, o, err);
  Flipreel& control = *session.control;
  std::optional<HostError> error = session.failure;
  Json ticks = Json::array();
  for (int t = 1; t <= tick_count && control.Timer1().enabled(); ++t) {
    const std::optional<HostError> tick_error = Trap([&] {
      // Composed frames keep their own delays: the clock moves on to each
      // tick, so that the ticks show when they come.
      const int32_t interval = control.Timer1().interval();
      if (control.Composed() && interval > 0) {
        session.host.Advance(interval);
      } else {
        session.host.DeliverTick();
      }
    });
    Json tick = TickJson(t, session.events.Take(), control);
    if (tick_error) {
      // A tick that fails ends the simulation, as an unhandled error in a
      // timer event would end the program.
      tick["error"] =
          Json{{"number", tick_error->number()}, {"description", tick_error->description()}};
      err << "flipreel simulate: tick " << t << ": error " << tick_error->number() << ": "
          << PrintableUtf8(tick_error->description(), 1000) << "\n";
      if (!error) error = tick_error;
      ticks.push_back(std::move(tick));
      break;
    }
    ticks.push_back(std::move(tick));
  }
  const StateReport state = ReportState(control, session.host.messages(), error);
  if (o.json) {
    Json j = StateJson(state);
    j["ticks"] = std::move(ticks);
    WriteOutput("simulate", out, j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n", err);
  } else {
    std::string text;
    PrintState(text, ShownInput(o.input), state, /*with_frames=*/false);
    out << text;
    for (const Json& tick : ticks) PrintTick(out, tick);
    CheckOutput("simulate", out, err);
    session.TellClassicLook("simulate", o.input, err);
  }
  if (error) throw CLI::RuntimeError(kExitNotLoaded);
}

struct PackOptions {
  CommonOptions common;
  std::string output;
  std::string name;
};

[[noreturn]] void NotWritten(std::ostream& err, const std::string& line) {
  err << "flipreel pack: " << PrintableUtf8(line, 1000) << "\n";
  throw CLI::RuntimeError(kExitNotWritten);
}

[[noreturn]] void NotLoaded(std::ostream& err, const std::string& line) {
  err << "flipreel pack: " << PrintableUtf8(line, 1000) << "\n";
  throw CLI::RuntimeError(kExitNotLoaded);
}

// A file at the output that is not a saved form is never overwritten, and
// only a regular file is looked into (a named pipe would make us wait).
void CheckFormOutput(const std::string& path, std::ostream& err) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;
  if (!S_ISREG(st.st_mode)) NotWritten(err, path + ": is not a regular file; not overwritten");
  if (st.st_size > 0 && ClassifyInput(path) != InputKind::kSavedForm)
    NotWritten(err, path + ": exists and is not a saved form; not overwritten");
}

std::string FreeName(const SavedForm& form) {
  for (int n = 1;; ++n) {
    const std::string name = "Flipreel" + std::to_string(n);
    if (!form.Find(name)) return name;
  }
}

void RunPack(const PackOptions& p, std::ostream& out, std::ostream& err) {
  HandOverAddresses({p.common.input});
  // A name that is not UTF-8 could be stored only changed, and then not be
  // chosen again by the name given.
  if (TextToUtf8(Utf8ToText(p.name)) != p.name) {
    err << "flipreel pack: --name: " << PrintableUtf8(p.name, 200)
        << " is not valid UTF-8; a control's name must be\n";
    throw CLI::RuntimeError(kExitUsage);
  }
  if (p.output != "-") CheckOutputFile("pack", p.output, err);
  // A form is saved from a designer.
  CommonOptions o = p.common;
  o.design_time = true;
  Session session("pack", o.input, o, err);
  if (session.failure)
    NotLoaded(err, p.output + " not written: " + ShownInput(o.input) +
                       " gave the control no GIF to save");

  // "-" writes a new form to standard output.
  const bool to_stdout = p.output == "-";
  std::string name = p.name;
  SavedControl saved{std::string(kFlipreelProgId), name, PropertyBag(/*skip_defaults=*/true)};
  session.control->WriteProperties(saved.bag);
  const auto put = [&](SavedForm& form) {
    if (name.empty()) name = FreeName(form);
    saved.name = name;
    PutControl(form, p.output, std::move(saved));
  };
  try {
    if (to_stdout) {
      SavedForm form;
      put(form);
      WriteOutput("pack", out, SerializeSavedForm(form, "-"), err);
      return;
    }
    CheckFormOutput(p.output, err);
    // Read, changed and written under the form's lock, so that packs into
    // one form at the same time all land.
    UpdateSavedForm(p.output, put);
  } catch (const HostError& e) {
    NotWritten(
        err, "error " + std::to_string(e.number()) + ": " + e.description() + "; not overwritten");
  }
  const int32_t frames = session.control->state().LastFrame + 1;
  out << PrintableUtf8(p.output + ": control \"" + name + "\" holds " + ShownInput(o.input)) << " ("
      << frames << (frames == 1 ? " frame)\n" : " frames)\n");
  CheckOutput("pack", out, err);
}

}  // namespace

void AddHeadlessCommands(CLI::App& app, std::ostream& out, std::ostream& err,
                         std::string_view only) {
  // Each command, when it is wanted.
  const auto add = [&app, only](const char* name, const char* description) -> CLI::App* {
    return only.empty() || only == name ? app.add_subcommand(name, description) : nullptr;
  };
  if (CLI::App* sub = add("info", Description(kHeadlessCommands, "info"))) {
    auto o = std::make_shared<CommonOptions>();
    auto inputs = std::make_shared<std::vector<std::string>>();
    sub->add_option("input", *inputs,
                    "GIF files, saved forms, or addresses; - reads standard input")
        ->required();
    AddSourceOptions(*sub, *o);
    AddComposedOption(*sub, *o);
    sub->add_flag("--json", o->json, "print JSON");
    sub->add_flag("--design-time", o->design_time,
                  "run the control as in a designer (UserMode False)");
    sub->callback([o, inputs, &out, &err] { RunInfo(*o, *inputs, out, err); });
  }
  if (CLI::App* sub = add("simulate", Description(kHeadlessCommands, "simulate"))) {
    auto o = std::make_shared<CommonOptions>();
    auto ticks = std::make_shared<int>(0);
    AddCommonOptions(*sub, *o);
    AddPlayOptions(*sub, *o);
    sub->add_option("--ticks", *ticks, "ticks to deliver while the timer is on")
        ->required()
        ->check(WholeNumber(0, kMaxTicks));
    sub->callback([o, ticks, &out, &err] { RunSimulate(*o, *ticks, out, err); });
  }
  if (CLI::App* sub = add("pack", Description(kHeadlessCommands, "pack"))) {
    auto p = std::make_shared<PackOptions>();
    AddInputOptions(*sub, p->common);
    sub->add_option("-o,--output", p->output,
                    "the saved form to write; - writes a new form to stdout")
        ->required();
    sub->add_option("--name", p->name, "the control's name in the form (default: Flipreel1, ...)");
    AddPlayOptions(*sub, p->common);
    sub->add_flag("--no-autostart", p->common.setup.no_autostart, "AutoStart False");
    sub->callback([p, &out, &err] { RunPack(*p, out, err); });
  }
}

void SetAddressHandOver(std::function<int()> hand_over) {
  AddressHandOver() = std::move(hand_over);
}

bool IsHeadlessCommand(std::string_view word) {
  for (const auto& [name, description] : kHeadlessCommands)
    if (word == name) return true;
  return false;
}

void AddHeadlessCommands(CLI::App& app, std::string_view only) {
  AddHeadlessCommands(app, std::cout, std::cerr, only);
}

}  // namespace flipreel::cli

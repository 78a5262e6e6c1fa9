// Setting a control up from what a user names on the command line: a GIF
// file, a saved form, or an address to download. Shared by every command of
// the tool, whatever host it runs the control on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "flipreel/control/flipreel.h"
#include "flipreel/host/errors.h"
#include "flipreel/host/host.h"
#include "flipreel/host/memory_budget.h"

namespace flipreel::cli {

enum class InputKind : uint8_t {
  kGifFile,    // any path that is not a saved form (the control judges the bytes)
  kSavedForm,  // a file whose content is a saved form, whatever its name
  kUrl,        // http://, https://, file:// or www.
};

// Looks at the input: an address by its prefix, a saved form by its content
// (a JSON object after optional white space); everything else is a file for
// the control to load, including paths that do not exist or cannot be read.
InputKind ClassifyInput(const std::string& input);
// Whether an input names an address (by its prefix alone).
bool IsAddress(std::string_view input);
// The same by content alone: a saved form or a GIF file.
InputKind ClassifyContent(std::string_view bytes);

struct SetupOptions {
  // Set before the GIF is loaded (for a saved form: after it is restored).
  bool border = false;        // BorderStyle 1
  bool autosize = false;      // AutoSize True
  bool stretch = false;       // Stretch True
  bool no_autostart = false;  // AutoStart False
  bool composed = false;      // Composed True
  bool classic = false;       // Composed False (the Qt host's widget composes by default)
  // Assigned after the load (for a saved form: after it is restored).
  std::optional<int32_t> sequence;
  std::optional<int16_t> auto_rewind;

  // The input's content, when it has been read already (a file, or standard
  // input): a GIF is then loaded from these bytes through a private copy and a
  // saved form parsed from them, and the input names them in messages.
  std::optional<std::string> content;

  // Saved forms: the name of the control to restore; empty takes the form's
  // first control of the Flipreel class.
  std::string control_name;
  // Saved forms: what the restored pictures reserve their memory from (the
  // host's budget); none reserves nothing.
  const MemoryBudget* memory_budget = nullptr;

  // Addresses: the credentials, assigned before GifFromURL.
  std::string user;
  std::string password;
  // Called after GifFromURL has been assigned, to let the host finish the
  // download (deliver progress and completion) before the options that
  // follow a load are applied. Without it the read is left pending.
  std::function<void(Flipreel&, Host&)> wait_for_download;
};

struct SetupResult {
  InputKind kind = InputKind::kGifFile;
  // The first host error raised by an assignment or by the restore; the set-up
  // stops there and the control keeps what was done before it. For a saved
  // form the description names the file, the control and the key.
  std::optional<HostError> error;
  // Name of the restored control, for saved forms.
  std::string control_name;
};

// Sets a control up on its host, in this order:
//   GIF file:   InitProperties; BorderStyle, AutoSize, Stretch, AutoStart,
//               Composed as asked; FlipreelFile = the path (or the private
//               copy of the content); Sequence, AutoRewind.
//   Saved form: ReadProperties from the form's bag; then BorderStyle,
//               AutoSize, Stretch, AutoStart, Composed, Sequence, AutoRewind
//               as asked.
//   Address:    InitProperties; BorderStyle, AutoSize, Stretch, AutoStart,
//               Composed;
//               ServerUserName, ServerPassword (when given); GifFromURL = the
//               address; wait_for_download; Sequence, AutoRewind.
// The host's UserMode (run time or designer) is the caller's to set before.
// A form that cannot be read and running out of memory are reported as host
// errors too; nothing else escapes.
SetupResult SetUpControl(Flipreel& control, Host& host, const std::string& input,
                         const SetupOptions& options);

// For a classic control holding a GIF whose frames look different composed
// (partial frames, delays of their own): a note saying so that names the
// option which composes. Empty otherwise.
std::string ClassicLookNote(const Flipreel& control, const std::string& composing_option);

}  // namespace flipreel::cli

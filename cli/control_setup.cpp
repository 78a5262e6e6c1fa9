#include "cli/control_setup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "flipreel/control/load_outcome.h"
#include "flipreel/gif/gif_facts.h"
#include "flipreel/saved_form/saved_form.h"

namespace flipreel::cli {

namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// A saved form is a JSON object: its first byte after white space is '{'.
bool LooksLikeSavedForm(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);  // a UTF-8 byte order mark
  const size_t first = head.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && head[first] == '{';
}

// Runs one assignment; the first host error ends the set-up.
template <typename Fn>
bool Step(SetupResult& result, Fn&& step) {
  std::optional<HostError> failed = Trap(std::forward<Fn>(step));
  if (failed) result.error = std::move(failed);
  return !failed;
}

bool ApplyBeforeLoad(Flipreel& control, const SetupOptions& options, SetupResult& result) {
  return (!options.border || Step(result, [&] { control.SetBorderStyle(kBorderStyleSolid); })) &&
         (!options.autosize || Step(result, [&] { control.SetAutoSize(true); })) &&
         (!options.stretch || Step(result, [&] { control.SetStretch(true); })) &&
         (!options.no_autostart || Step(result, [&] { control.SetAutoStart(false); })) &&
         (!options.composed || Step(result, [&] { control.SetComposed(true); })) &&
         (!options.classic || Step(result, [&] { control.SetComposed(false); }));
}

bool ApplyAfterLoad(Flipreel& control, const SetupOptions& options, SetupResult& result) {
  return (!options.sequence || Step(result, [&] { control.SetSequence(*options.sequence); })) &&
         (!options.auto_rewind ||
          Step(result, [&] { control.SetAutoRewind(*options.auto_rewind); }));
}

}  // namespace

bool IsAddress(std::string_view input) {
  for (std::string_view prefix : {"http://", "https://", "file://", "www."})
    if (StartsWithNoCase(input, prefix)) return true;
  return false;
}

InputKind ClassifyInput(const std::string& input) {
  if (IsAddress(input)) return InputKind::kUrl;
  // Only a regular file is looked into, and opening it does not wait: a
  // named pipe without a writer would otherwise hold the tool for good.
  char head[4096];
  ssize_t n = -1;
  const int fd = ::open(input.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::read(fd, head, sizeof head);
  if (fd >= 0) ::close(fd);
  return ClassifyContent(std::string_view(head, n > 0 ? static_cast<size_t>(n) : 0));
}

InputKind ClassifyContent(std::string_view bytes) {
  return LooksLikeSavedForm(bytes.substr(0, 4096)) ? InputKind::kSavedForm : InputKind::kGifFile;
}

SetupResult SetUpControl(Flipreel& control, Host& host, const std::string& input,
                         const SetupOptions& options) {
  SetupResult result;
  result.kind = options.content ? ClassifyContent(*options.content) : ClassifyInput(input);
  switch (result.kind) {
    case InputKind::kGifFile:
      if (!Step(result, [&] { control.InitProperties(); })) break;
      if (!ApplyBeforeLoad(control, options, result)) break;
      if (!Step(result, [&] {
            if (options.content)
              LoadGifBytes(control, host, *options.content);
            else
              control.SetFlipreelFile(PathToText(input));
          }))
        break;
      ApplyAfterLoad(control, options, result);
      break;
    case InputKind::kSavedForm:
      if (!Step(result, [&] {
            const SavedForm form =
                options.content ? ParseSavedForm(*options.content, input) : ReadSavedForm(input);
            const SavedControl& saved =
                ChooseControl(form, input, options.control_name, kFlipreelProgId);
            result.control_name = saved.name;
            RestoreSavedControl(
                input, saved, [&](const PropertyBag& bag) { control.ReadProperties(bag); },
                options.memory_budget);
          }))
        break;
      if (!ApplyBeforeLoad(control, options, result)) break;
      ApplyAfterLoad(control, options, result);
      break;
    case InputKind::kUrl:
      if (!Step(result, [&] { control.InitProperties(); })) break;
      if (!ApplyBeforeLoad(control, options, result)) break;
      if (!options.user.empty() &&
          !Step(result, [&] { control.SetServerUserName(Utf8ToText(options.user)); }))
        break;
      if (!options.password.empty() &&
          !Step(result, [&] { control.SetServerPassword(Utf8ToText(options.password)); }))
        break;
      if (!Step(result, [&] { control.SetGifFromURL(Utf8ToText(input)); })) break;
      if (options.wait_for_download &&
          !Step(result, [&] { options.wait_for_download(control, host); }))
        break;
      ApplyAfterLoad(control, options, result);
      break;
  }
  return result;
}

std::string ClassicLookNote(const Flipreel& control, const std::string& composing_option) {
  if (control.Composed() || !control.state().FramesLoaded) return {};
  const std::shared_ptr<const std::string> bytes = control.state().Buffer.ToBytes();
  const std::optional<GifFileFacts> facts =
      ReadGifFacts(std::span(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
  if (!facts || !ComposingChangesLook(*facts)) return {};
  return "its frames look different composed (partial frames or delays of their own); " +
         composing_option + " shows them as drawn";
}

}  // namespace flipreel::cli

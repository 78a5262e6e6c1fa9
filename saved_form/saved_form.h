// Saved forms: the property bags of one or more controls in a file that users
// can keep, version and hand to a program. The file is JSON; docs/saved-forms.md
// describes it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "flipreel/host/errors.h"
#include "flipreel/host/memory_budget.h"
#include "flipreel/host/property_bag.h"

namespace flipreel {

inline constexpr std::string_view kSavedFormFormat = "Flipreel saved form";
// The version this program writes; it reads every version up to it. Version
// 2 added byte arrays stored as their low bytes (docs/saved-forms.md).
inline constexpr int kSavedFormVersion = 2;

// A picture as a form file holds it, checked but not decoded.
struct EncodedPicture {
  std::string encoding;  // "gif" or "argb32"
  std::string bytes;     // the value, base64 decoded
  int width = 0;         // argb32 only
  int height = 0;
};

struct SavedControl {
  std::string class_name;  // the control's programmatic identifier
  std::string name;        // unique within the form, matched without regard to case
  PropertyBag bag;
  // The pictures read from a file, by the index of their entry in bag, whose
  // value stays the empty picture until RestorableBag decodes them. So a
  // picture costs memory only when its control is restored and a read can
  // reach it: pictures of controls that are never restored, and pictures a
  // later entry of the same key overrides, are never decoded. Written back
  // as they were read.
  std::map<size_t, EncodedPicture> encoded_pictures = {};
};

struct SavedForm {
  std::vector<SavedControl> controls;

  // The control of that name (without regard to case), or null.
  const SavedControl* Find(std::string_view name) const;
  SavedControl* Find(std::string_view name);
};

struct SavedFormLimits {
  int64_t max_file_bytes = int64_t{256} << 20;
  int max_nesting = 16;  // JSON objects and arrays inside one another
};

// A saved form that cannot be read, written or restored. It is a host error
// (380 for damaged content, 481 for a picture that does not decode, the
// host's file errors for the file itself, or the error a restore raised)
// whose description names the file, the control and the key where they are
// known: `form.json: control "Flipreel1", key "Sequence": Type mismatch`.
class SavedFormError : public HostError {
 public:
  SavedFormError(int32_t number, std::string file, std::string control, std::string key,
                 std::string problem);
  const std::string& file() const { return file_; }
  const std::string& control() const { return control_; }  // empty when not known
  const std::string& key() const { return key_; }          // empty when not known
  const std::string& problem() const { return problem_; }

 private:
  std::string file_, control_, key_, problem_;
};

// Reads a whole form, checking everything the file says before anything is
// handed out: on a SavedFormError no bag of the file has been used.
SavedForm ReadSavedForm(const std::string& path, const SavedFormLimits& limits = {});
// The same from the file's text; file is the name used in messages.
SavedForm ParseSavedForm(std::string_view json, const std::string& file,
                         const SavedFormLimits& limits = {});

// Writes the form atomically: an unnamed temporary file in the same folder,
// flushed to the disk, then put in place of the old file, so that a crash
// while saving leaves either the old form or the new one and no temporary
// file. An existing file keeps its permissions, except that a form holding a
// ServerPassword is readable by its owner only. Only a regular file is
// replaced. A value that cannot be saved (a picture too large for GIF and for
// raw storage) is a SavedFormError and nothing is written.
void WriteSavedForm(const std::string& path, const SavedForm& form);

// Reads the form at path as ReadFormToUpdate does, lets change alter it and
// writes it back as WriteSavedForm does, all under an exclusive lock that
// every save and update of a form in that folder takes, so that two
// programs adding controls to one form at once both land. Both remove the
// temporary files that earlier saves killed part-way left behind.
void UpdateSavedForm(const std::string& path, const std::function<void(SavedForm&)>& change);
std::string SerializeSavedForm(const SavedForm& form, const std::string& file = "form");

// The control named name (without regard to case), or for an empty name the
// form's first control of class_name. A SavedFormError naming the file when
// there is none, or when the named control is of another class.
const SavedControl& ChooseControl(const SavedForm& form, const std::string& file,
                                  std::string_view name, std::string_view class_name);

// Puts a control into the form in place of the control of the same name
// (keeping that one's spelling of the name), or at the end. Replacing a
// control of another class is a SavedFormError naming the file.
void PutControl(SavedForm& form, const std::string& file, SavedControl control);

// The form at path that controls are to be added to: a new, empty form when
// there is no file there or an empty one; otherwise the file must be a
// regular file that reads as a saved form (ReadSavedForm's errors).
SavedForm ReadFormToUpdate(const std::string& path);

// Runs restore (usually a control's ReadProperties) on a control's bag and
// turns a host error it raises into a SavedFormError that names the file, the
// control and, when the error came from a saved value, its key. What restore
// did before the error stays done.
// The pictures a read can reach are decoded first, each reserving its memory
// from budget when one is given (a picture that does not decode is 481, one
// over the budget 7, both naming the key).
void RestoreSavedControl(const std::string& file, const SavedControl& control,
                         const std::function<void(const PropertyBag&)>& restore,
                         const MemoryBudget* budget = nullptr);

// The control's bag as a restore reads it: its encoded pictures that a read
// can reach decoded, the others left empty.
PropertyBag RestorableBag(const std::string& file, const SavedControl& control,
                          const MemoryBudget* budget = nullptr);

// Base64 (RFC 4648, with padding, no line breaks). Decoding is strict: false
// for any character outside the alphabet, a wrong length or bad padding.
std::string EncodeBase64(std::string_view bytes);
bool DecodeBase64(std::string_view text, std::string& bytes);

}  // namespace flipreel

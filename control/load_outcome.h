// What a host can tell its clients about a load beyond what the control says.
// The control raises no error for a file it cannot read or split (it shows a
// message box for some such files and nothing for others), so a host that
// wants to tell code why a load failed reads it from what the control left
// behind. Nothing here changes what the control does.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "flipreel/control/flipreel.h"
#include "flipreel/host/errors.h"
#include "flipreel/host/text.h"

namespace flipreel {

// The error in one of the control's error messages ("Error No. 481 : when
// reading file", "Error No:31002 ..." or "Error No: 31003 ..."): its number,
// and the description the message carries or, for the split's message, the
// standard description of the number. None for any other message.
std::optional<HostError> ErrorInMessage(TextView text);

// Why the load that just ended gave the control no GIF. The error the
// assignment raised, if any; else, when no frames are loaded, the error of the
// last error message the control showed during the load, or the
// invalid-picture error (481) when it showed none. None after a load that
// succeeded.
std::optional<HostError> LoadFailure(const Flipreel& control,
                                     const std::optional<HostError>& raised,
                                     std::span<const Text> messages);

// Loads bytes as the control loads a file: they are written to a file in the
// host's private folder, which is assigned to FlipreelFile and then removed.
// The same bytes therefore give the same frames (and the same messages)
// whether they came from a file, from memory or from a device. The
// assignment's errors reach the caller.
void LoadGifBytes(Flipreel& control, Host& host, std::string_view bytes);

}  // namespace flipreel

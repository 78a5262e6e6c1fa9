// What a host can tell its clients about a load beyond what the control says.
// The control raises no error for a file it cannot read or split (it shows a
// message box for some such files and nothing for others); it hands the
// errors it traps to its host as values (Host::ErrorTrapped), from which a
// host tells code why a load failed. Nothing here changes what the control
// does.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "flipreel/control/flipreel.h"
#include "flipreel/host/errors.h"

namespace flipreel {

// Why the load that just ended did not give the control its GIF whole. The
// error the assignment raised, if any; else the first error the control
// trapped during the load (Host::ErrorTrapped: the one that ended the split,
// or the first step it skipped, so that a damaged file gives the same number
// whether or not the control held frames before); else, when no frames are
// loaded, the invalid-picture error (481). None after a load that succeeded.
std::optional<HostError> LoadFailure(const Flipreel& control,
                                     const std::optional<HostError>& raised,
                                     std::span<const HostError> trapped);

// Loads bytes as the control loads a file: they are written to a file in the
// host's private folder, which is assigned to FlipreelFile and then removed.
// The same bytes therefore give the same frames (and the same messages)
// whether they came from a file, from memory or from a device. The
// assignment's errors reach the caller.
void LoadGifBytes(Flipreel& control, Host& host, std::string_view bytes);
// The file LoadGifBytes writes, in the host's private folder.
Text BytesFilePath(Host& host);

}  // namespace flipreel

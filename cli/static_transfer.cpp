// The transfer library as the statically linked tool sees it: a static
// program has no loader to load it with, so every download fails at once.
// The tool hands every command given an address to flipreel-qt before one
// starts. Linked into that tool only, this definition stands in for the
// loader of net/, whose object is then never taken from its archive (and the
// tool holds no reference to the loader's functions).
#include "flipreel/host/errors.h"
#include "flipreel/net/curl_library.h"

namespace flipreel {

const CurlLibrary& Curl() {
  Raise(err::kDeviceIo,
        "Downloads need libcurl.so.4: this program is linked statically and cannot load it");
}

}  // namespace flipreel

// Arbitrary bytes loaded from a file by a control on the headless host: the
// read, the frame split with its scratch files, the picture loader, and a few
// timer ticks over whatever frames came out. When the first byte is odd the
// control first holds a multi-frame GIF, so that the split runs in its
// skipping mode; otherwise it is a fresh control and ends at the first error.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "flipreel/control/flipreel.h"
#include "flipreel/headless/headless_host.h"
#include "fuzz/input_folder.h"

namespace {

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

// Two frames of 2 x 1 pixels: header, NETSCAPE loop, then per frame a
// Graphic Control Extension (delay 10) and an image with its data.
const uint8_t kTwoFrames[] = {
    'G', 'I',  'F',  '8', '9',  'a',  2,    0,    1,    0,    0x80, 0,   0,   0,    0,
    0,   255,  255,  255, 0x21, 0xFF, 11,   'N',  'E',  'T',  'S',  'C', 'A', 'P',  'E',
    '2', '.',  '0',  3,   1,    0,    0,    0,    0x21, 0xF9, 4,    0,   10,  0,    0,
    0,   0x2C, 0,    0,   0,    0,    2,    0,    1,    0,    0,    2,   2,   0x04, 0x0A,
    0,   0x21, 0xF9, 4,   0,    10,   0,    0,    0,    0x2C, 0,    0,   0,   0,    2,
    0,   1,    0,    0,   2,    2,    0x04, 0x0A, 0,    0x3B};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const InputFolder folder;
  const std::string path = folder.path() + "/input.gif";
  flipreel::HeadlessHost host;
  flipreel::Flipreel control(host);
  control.InitProperties();
  try {
    if (size > 0 && (data[0] & 1)) {
      WriteFile(path, kTwoFrames, sizeof kTwoFrames);
      control.SetFlipreelFile(flipreel::Utf8ToText(path));
      if (control.Frames() != 2) std::abort();
    }
    WriteFile(path, data, size);
    control.SetFlipreelFile(flipreel::Utf8ToText(path));
  } catch (const flipreel::HostError& e) {
    // Only the first frame's delay can fail the assignment: FrameRate overflows.
    if (e.number() != flipreel::err::kOverflow) std::abort();
  }
  const flipreel::FlipreelState& s = control.state();
  if (s.FramesLoaded && s.LastFrame != control.imgBuffer().count() - 1) std::abort();
  for (int i = 0; i < 4; ++i) host.DeliverTick();
  control.RemoveGif();
  ::unlink(path.c_str());
  return 0;
}

// Decoding announced frame files ahead of their loading, in parallel.
//
// A frame split announces the single-frame files it is about to write and
// load one after the other (Host::ExpectFrameFiles). The hosts hand them to
// an AheadDecoder, which decodes them on a small pool of threads (at most one
// per core, ended when idle), in file order, while the split goes on writing files and creating
// elements. When the host then loads a picture file whose bytes are those of
// the next announced file, the picture decoded ahead is handed out; any other
// file is decoded there and then. Since a picture is a function of the file's
// bytes alone, what the host answers (the picture, or the error and its
// number) is exactly what a decode at that moment gives, in the same order.
//
// A host that knows what its control's next split will announce, before the
// split runs, may start the decodes earlier still (Prepare); the split's
// announcement of the same files then takes them over.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "flipreel/host/host.h"
#include "flipreel/host/memory_budget.h"
#include "flipreel/host/picture.h"

namespace flipreel {

class AheadDecoder {
 public:
  AheadDecoder();
  ~AheadDecoder();
  AheadDecoder(const AheadDecoder&) = delete;
  AheadDecoder& operator=(const AheadDecoder&) = delete;

  // Starts decoding the files; decodes of an earlier announcement that have
  // not begun are dropped. An empty announcement only drops them.
  void Expect(FrameFileList files) noexcept;

  // Starts decoding the files of a split that has not begun, dropping
  // earlier decodes. An announcement of files cut the same way takes them
  // over; any other announcement drops them. `decoded` runs on a decoding
  // thread once every file is decoded, unless the decodes are dropped or
  // taken over first. False, with nothing started, when the files are not
  // worth decoding ahead or no thread could start. `decoded` runs outside the
  // decoder's locks and may call this decoder (while no other thread does);
  // once a later Expect, Prepare or the destructor returns, it is neither
  // running nor going to run (unless that call came from `decoded` itself).
  bool Prepare(FrameFileList files, std::function<void()> decoded) noexcept;

  // The picture of a GIF file with these bytes: DecodeGif(bytes), from the
  // decodes ahead when the bytes are those of the next announced file (or of
  // the one after it, when the split skipped a file it could not write).
  Picture Decode(std::span<const uint8_t> bytes);
  // The host has the picture of a GIF file with these bytes from elsewhere
  // (another control's): the decode ahead of it, when they are the next
  // announced file's, is let go rather than held for a Decode that never
  // comes.
  void Skip(std::span<const uint8_t> bytes);

  // Whether the next announced file's picture is decoded, so that Decode
  // would hand it out without waiting or decoding here (true when nothing
  // is decoding ahead).
  bool NextDecoded() const;
  // The first announced file's picture once it is decoded (and until it is
  // handed out), to show before the load has reached it; else empty.
  Picture FirstDecoded() const;

  // What the pictures reserve their memory from, ahead or not: the host's
  // budget (a handle on it, shared with the threads).
  void set_budget(const MemoryBudget& budget) { budget_ = budget; }
  // Where the picture of a file's bytes may be had already (another
  // control's): a file found there is not decoded ahead, and takes no room
  // in the budget. Called on the decoding threads; an empty picture when
  // there is none. Set before the first announcement.
  using Lookup = std::function<Picture(std::span<const uint8_t>)>;
  void set_lookup(Lookup lookup) { lookup_ = std::make_shared<const Lookup>(std::move(lookup)); }

  // Pictures handed out from the decodes ahead, for tests and benchmarks.
  int64_t taken() const { return taken_; }
  // Files decoded so far, ahead or here, for tests.
  int64_t decodes() const { return *decodes_; }

  struct Batch;

 private:
  bool Start(FrameFileList files, std::function<void()> decoded) noexcept;
  // The announced file these bytes are, when it is the next (or the one
  // after it), now passed; else kNone.
  size_t Next(std::span<const uint8_t> bytes);

  std::shared_ptr<Batch> batch_;
  std::optional<MemoryBudget> budget_;
  std::shared_ptr<const Lookup> lookup_;
  std::shared_ptr<std::atomic<int64_t>> decodes_ = std::make_shared<std::atomic<int64_t>>(0);
  size_t next_ = 0;  // the announced file expected next
  int64_t taken_ = 0;
};

}  // namespace flipreel

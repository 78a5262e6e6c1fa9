// The input a command names, made ready for the control. A file, or standard
// input given as "-", is read once here: the control then loads those bytes
// from a private copy, so nothing it does (it deletes an empty file assigned
// to it) can change the user's file. An address is left to the control.
#pragma once

#include <optional>
#include <string>

#include "cli/control_setup.h"
#include "flipreel/host/errors.h"

namespace flipreel::cli {

struct PreparedInput {
  std::string name;  // as the user wrote it
  InputKind kind = InputKind::kGifFile;
  // Files and standard input: the bytes read (for a saved form, the form's).
  std::string bytes;
  // Why the input cannot give the control a GIF, found before the control is
  // given it, as a host error (53 no such file, 70 cannot be read, 75 a
  // folder or not a regular file, 481 empty or not a GIF) and in plain words.
  std::optional<HostError> problem;
  std::string reason;
  // What the file shows that explains an error the control may raise from
  // it ("the file ends inside its first frame"), or empty.
  std::string note;
};

// Reads and classifies the input; never fails (what is wrong is the result's
// problem).
PreparedInput PrepareInput(const std::string& input);

// The input as messages and output show it: an address without its password.
std::string ShownInput(const std::string& input);

}  // namespace flipreel::cli

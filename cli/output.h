// Where the tool's commands write, under one rule for all of them, and how a
// write that fails is told.
//
// - A file (a saved form, a picture): its folder must exist, nothing is made
//   for it; something at the path that is not a regular file (a folder, a
//   device, a pipe) is never replaced. "-" is standard output.
// - A folder of files (frames, render --frames): its parent must exist; the
//   folder itself is made when it is missing. "-" is refused: standard
//   output is one stream, not a folder.
// - Standard output: every write is checked, and so is its closing at the
//   end of the program.
//
// A failure ends the command: "flipreel CMD: ..." on err and status 3 (2 for
// "-" as a folder, a usage error).
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace flipreel::cli {

// Checks an output file before the command does its work.
void CheckOutputFile(std::string_view command, const std::string& path, std::ostream& err);
// Checks an output folder and makes it when it is missing.
void MakeOutputFolder(std::string_view command, const std::string& path, std::ostream& err);

// Writes text to out (standard output, or a test's stream) and flushes it;
// a stream that cannot take it ends the command.
void WriteOutput(std::string_view command, std::ostream& out, std::string_view text,
                 std::ostream& err);
// After writing to out by other means: flushes it and ends the command when
// anything written so far has failed.
void CheckOutput(std::string_view command, std::ostream& out, std::ostream& err);

// Standard descriptors that are closed when the program starts are opened on
// /dev/null for reading only: a file the program opens then never takes
// their place (output meant for standard output would land in it), and a
// write to a closed standard output still fails, as it should.
void GuardStandardDescriptors();
// Flushes and closes standard output at the end of the program; false, with
// errno, when something written to it was lost.
bool CloseStandardOutput();

}  // namespace flipreel::cli

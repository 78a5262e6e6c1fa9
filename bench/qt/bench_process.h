// What both Qt benchmarks measure the same way: CPU and resident memory of
// this process, an event loop run for a while, QMovie's memory with CacheAll,
// and a measurement run in a child process whose "key=value" output is read
// back, so that each contender starts from a fresh process.
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <string>

namespace qtbench {

double CpuSeconds();

// Resident memory in MB, after giving freed heap back to the system so that
// both contenders are measured the same way.
double ResidentMb();

// Runs the event loop, sleeping while there is nothing to do.
void RunEventsFor(int ms);

// Loads `file` into a QMovie with CacheAll shown by a QLabel, decodes every
// frame once and prints "mb=... frames=...".
int MemoryMovie(const QString& file);

// Runs this program again with `args`; exits with a message naming `program`
// when the child fails or outlasts `timeout_minutes`.
std::map<std::string, double> RunChild(const char* program, const QStringList& args,
                                       int timeout_minutes);

}  // namespace qtbench

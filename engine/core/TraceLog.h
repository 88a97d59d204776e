// The trace log: one process-wide text file, open or closed, that records
// the engine version, the recorder scan, every executed command and what the
// image planning and import noticed. The line of a command is made by
// engine/device/CommandTrace.h.
// Lines are buffered and written under a lock of their own, so job threads
// and the caller's thread may trace at the same time.
#pragma once

#include <string>

namespace velk::trace {

// The engine version as the first line of every log carries it, and the
// GetVersion text (the same characters without "Version : " and the blank).
const char* versionText();

// Closes an open log, opens `path` for writing (truncated) and writes the
// banner. Returns false (and leaves the log closed) when it cannot be opened.
bool open(const std::string& path);
// The log's default place: $XDG_STATE_HOME/velk/velk.elg, or
// ~/.local/state/velk/velk.elg; the folder is created when missing.
std::string defaultPath();
// Returns true when a log was open.
bool close();
bool isOpen();

// printf-style; does nothing when the log is closed.
void write(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace velk::trace

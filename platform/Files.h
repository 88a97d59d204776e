// Files of the jobs beyond plain reading and writing: what lies at a path,
// an output written under a temporary name beside its target and put in
// place only when it is complete, and the system's reason for a failure.
#pragma once

#include <cstdio>
#include <string>

namespace velk::platform {

enum class PathKind { Missing, Regular, Directory, Other };

// What is at `path` (links followed).
PathKind pathKind(const std::string& path);

// The path with every symbolic link resolved (realpath); `path` itself when
// it cannot be resolved.
std::string resolvedPath(const std::string& path);

// True when both paths name the same file (device and inode).
bool sameFile(const std::string& a, const std::string& b);

// Creates a new, empty file for writing in the folder of `target`, under a
// hidden unique name, with the permissions `target` has (or would get when
// created). Null with the system error in lastSystemError() on failure.
std::FILE* createTempBeside(const std::string& target, std::string& tempPath);

// Puts `from` in place of `to` in one step; false with the system error.
bool replaceFile(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);

// Writes the file's buffered bytes and asks the system to put them on disk;
// false with the system error.
bool flushToDisk(std::FILE* file);

// The calling thread's last system error code, and its text.
int lastSystemError();
std::string systemErrorText(int code);

// A write past the process's file-size limit fails with "File too large"
// instead of killing the process.
void ignoreFileSizeSignal();

}  // namespace velk::platform

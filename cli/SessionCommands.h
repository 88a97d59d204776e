// The sessions already on a disc, as velk-cli shows and extends them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "engine/api/BurnEngine.h"

namespace velk {
struct FileItem;
}

namespace velk::cli {

// velk-cli ls [--device D] [--virtual DISC...] [--trace FILE] [--session N]
// lists the tree of session N (default 0: the last) as the import reads it:
// a "session N" line, then one line per entry, "PATH<TAB>SIZE<TAB>DATE",
// PATH from the root with "/" separators (a folder ends in "/", size 0),
// DATE as "YYYY-MM-DD HH:MM:SS" local time. Exit 1 when the disc holds no
// session with a tree.
void addSessionCommands(CLI::App& app);

// A file of the disc that the new session keeps, and its path ("/A/b.txt").
struct ImportedFile {
    const FileItem* item = nullptr;
    std::string path;
};

// What importForAppend took over from the disc.
struct AppendImport {
    int session = 0;  // the session imported; 0 when none
    std::vector<ImportedFile> files;
};

// For a burn, before it adds its paths (on a reset project): on a disc that
// holds a session with a tree, imports the last session into the root,
// switches replaceExisting on (a path of an imported name replaces that
// file) and prints "appending session N; keeping M files of the disc" to
// `out` (N: the new session). With `noImport` nothing is imported and, when
// the disc holds a session, prints "warning: --no-import: the files already
// on the disc will no longer be visible". A blank disc prints nothing.
AppendImport importForAppend(BurnEngine& engine, bool noImport, std::FILE* out);

// After the paths are added: one line "replacing PATH" per imported file
// that a path replaced. Returns how many.
int printReplacedFiles(const AppendImport& import, std::FILE* out);

// For `info`: one line per session of the disc, "session N: start S, size B
// blocks" (B: the blocks of its ISO 9660 volume from S, 0 when it has none).
void printSessionList(BurnEngine& engine, std::FILE* out);

}  // namespace velk::cli

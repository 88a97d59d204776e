// A virtual disc kept in files.
//
// A disc is two files: the disc file itself (the path the user names), a short
// text file holding the layout (medium, capacity, formatted size, sessions and
// tracks, whether a DVD-RW was blanked minimally, the number of buffer
// underruns met while writing it, and whether the tray was left open), and
// beside it "<disc file>.data", a sparse file with block N at byte offset
// N * 2048, so that a blank DVD costs no space. Read-only media name an image
// file (by its absolute path) instead of a data file.
//
// The layout file ends with an "end" line. A file without it, with a line
// that is malformed (a value out of range, a negative number, a key twice or
// missing), or with a layout that cannot be (tracks overlapping or beyond
// the capacity, sessions out of order) is refused, never repaired: the disc
// file is data, and a guess would overwrite it.
//
// Crash safety: the layout is never rewritten in place. save() first makes
// the written data durable (fdatasync of the data file), then writes the new
// layout to "<disc file>.tmp", syncs it and renames it over the disc file, so
// that a crash leaves either the old or the new layout, each describing data
// that is on disk. The recorder saves at every change of the layout (close,
// reserve, format, blank, eject and load) and at SYNCHRONIZE CACHE; blocks
// written after the last save are lost by a crash, as a drive's cache is lost
// at a power cut. A save that finds the layout as the file holds it writes
// nothing, so a program that only looks at a disc leaves the file untouched.
//
// One process drives a disc at a time; a later process that opens the same
// disc file sees every session the earlier ones left.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "virtual-recorder/DiscLayout.h"

namespace velk::vrec {

class DiscStore {
public:
    ~DiscStore();
    DiscStore(const DiscStore&) = delete;
    DiscStore& operator=(const DiscStore&) = delete;

    // A new disc of a writable kind (`capacity` 0 = the medium's default).
    // Replaces an existing disc file of that name (velk-cli asks for --force
    // first).
    static std::unique_ptr<DiscStore> create(const std::string& path, MediumKind kind, std::uint32_t capacity,
                                             std::string* error);
    // A pressed CD-ROM or DVD-ROM whose blocks are those of an image file;
    // the disc file keeps the image's absolute path.
    static std::unique_ptr<DiscStore> createPressed(const std::string& path, MediumKind kind,
                                                    const std::string& imagePath, std::string* error);
    // An existing disc. A layout file that is cut short, malformed or
    // inconsistent, or a missing data file, is refused: the error names the
    // file and says what is wrong with it. Nothing is written.
    static std::unique_ptr<DiscStore> open(const std::string& path, std::string* error);

    const std::string& path() const { return path_; }
    DiscLayout& layout() { return layout_; }
    const DiscLayout& layout() const { return layout_; }

    // Makes data and layout durable (see the header comment). A layout that
    // has not changed since it was read or saved is not written again.
    [[nodiscard]] bool save(std::string* error = nullptr);
    // Blocks never written read as zeros; false on an I/O error.
    [[nodiscard]] bool readBlocks(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) const;
    [[nodiscard]] bool writeBlocks(std::uint32_t lba, std::uint32_t count, const std::uint8_t* data);
    // Drops every recorded block (blank, format).
    [[nodiscard]] bool discardData();

    // Test helper: records `data` (padded to whole blocks) as one track of a
    // new session, as a burn would, and closes the session; `appendable`
    // leaves the disc open for a next session. On overwritable media the
    // data is written at block `overwriteAt` instead. Saves the disc.
    std::optional<Sense> writeSessionDirect(std::span<const std::uint8_t> data, bool appendable,
                                            std::uint32_t overwriteAt = 0);

    static std::string layoutText(const DiscLayout& layout);
    static std::optional<DiscLayout> parseLayout(const std::string& text, std::string* error);

private:
    DiscStore() = default;
    [[nodiscard]] bool openData(bool create, std::string* error);

    std::string path_;
    DiscLayout layout_;
    int dataFd_ = -1;
    std::string savedText_;   // the layout as the disc file holds it
    bool dataDirty_ = false;  // blocks written since the last sync
};

}  // namespace velk::vrec

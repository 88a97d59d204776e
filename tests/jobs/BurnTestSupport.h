// Helpers of the burn tests: a virtual disc served by the virtual
// recorder's plugin exactly as a user gets it (loaded by the engine's
// ASPI-style transport, configured through the environment), its command
// journal read back, the disc exported and read by independent readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/api/BurnEngine.h"
#include "engine/device/RecorderDevice.h"
#include "jobs/JobTestSupport.h"
#include "platform/DynamicLibrary.h"
#include "support/TempDir.h"
#include "virtual-recorder/DiscExport.h"
#include "virtual-recorder/DiscStore.h"
#include "virtual-recorder/Media.h"

namespace velk::testing {

inline const std::string PluginPath = std::string(VELK_BINARY_DIR) + "/virtual-recorder/libvelk-vrec.so";

// One command as the recorder's journal file records it.
struct JournalLine {
    std::vector<std::uint8_t> cdb;
    std::string status;  // "00" good, else status and sense
    std::string text;
    std::uint8_t opcode() const { return cdb.empty() ? 0 : cdb[0]; }
    bool good() const { return status.rfind("00", 0) == 0; }
};

// A disc file, the plugin serving it, and an engine that selected it.
class VirtualBurn {
public:
    // Simulated seconds per real second: recorder operations that take
    // minutes pass in milliseconds, and the engine polls at the same scale.
    static constexpr double DefaultScale = 1000.0;

    VirtualBurn() {
        void* library = platform::loadLibrary(PluginPath);
        if (library) {
            shutdown_ = reinterpret_cast<void (*)()>(platform::findSymbol(library, "vrecShutdown"));
        }
        disc = dir.str() + "/disc";
        journal = dir.str() + "/journal";
    }
    ~VirtualBurn() {
        if (shutdown_) shutdown_();
        for (const char* name : {"VELK_VIRTUAL_DISCS", "VELK_VIRTUAL_JOURNAL", "VELK_VIRTUAL_TIME_SCALE",
                                 "VELK_VIRTUAL_FAULTS", "VELK_VIRTUAL_CLOCK"}) {
            ::unsetenv(name);
        }
    }
    VirtualBurn(const VirtualBurn&) = delete;
    VirtualBurn& operator=(const VirtualBurn&) = delete;

    bool pluginLoaded() const { return shutdown_ != nullptr; }

    // A blank disc of `kind` (its default capacity unless `blocks`).
    void makeDisc(vrec::MediumKind kind, std::uint32_t blocks = 0) {
        std::string error;
        auto store = vrec::DiscStore::create(disc, kind, blocks, &error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->save(&error)) << error;
    }
    // Opens the disc file (the plugin must not hold it: call detach first).
    std::unique_ptr<vrec::DiscStore> openDisc() {
        std::string error;
        auto store = vrec::DiscStore::open(disc, &error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    // Serves the disc (with an optional fault plan), lets the engine find
    // and select it, and starts a fresh journal.
    void attach(const std::string& faults = "", double scale = DefaultScale) {
        detach();
        std::filesystem::remove(journal);
        ::setenv("VELK_VIRTUAL_DISCS", disc.c_str(), 1);
        ::setenv("VELK_VIRTUAL_JOURNAL", journal.c_str(), 1);
        ::setenv("VELK_VIRTUAL_TIME_SCALE", std::to_string(scale).c_str(), 1);
        if (faults.empty()) {
            ::unsetenv("VELK_VIRTUAL_FAULTS");
        } else {
            ::setenv("VELK_VIRTUAL_FAULTS", faults.c_str(), 1);
        }
        ASSERT_EQ(engine.Initialise(1, PluginPath.c_str(), 0, nullptr), 1);
        ASSERT_EQ(engine.GetDeviceCount(), 1);
        ASSERT_EQ(engine.SelectByIndex(0), 1);
        engine.device().pollTimeScale = scale;
    }
    // Ends the plugin's drives: the disc file is saved and free.
    void detach() {
        if (shutdown_) shutdown_();
    }

    std::vector<JournalLine> journalLines() const {
        std::vector<JournalLine> lines;
        std::ifstream in(journal);
        for (std::string line; std::getline(in, line);) {
            // "T0 2A 00 ... | out 65536 | 00"
            JournalLine entry;
            entry.text = line;
            std::size_t bar = line.find('|');
            std::istringstream cdb(line.substr(3, bar == std::string::npos ? std::string::npos : bar - 3));
            for (std::string byte; cdb >> byte;) entry.cdb.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
            std::size_t last = line.rfind('|');
            entry.status = last == std::string::npos ? "" : line.substr(last + 2);
            lines.push_back(entry);
        }
        return lines;
    }

    // The journal as the recorder wrote it, for failure messages.
    std::string journalText() const {
        std::string text;
        for (const JournalLine& line : journalLines()) text += line.text + "\n";
        return text;
    }

    // Exports the last session to an image file beside the disc.
    std::string exportSession(std::uint32_t session = 0) {
        detach();
        std::string image = dir.str() + "/session.iso";
        auto store = openDisc();
        if (!store) return image;
        std::string error;
        EXPECT_TRUE(vrec::exportImage(*store, session, image, &error)) << error;
        return image;
    }

    TempDir dir;
    std::string disc;
    std::string journal;
    BurnEngine engine;

private:
    void (*shutdown_)() = nullptr;
};

// The journal as the commands that tell a job apart: `name` gives a
// command's text ("" leaves it out; a refused one gets " (refused)"), and
// runs of consecutive WRITEs become one "WRITE first..last", followed by
// " (N)" with `countWrites`. With `goodWritesOnly` refused WRITEs are left
// out.
inline std::vector<std::string> summariseJournal(const std::vector<JournalLine>& lines,
                                                 const std::function<std::string(const std::vector<std::uint8_t>&)>& name,
                                                 bool goodWritesOnly, bool countWrites) {
    std::vector<std::string> out;
    std::uint32_t runStart = 0, runEnd = 0, runCount = 0;
    auto endRun = [&] {
        if (runCount == 0) return;
        out.push_back("WRITE " + std::to_string(runStart) + ".." + std::to_string(runEnd - 1) +
                      (countWrites ? " (" + std::to_string(runCount) + ")" : std::string()));
        runCount = 0;
    };
    for (const JournalLine& line : lines) {
        const std::vector<std::uint8_t>& c = line.cdb;
        if (c.size() < 6) continue;
        if (c[0] == 0x2A) {
            if (goodWritesOnly && !line.good()) continue;
            std::uint32_t lba = (std::uint32_t{c[2]} << 24) | (c[3] << 16) | (c[4] << 8) | c[5];
            std::uint32_t blocks = (c[7] << 8) | c[8];
            if (runCount == 0 || lba != runEnd) {
                endRun();
                runStart = lba;
                runEnd = lba;
            }
            runEnd += blocks;
            ++runCount;
            continue;
        }
        std::string text = name(c);
        if (text.empty()) continue;
        endRun();
        if (!line.good()) text += " (refused)";
        out.push_back(text);
    }
    endRun();
    return out;
}

// Runs the independent readers on `image` against `source`; their findings,
// empty when every reader sees every file byte for byte.
inline std::string readersDisagree(const std::string& image, const std::string& source, bool udf = true) {
    std::string command = "/usr/bin/python3 '" + std::string(VELK_SOURCE_DIR) + "/tests/jobs/read_back.py' '" + image +
                          "' '" + source + "'" + (udf ? "" : " --no-udf") + " 2>&1";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        int status = ::pclose(pipe);
        if (status != 0 && output.empty()) output = "read_back.py failed";
    }
    return output;
}

// A folder with what a burn must carry whole: nested folders, names outside
// ASCII, an empty file and a file over several chunks.
inline std::string makeSourceTree(const TempDir& dir) {
    dir.file("src/readme.txt", "a small file\n");
    dir.file("src/empty.dat", "");
    dir.file("src/a/b/c/deep.txt", "deep");
    dir.file("src/Música/Καλημέρα.txt", "greek and spanish");
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919u) >> 5);
    dir.file("src/data/big.bin", big);
    return dir.str() + "/src";
}

}  // namespace velk::testing

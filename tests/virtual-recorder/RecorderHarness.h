// Test support: a virtual recorder over a disc in a temporary folder, with
// small helpers that build the CDBs a burning program sends and decode the
// answers the tests look at.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "virtual-recorder/Bytes.h"
#include "virtual-recorder/DiscStore.h"
#include "virtual-recorder/DriveTiming.h"
#include "virtual-recorder/VirtualRecorder.h"

namespace velk::vrec::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velk-vrec-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct DiscInfo {
    std::uint8_t discStatus = 0;
    std::uint8_t lastSessionState = 0;
    bool erasable = false;
    std::uint32_t sessions = 0;
    std::uint32_t firstTrackInLastSession = 0;
    std::uint32_t lastTrackInLastSession = 0;
    std::uint8_t byte7 = 0;
};

struct TrackInfo {
    std::uint32_t number = 0;
    std::uint32_t session = 0;
    std::uint8_t flags6 = 0;
    bool nwaValid = false;
    std::uint32_t start = 0;
    std::uint32_t nwa = 0;
    std::uint32_t freeBlocks = 0;
    std::uint32_t packetSize = 0;
    std::uint32_t size = 0;
    std::uint32_t lastRecorded = 0;
    bool blank() const { return (flags6 & 0x40) != 0; }
    bool fixedPacket() const { return (flags6 & 0x10) != 0; }
    bool reserved() const { return (flags6 & 0x80) != 0; }
};

inline Sense senseOf(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) { return Sense{key, asc, ascq, {}}; }

inline std::vector<std::uint8_t> pattern(std::uint32_t blocks, std::uint32_t seed) {
    std::vector<std::uint8_t> data(std::size_t{blocks} * 2048);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>((i / 2048 + seed) * 7 + i);
    return data;
}

// Selects the recorder's manual clock: simulated time moves only when the
// test advances it (recorder->clock().advance) or the drive waits itself.
struct ManualClock {};

class Harness {
public:
    explicit Harness(std::optional<MediumKind> kind = MediumKind::CdR, std::uint32_t capacity = 0,
                     double timeScale = 1e6) {
        RecorderOptions options;
        options.timeScale = timeScale;
        start(options, kind, capacity);
    }
    explicit Harness(ManualClock, std::optional<MediumKind> kind = MediumKind::CdR, std::uint32_t capacity = 0) {
        RecorderOptions options;
        options.manualClock = true;
        start(options, kind, capacity);
    }
    std::string discPath() const { return dir.file("disc.vdisc"); }

    CommandResult run(std::vector<std::uint8_t> cdb, std::vector<std::uint8_t>* data = nullptr,
                      DataDirection dir = DataDirection::In) {
        std::span<std::uint8_t> span;
        if (data != nullptr) span = std::span<std::uint8_t>(data->data(), data->size());
        return recorder->run(std::span<const std::uint8_t>(cdb.data(), cdb.size()), span, dir);
    }
    std::vector<std::uint8_t> in(std::vector<std::uint8_t> cdb, std::size_t length, CommandResult* result = nullptr) {
        std::vector<std::uint8_t> data(length, 0);
        const CommandResult r = run(std::move(cdb), &data, DataDirection::In);
        if (result != nullptr) *result = r;
        return data;
    }
    CommandResult out(std::vector<std::uint8_t> cdb, std::vector<std::uint8_t> data) {
        return run(std::move(cdb), &data, DataDirection::Out);
    }

    DiscInfo discInfo() {
        CommandResult r;
        const auto d = in({0x51, 0, 0, 0, 0, 0, 0, 0, 66, 0}, 66, &r);
        EXPECT_TRUE(r.good()) << formatSense(r.sense);
        DiscInfo i;
        i.erasable = (d[2] & 0x10) != 0;
        i.lastSessionState = (d[2] >> 2) & 3;
        i.discStatus = d[2] & 3;
        i.sessions = d[4] | (d[9] << 8);
        i.firstTrackInLastSession = d[5] | (d[10] << 8);
        i.lastTrackInLastSession = d[6] | (d[11] << 8);
        i.byte7 = d[7];
        return i;
    }
    TrackInfo trackInfo(std::uint32_t track, CommandResult* result = nullptr) {
        CommandResult r;
        const auto d = in({0x52, 1, 0, 0, 0, static_cast<std::uint8_t>(track), 0, 0, 96, 0}, 96, &r);
        if (result != nullptr) *result = r;
        TrackInfo t;
        t.number = d[2] | (d[32] << 8);
        t.session = d[3] | (d[33] << 8);
        t.flags6 = d[6];
        t.nwaValid = (d[7] & 1) != 0;
        t.start = getBe32(&d[8]);
        t.nwa = getBe32(&d[12]);
        t.freeBlocks = getBe32(&d[16]);
        t.packetSize = getBe32(&d[20]);
        t.size = getBe32(&d[24]);
        t.lastRecorded = getBe32(&d[28]);
        return t;
    }
    std::uint16_t currentProfile() {
        const auto d = in({0x46, 2, 0, 0, 0, 0, 0, 0, 112, 0}, 112);
        return static_cast<std::uint16_t>(getBe16(&d[6]));
    }

    // Write parameters as a burning program sets them: MODE SENSE of page 5,
    // change the given bytes, MODE SELECT of the result.
    CommandResult setWriteParameters(std::uint8_t byte2, std::uint8_t byte3, std::uint32_t packetSize = 0,
                                     std::uint8_t linkSize = 0) {
        auto page = in({0x5A, 0, 0x05, 0, 0, 0, 0, 2, 0, 0}, 512);
        std::uint8_t* p = &page[8];
        p[2] = byte2;
        p[3] = byte3;
        p[5] = linkSize;
        putBe32(&p[10], packetSize);
        const std::uint32_t length = 8 + p[1] + 2;
        page.resize(length);
        page[0] = page[1] = 0;
        return out({0x55, 0x10, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(length >> 8),
                    static_cast<std::uint8_t>(length), 0},
                   page);
    }
    CommandResult write(std::uint32_t lba, const std::vector<std::uint8_t>& data) {
        const auto blocks = static_cast<std::uint32_t>(data.size() / 2048);
        std::vector<std::uint8_t> cdb(10, 0);
        cdb[0] = 0x2A;
        putBe32(&cdb[2], lba);
        putBe16(&cdb[7], blocks);
        return out(cdb, data);
    }
    std::vector<std::uint8_t> read(std::uint32_t lba, std::uint32_t blocks, CommandResult* result = nullptr) {
        std::vector<std::uint8_t> cdb(10, 0);
        cdb[0] = 0x28;
        putBe32(&cdb[2], lba);
        putBe16(&cdb[7], blocks);
        return in(cdb, std::size_t{blocks} * 2048, result);
    }
    CommandResult close(std::uint8_t function, std::uint16_t track, bool immed = false) {
        return run({0x5B, static_cast<std::uint8_t>(immed ? 1 : 0), function, 0, static_cast<std::uint8_t>(track >> 8),
                    static_cast<std::uint8_t>(track), 0, 0, 0, 0});
    }
    CommandResult synchronizeCache(bool immed = false) {
        return run({0x35, static_cast<std::uint8_t>(immed ? 2 : 0), 0, 0, 0, 0, 0, 0, 0, 0});
    }
    CommandResult formatUnit(std::vector<std::uint8_t> list) {
        return out({0x04, 0x11, 0, 0, 0, 0}, std::move(list));
    }
    CommandResult testUnitReady() { return run({0, 0, 0, 0, 0, 0}); }

    // Simulated time passing: the host waits `seconds` before its next command.
    void pause(double seconds) { recorder->clock().advance(seconds); }

    TempDir dir;
    std::unique_ptr<VirtualRecorder> recorder;

private:
    void start(const RecorderOptions& options, std::optional<MediumKind> kind, std::uint32_t capacity) {
        recorder = std::make_unique<VirtualRecorder>(options);
        if (kind) {
            std::string error;
            auto disc = DiscStore::create(discPath(), *kind, capacity, &error);
            EXPECT_TRUE(disc) << error;
            recorder->insertDisc(std::move(disc));
        }
    }
};

// FORMAT UNIT parameter lists the engine sends.
inline std::vector<std::uint8_t> dvdPlusRwFullFormat() {
    return {0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
}
inline std::vector<std::uint8_t> dvdRwQuickFormat() {
    return {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
}
inline std::vector<std::uint8_t> dvdRwGrowFormat() {
    return {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x00, 0x00, 0x10};
}
inline std::vector<std::uint8_t> dvdRamFullFormat() {
    return {0x00, 0x82, 0x00, 0x08, 0x00, 0x22, 0x21, 0x20, 0x00, 0x00, 0x08, 0x00};
}

}  // namespace velk::vrec::test

#include "virtual-recorder/Media.h"

#include <array>

namespace velk::vrec {

namespace {

constexpr std::array<MediumInfo, 11> kMedia = {{
    {MediumKind::CdRom, "cd-rom", "CD-ROM", 0x0008, Recording::ReadOnly, true, false, false, 0, 0, 48},
    {MediumKind::CdR, "cd-r", "CD-R", 0x0009, Recording::Sequential, true, false, false, 359847, 48, 48},
    {MediumKind::CdRw, "cd-rw", "CD-RW", 0x000A, Recording::Sequential, true, true, true, 359847, 24, 40},
    {MediumKind::DvdRom, "dvd-rom", "DVD-ROM", 0x0010, Recording::ReadOnly, false, false, false, 0, 0, 16},
    {MediumKind::DvdR, "dvd-r", "DVD-R", 0x0011, Recording::Sequential, false, false, false, 2295104, 16, 16},
    {MediumKind::DvdRam, "dvd-ram", "DVD-RAM", 0x0012, Recording::RandomOverwrite, false, true, false, 2236704, 5, 5},
    {MediumKind::DvdRwRestricted, "dvd-rw-ro", "DVD-RW restricted overwrite", 0x0013,
     Recording::RandomOverwrite, false, true, true, 2295104, 6, 8},
    {MediumKind::DvdRwSequential, "dvd-rw", "DVD-RW sequential", 0x0014, Recording::Sequential, false, true, true,
     2295104, 6, 8},
    {MediumKind::DvdPlusRw, "dvd+rw", "DVD+RW", 0x001A, Recording::RandomOverwrite, false, true, false, 2295104, 8, 8},
    {MediumKind::DvdPlusR, "dvd+r", "DVD+R", 0x001B, Recording::Sequential, false, false, false, 2295104, 16, 16},
    {MediumKind::DvdPlusRDl, "dvd+r-dl", "DVD+R dual layer", 0x002B, Recording::Sequential, false, false, false,
     4173824, 8, 8},
}};

constexpr std::uint16_t kCdSpeeds[] = {48, 40, 32, 24, 16, 10, 8, 4};
constexpr std::uint16_t kDvdSpeeds[] = {16, 12, 8, 6, 5, 4, 2, 1};

}  // namespace

const MediumInfo& mediumInfo(MediumKind kind) {
    for (const auto& m : kMedia) {
        if (m.kind == kind) return m;
    }
    return kMedia[0];
}

std::optional<MediumKind> mediumFromName(std::string_view name) {
    for (const auto& m : kMedia) {
        if (name == m.name) return m.kind;
    }
    return std::nullopt;
}

std::optional<MediumKind> mediumFromProfile(std::uint16_t profile) {
    for (const auto& m : kMedia) {
        if (m.profile == profile) return m.kind;
    }
    return std::nullopt;
}

std::uint32_t speedKbps(bool cd, double times) {
    return static_cast<std::uint32_t>(times * (cd ? 176.4 : 1385.0) + 0.5);
}

double userBytesPerSecond(bool cd, std::uint32_t kbps) {
    const double raw = kbps * 1000.0;
    return cd ? raw * 2048.0 / 2352.0 : raw;
}

const std::uint16_t* supportedWriteSpeeds(bool cd, std::size_t& count) {
    if (cd) {
        count = std::size(kCdSpeeds);
        return kCdSpeeds;
    }
    count = std::size(kDvdSpeeds);
    return kDvdSpeeds;
}

std::uint32_t sessionGapBlocks(MediumKind kind, std::uint32_t closedSessions) {
    switch (kind) {
    case MediumKind::CdR:
    case MediumKind::CdRw:
        return (closedSessions <= 1 ? CdFirstLeadOutBlocks : CdLaterLeadOutBlocks) + CdLeadInBlocks +
               CdPreGapBlocks;
    case MediumKind::DvdR:
    case MediumKind::DvdRwSequential:
        return closedSessions <= 1 ? DvdMinusFirstBorderBlocks : DvdMinusLaterBorderBlocks;
    default:
        return DvdPlusSessionGapBlocks;
    }
}

}  // namespace velk::vrec

#include "engine/core/Media.h"

#include <iterator>

namespace velk {
namespace {

using F = MediumFamily;
using R = Recording;
using O = WriteOrder;
using C = CloseFunctions;
using W = WriteMode;
using E = EraseMethod;
using M = FormatMethod;

// One row per disc type, in code order. The profiles are those of the MMC
// profile list.
constexpr Medium Rows[] = {
    // type, profile, name;
    // family, recording, write order, test write, close functions, write mode, erase, format
    {DiscNone, 0x0000, "none",
     F::None, R::None, O::None, false, C::Generic, W::TrackAtOnce, E::None, M::None},
    {DiscCdRom, 0x0008, "CD-ROM",
     F::Cd, R::ReadOnly, O::None, false, C::Generic, W::TrackAtOnce, E::None, M::None},
    {DiscCdR, 0x0009, "CD-R",
     F::Cd, R::WriteOnce, O::Sequential, true, C::Cd, W::TrackAtOnce, E::None, M::None},
    {DiscCdRw, 0x000A, "CD-RW",
     F::Cd, R::Rewritable, O::Sequential, true, C::Cd, W::TrackAtOnce, E::Blank, M::None},
    {DiscDvdRom, 0x0010, "DVD-ROM",
     F::Dvd, R::ReadOnly, O::None, false, C::Generic, W::TrackAtOnce, E::None, M::None},
    {DiscDvdR, 0x0011, "DVD-R",
     F::Dvd, R::WriteOnce, O::Sequential, true, C::DvdMinusR, W::DvdMinusPacket, E::None, M::None},
    {DiscDvdRam, 0x0012, "DVD-RAM",
     F::Dvd, R::Rewritable, O::Random, false, C::Generic, W::TrackAtOnce, E::Format, M::Full},
    {DiscDvdRwRestricted, 0x0013, "DVD-RW restricted overwrite",
     F::Dvd, R::Rewritable, O::Overwrite, false, C::DvdMinusRw, W::DvdMinusPacket, E::Blank, M::Grow},
    {DiscDvdRwSequential, 0x0014, "DVD-RW sequential",
     F::Dvd, R::Rewritable, O::Sequential, true, C::DvdMinusRw, W::DvdMinusPacket, E::Blank, M::Quick},
    {DiscDvdPlusRw, 0x001A, "DVD+RW",
     F::Dvd, R::Rewritable, O::Overwrite, false, C::DvdPlusRw, W::DvdPlus, E::Format, M::Background},
    {DiscDvdPlusR, 0x001B, "DVD+R",
     F::Dvd, R::WriteOnce, O::Sequential, false, C::DvdPlusR, W::DvdPlus, E::None, M::None},
    {DiscDvdPlusRDualLayer, 0x002B, "DVD+R DL",
     F::Dvd, R::WriteOnce, O::Sequential, false, C::DvdPlusRDualLayer, W::DvdPlusRDualLayer, E::None, M::None},
    {DiscDdcdRom, 0x0020, "DDCD-ROM",
     F::Ddcd, R::ReadOnly, O::None, false, C::Generic, W::TrackAtOnce, E::None, M::None},
    {DiscDdcdR, 0x0021, "DDCD-R",
     F::Ddcd, R::WriteOnce, O::Sequential, true, C::Generic, W::DdcdSessionAtOnce, E::None, M::None},
    {DiscDdcdRw, 0x0022, "DDCD-RW",
     F::Ddcd, R::Rewritable, O::Sequential, true, C::Generic, W::DdcdSessionAtOnce, E::Blank, M::None},
};

constexpr Medium Unknown = {DiscNone, 0x0000, "unknown", F::None, R::None, O::None, false,
                            C::Generic, W::TrackAtOnce, E::None, M::None};

}  // namespace

const Medium& mediumOf(int type) {
    for (const Medium& row : Rows) {
        if (row.type == type) return row;
    }
    return Unknown;
}

DiscType discTypeOfProfile(std::uint16_t profile) {
    if (profile == 0) return DiscNone;
    for (const Medium& row : Rows) {
        if (row.profile == profile) return row.type;
    }
    return DiscNone;
}

MediumRows allMedia() { return {Rows, std::size(Rows)}; }

}  // namespace velk

// The MMC commands of the virtual recorder: one handler per command and the
// command table at the end of this file, the one place where an opcode meets
// its handler. Each handler returns nothing for GOOD status or the sense of
// its CHECK CONDITION; the dispatcher (VirtualRecorder.cpp) has already
// answered faults, unit attentions, operations in progress and a missing
// medium for the commands that need one.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "virtual-recorder/Bytes.h"
#include "virtual-recorder/RecorderState.h"

namespace velk::vrec {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A response of `size` zero bytes with room to grow: responses are built by
// appending, and reserving up front also keeps g++ 12's -Warray-bounds
// false positive on vector growth at -O3 away.
Bytes response(std::size_t size) {
    Bytes out;
    out.reserve(512);
    out.resize(size, 0);
    return out;
}
using Result = std::optional<Sense>;
constexpr std::uint32_t kBlock = 2048;

// Simulated durations of the long operations, in seconds.
constexpr double kCloseTrackSeconds = 1.0;
constexpr double kCloseSessionCdSeconds = 20.0;
constexpr double kCloseSessionDvdSeconds = 10.0;
constexpr double kFinaliseSeconds = 30.0;
constexpr double kBackgroundFormatSeconds = 3.0;
constexpr double kQuickFormatSeconds = 20.0;
constexpr double kGrowFormatSeconds = 5.0;
constexpr double kMinimalBlankSeconds = 30.0;

// ATIP start of the lead-in of an 80-minute disc (97:26:66).
constexpr Msf kAtipLeadIn{97, 26, 66};

DiscLayout& layoutOf(CommandContext& c) { return c.st.disc->layout(); }

// Runs a long operation: with Immed the drive is not ready until it ends,
// without it the command takes that long.
void runLong(CommandContext& c, bool immed, double seconds, const Sense& whileRunning) {
    if (immed) {
        c.st.pending.start(c.st.clock, seconds, whileRunning);
    } else {
        c.st.clock.sleepFor(seconds);
    }
}

Result saveOrFail(CommandContext& c) {
    return c.st.disc->save() ? Result{} : Result{sense::WriteError};
}

void putAddress(std::uint8_t* p, std::uint32_t lba, bool msf) {
    if (msf) {
        const Msf m = lbaToMsf(lba);
        p[0] = 0;
        p[1] = m.minute;
        p[2] = m.second;
        p[3] = m.frame;
    } else {
        putBe32(p, lba);
    }
}

// ---- basic commands -------------------------------------------------------

Result testUnitReady(CommandContext&) { return std::nullopt; }

Result rezeroUnit(CommandContext&) { return std::nullopt; }

Result requestSense(CommandContext& c) {
    Sense s{};
    if (auto running = c.st.pending.check(c.st.clock)) {
        s = *running;
    } else if (c.st.lastSense) {
        s = *c.st.lastSense;
    }
    c.st.lastSense.reset();
    Bytes out(FixedSenseBytes);
    writeFixedSense(s, out.data(), out.size());
    c.respond(out, c.cdb[4]);
    return std::nullopt;
}

Result inquiry(CommandContext& c) {
    if ((c.cdb[1] & 0x01) != 0 || c.cdb[2] != 0) return sense::InvalidFieldInCdb;
    Bytes out(36, ' ');
    out[0] = 0x05;  // CD/DVD device
    out[1] = 0x80;  // removable
    out[2] = 0x05;
    out[3] = 0x02;
    out[4] = 31;
    out[5] = out[6] = out[7] = 0;
    auto put = [&](std::size_t at, std::size_t width, const std::string& text) {
        for (std::size_t i = 0; i < width && i < text.size(); ++i) out[at + i] = static_cast<std::uint8_t>(text[i]);
    };
    put(8, 8, c.st.options.vendor);
    put(16, 16, c.st.options.product);
    put(32, 4, c.st.options.revision);
    c.respond(out, getBe16(c.cdb + 3));
    return std::nullopt;
}

Result startStopUnit(CommandContext& c) {
    const bool loadEject = (c.cdb[4] & 0x02) != 0;
    const bool start = (c.cdb[4] & 0x01) != 0;
    if (!loadEject) return std::nullopt;
    auto& st = c.st;
    st.endRecording();
    if (!start) {
        if (st.removalPrevented) return sense::RemovalPrevented;
        st.setTrayOpen(true);
        st.pending.cancel();
        st.buffer.clear();
        return std::nullopt;
    }
    if (st.trayOpen) {
        st.setTrayOpen(false);
        if (st.disc && st.faults.takeUnitAttentionOnLoad()) st.unitAttention = sense::MediumChanged;
    }
    return std::nullopt;
}

Result preventAllow(CommandContext& c) {
    c.st.removalPrevented = (c.cdb[4] & 0x01) != 0;
    return std::nullopt;
}

// ---- configuration --------------------------------------------------------

struct Feature {
    std::uint16_t code;
    std::uint8_t version;
    bool persistent;
    bool current;
    Bytes body;
};

std::vector<Feature> features(const VirtualRecorder::State& st) {
    const bool present = st.mediumPresent();
    const DiscLayout* d = present ? &st.disc->layout() : nullptr;
    const MediumKind kind = d ? d->medium : MediumKind::CdRom;
    auto is = [&](std::initializer_list<MediumKind> kinds) {
        return d != nullptr && std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
    };
    const bool cd = d != nullptr && d->info().cd;
    const bool dvd = d != nullptr && !d->info().cd;

    std::vector<Feature> list;
    Bytes profiles;
    for (std::uint16_t p : {0x002B, 0x001B, 0x001A, 0x0014, 0x0013, 0x0012, 0x0011, 0x0010, 0x000A, 0x0009, 0x0008}) {
        const bool currentProfile = d != nullptr && d->info().profile == p;
        profiles.insert(profiles.end(), {static_cast<std::uint8_t>(p >> 8), static_cast<std::uint8_t>(p),
                                         static_cast<std::uint8_t>(currentProfile ? 1 : 0), 0});
    }
    list.push_back({0x0000, 0, true, true, profiles});
    list.push_back({0x0001, 1, true, true, {0, 0, 0, 2, 1, 0, 0, 0}});  // core: ATAPI, DBE
    list.push_back({0x0003, 0, true, true, {0x29, 0, 0, 0}});           // removable: tray, eject, lock
    list.push_back({0x0010, 0, false, present, {0, 0, 0x08, 0, 0, static_cast<std::uint8_t>(dvd ? 16 : 1), 0, 0}});
    list.push_back({0x001E, 1, false, cd, {0, 0, 0, 0}});
    list.push_back({0x001F, 0, false, dvd, {}});
    const bool randomWritable = is({MediumKind::DvdRam, MediumKind::DvdPlusRw, MediumKind::DvdRwRestricted}) &&
                                d->formattedBlocks != 0;
    Bytes random(12, 0);
    if (d != nullptr) putBe32(&random[0], d->formattedBlocks == 0 ? 0 : d->formattedBlocks - 1);
    putBe32(&random[4], kBlock);
    putBe16(&random[8], 16);
    list.push_back({0x0020, 0, false, randomWritable, random});
    list.push_back({0x0021, 0, false, is({MediumKind::CdR, MediumKind::CdRw, MediumKind::DvdR, MediumKind::DvdRwSequential}),
                    {0x00, 0x01, 0x40, 0x01, 0x10, 0, 0, 0}});
    list.push_back({0x0023, 0, false, is({MediumKind::DvdPlusRw, MediumKind::DvdRwSequential,
                                          MediumKind::DvdRwRestricted, MediumKind::DvdRam}), {}});
    list.push_back({0x0026, 0, false, is({MediumKind::DvdRwRestricted}), {}});
    list.push_back({0x002A, 0, false, is({MediumKind::DvdPlusRw}), {0x01, 0x00, 0, 0}});
    list.push_back({0x002B, 0, false, is({MediumKind::DvdPlusR}), {0x01, 0, 0, 0}});
    list.push_back({0x002D, 2, false, is({MediumKind::CdR, MediumKind::CdRw}), {0x46, 0, 0x00, 0x01}});
    list.push_back({0x002F, 1, false, is({MediumKind::DvdR, MediumKind::DvdRwSequential}), {0x46, 0, 0, 0}});
    list.push_back({0x003B, 0, false, is({MediumKind::DvdPlusRDl}), {0x01, 0, 0, 0}});
    return list;
}

Result getConfiguration(CommandContext& c) {
    const std::uint8_t rt = c.cdb[1] & 0x03;
    if (rt == 3) return sense::InvalidFieldInCdb;
    const std::uint16_t startFeature = static_cast<std::uint16_t>(getBe16(c.cdb + 2));
    Bytes out = response(8);
    const auto& st = c.st;
    putBe16(&out[6], st.mediumPresent() ? st.disc->layout().info().profile : 0);
    for (const auto& f : features(st)) {
        const bool wanted = rt == 2 ? f.code == startFeature : (f.code >= startFeature && (rt == 0 || f.current));
        if (!wanted) continue;
        out.push_back(static_cast<std::uint8_t>(f.code >> 8));
        out.push_back(static_cast<std::uint8_t>(f.code));
        out.push_back(static_cast<std::uint8_t>((f.version << 2) | (f.persistent ? 2 : 0) | (f.current ? 1 : 0)));
        out.push_back(static_cast<std::uint8_t>(f.body.size()));
        out.insert(out.end(), f.body.begin(), f.body.end());
    }
    putBe32(&out[0], static_cast<std::uint32_t>(out.size() - 4));
    c.respond(out, getBe16(c.cdb + 7));
    return std::nullopt;
}

// ---- mode pages -----------------------------------------------------------

constexpr std::uint8_t kCapabilitiesPageLength = 0x2E;  // 48 bytes with 4 speed descriptors

Bytes capabilitiesPage(const VirtualRecorder::State& st, bool defaults) {
    Bytes p(2 + kCapabilitiesPageLength, 0);
    p[0] = 0x2A;
    p[1] = kCapabilitiesPageLength;
    p[2] = 0x3F;  // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
    p[3] = 0x37;  // writes CD-R, CD-RW, DVD-R, DVD-RAM; test write
    p[4] = 0xF0;  // buffer-underrun-free, multi-session, mode 2 forms 1 and 2
    p[5] = 0x00;
    p[6] = static_cast<std::uint8_t>(0x29 | (st.removalPrevented ? 0x02 : 0));
    putBe16(&p[8], st.maxReadKbps());
    putBe16(&p[10], 256);
    putBe16(&p[12], st.options.bufferBytes / 1024);
    putBe16(&p[14], defaults ? st.maxReadKbps() : st.currentReadKbps());
    putBe16(&p[18], st.maxWriteKbps());
    putBe16(&p[20], defaults ? st.maxWriteKbps() : st.currentWriteKbps());
    putBe16(&p[28], defaults ? st.maxWriteKbps() : st.currentWriteKbps());
    // Write speed descriptors, fastest first.
    const bool cd = st.cdMedium();
    std::size_t count = 0;
    const std::uint16_t* speeds = supportedWriteSpeeds(cd, count);
    std::size_t written = 0;
    for (std::size_t i = 0; i < count && written < 4; ++i) {
        const std::uint32_t kbps = speedKbps(cd, speeds[i]);
        if (kbps > st.maxWriteKbps()) continue;
        putBe16(&p[32 + written * 4 + 2], kbps);
        ++written;
    }
    putBe16(&p[30], static_cast<std::uint32_t>(written));
    return p;
}

// Bits of page 05h that MODE SELECT may change.
Bytes writePageChangeable() {
    Bytes m(WritePageBytes, 0xFF);
    m[0] = 0;
    m[1] = 0;
    m[2] = 0x7F;
    m[4] = 0x0F;
    m[6] = 0;
    m[7] = 0x3F;
    m[9] = 0;
    return m;
}

Result modeSense(CommandContext& c) {
    const std::uint8_t control = c.cdb[2] >> 6;
    const std::uint8_t page = c.cdb[2] & 0x3F;
    if (control == 3) return sense::SavingNotSupported;
    if (c.cdb[3] != 0) return sense::InvalidFieldInCdb;
    auto& st = c.st;
    Bytes out = response(8);
    auto add = [&](const Bytes& p) { out.insert(out.end(), p.begin(), p.end()); };
    const bool all = page == 0x3F;
    bool found = false;
    if (page == 0x05 || all) {
        if (control == 1) {
            add(writePageChangeable());
        } else {
            Bytes p(st.writePage.begin(), st.writePage.end());
            if (control == 2) {
                p.assign(WritePageBytes, 0);
                p[0] = 0x05;
                p[1] = WritePageBytes - 2;
                p[2] = 0x01;
                p[3] = 0x04;
                p[4] = 0x08;
                putBe16(&p[14], 150);
            }
            add(p);
        }
        found = true;
    }
    if (page == 0x2A || all) {
        Bytes p = capabilitiesPage(st, control == 2);
        if (control == 1) std::fill(p.begin() + 2, p.end(), 0);
        add(p);
        found = true;
    }
    if ((page == 0x30 || all) && st.options.modePage30) {
        Bytes p{0x30, 0x06, 'V', 'E', 'L', 'K', 0x01, 0x00};
        if (control == 1) std::fill(p.begin() + 2, p.end(), 0);
        add(p);
        found = true;
    }
    if (!found) return sense::InvalidFieldInCdb;
    putBe16(&out[0], static_cast<std::uint32_t>(out.size() - 2));
    c.respond(out, getBe16(c.cdb + 7));
    return std::nullopt;
}

// Whether the loaded medium can take the write parameters of page `p`.
Result checkWritePage(const VirtualRecorder::State& st, const std::uint8_t* p) {
    const std::uint8_t writeType = p[2] & 0x0F;
    const bool testWrite = (p[2] & 0x10) != 0;
    const std::uint8_t multiSession = p[3] >> 6;
    const std::uint8_t blockType = p[4] & 0x0F;
    if (writeType > 4 || multiSession == 2) return sense::InvalidFieldInParameterList;
    if (p[8] != 0x00 && p[8] != 0x10 && p[8] != 0x20) return sense::InvalidFieldInParameterList;
    if (blockType != 8 && blockType != 10) return sense::InvalidFieldInParameterList;
    if (!st.mediumPresent()) return std::nullopt;
    const DiscLayout& d = st.disc->layout();
    if (d.overwritable() || d.readOnly()) return std::nullopt;
    if (d.info().cd) {
        if (writeType == 4) return sense::InvalidFieldInParameterList;
        return std::nullopt;
    }
    // Sequential DVD: incremental or disc-at-once, 2048-byte blocks; DVD+R
    // media have no test write.
    if (writeType != 0 && writeType != 2) return sense::InvalidFieldInParameterList;
    if (blockType != 8) return sense::InvalidFieldInParameterList;
    if (testWrite && (d.medium == MediumKind::DvdPlusR || d.medium == MediumKind::DvdPlusRDl)) {
        return sense::InvalidFieldInParameterList;
    }
    return std::nullopt;
}

Result modeSelect(CommandContext& c) {
    if ((c.cdb[1] & 0x10) == 0 || (c.cdb[1] & 0x01) != 0) return sense::InvalidFieldInCdb;
    const std::uint32_t length = getBe16(c.cdb + 7);
    if (length == 0) return std::nullopt;
    if (length > c.dataLength || length < 8 || c.data == nullptr) return sense::ParameterListLengthError;
    const std::uint8_t* p = c.data;
    // The mode data length is reserved in MODE SELECT: a host that sends back
    // what MODE SENSE returned there is refused.
    if (getBe16(p) != 0) return sense::InvalidFieldInParameterList;
    std::uint32_t at = 8 + getBe16(p + 6);
    std::array<std::uint8_t, WritePageBytes> newPage = c.st.writePage;
    bool changed = false;
    while (at + 2 <= length) {
        const std::uint8_t code = p[at] & 0x3F;
        const std::uint32_t pageLength = p[at + 1];
        if (at + 2 + pageLength > length) return sense::ParameterListLengthError;
        if (code != 0x05 || pageLength != WritePageBytes - 2) return sense::InvalidFieldInParameterList;
        if (auto refusal = checkWritePage(c.st, p + at)) return refusal;
        const Bytes mask = writePageChangeable();
        for (std::size_t i = 2; i < WritePageBytes; ++i) {
            newPage[i] = static_cast<std::uint8_t>((newPage[i] & ~mask[i]) | (p[at + i] & mask[i]));
        }
        changed = true;
        at += 2 + pageLength;
    }
    if (changed) {
        c.st.writePage = newPage;
        if ((newPage[2] & 0x10) == 0) c.st.simulated.reset();
    }
    return std::nullopt;
}

// ---- disc and track information ---------------------------------------------

Result readDiscInformation(CommandContext& c) {
    if ((c.cdb[1] & 0x07) != 0) return sense::InvalidFieldInCdb;
    const DiscLayout& d = layoutOf(c);
    Bytes out(34, 0);
    putBe16(&out[0], 32);
    const bool erasable = d.info().rewritable && !d.readOnly();
    out[2] = static_cast<std::uint8_t>((erasable ? 0x10 : 0) | (static_cast<int>(d.lastSessionState()) << 2) |
                                       static_cast<int>(d.discStatus()));
    out[3] = 1;
    const std::uint32_t sessions = d.sessionCount();
    const std::uint32_t first = d.firstTrackInLastSession();
    const std::uint32_t last = d.lastTrackInLastSession();
    out[4] = static_cast<std::uint8_t>(sessions);
    out[5] = static_cast<std::uint8_t>(first);
    out[6] = static_cast<std::uint8_t>(last);
    out[9] = static_cast<std::uint8_t>(sessions >> 8);
    out[10] = static_cast<std::uint8_t>(first >> 8);
    out[11] = static_cast<std::uint8_t>(last >> 8);
    out[7] = 0x20;  // unrestricted use
    if (d.medium == MediumKind::DvdPlusRw && d.formattedBlocks != 0) out[7] |= 0x03;  // background format complete
    const bool complete = d.discStatus() == DiscStatus::Complete || d.discStatus() == DiscStatus::Other;
    if (complete) {
        putBe32(&out[16], 0xFFFFFFFF);
        putBe32(&out[20], 0xFFFFFFFF);
    } else if (d.info().cd) {
        const Track* inv = d.invisibleTrack();
        if (d.closedSessions == 0 || inv == nullptr) {
            out[17] = kAtipLeadIn.minute;
            out[18] = kAtipLeadIn.second;
            out[19] = kAtipLeadIn.frame;
        } else {
            putAddress(&out[16], inv->start - CdPreGapBlocks - CdLeadInBlocks, true);
        }
        putAddress(&out[20], d.capacity + CdRunOutBlocks, true);
    } else {
        const Track* inv = d.invisibleTrack();
        putBe32(&out[16], inv != nullptr ? inv->start : 0);
        putBe32(&out[20], d.capacity);
    }
    c.respond(out, getBe16(c.cdb + 7));
    return std::nullopt;
}

Result readTrackInformation(CommandContext& c) {
    const DiscLayout& d = layoutOf(c);
    const std::uint8_t addressType = c.cdb[1] & 0x03;
    const std::uint32_t number = getBe32(c.cdb + 2);
    const Track* t = nullptr;
    if (addressType == 0) {
        for (const auto& tr : d.tracks) {
            const std::uint32_t end = tr.start + d.reportedTrackSize(tr);
            if (number >= tr.start && number < end) t = &tr;
        }
    } else if (addressType == 1) {
        t = number == 0xFF && d.track(0xFF) == nullptr ? d.invisibleTrack() : d.track(number);
        if (number == 0xFF && t == nullptr && !d.sequential() && !d.tracks.empty()) t = &d.tracks.front();
    } else if (addressType == 2) {
        for (const auto& tr : d.tracks) {
            if (tr.session == number) {
                t = &tr;
                break;
            }
        }
    }
    if (t == nullptr) return sense::InvalidFieldInCdb;
    Bytes out(48, 0);
    putBe16(&out[0], 46);
    out[2] = static_cast<std::uint8_t>(t->number);
    out[3] = static_cast<std::uint8_t>(t->session);
    const bool incremental = d.medium == MediumKind::DvdR || d.medium == MediumKind::DvdRwSequential;
    out[5] = incremental ? 0x05 : 0x04;
    const bool blank = d.sequential() ? (!t->closed && t->nwa == t->start)
                                      : (d.overwritable() && d.formattedBlocks == 0);
    out[6] = static_cast<std::uint8_t>((t->reserved && !t->closed ? 0x80 : 0) | (blank ? 0x40 : 0) |
                                       (incremental || t->fixedPacket ? 0x20 : 0) | (t->fixedPacket ? 0x10 : 0) |
                                       0x01);
    const bool nwaValid = d.nwaValid(*t);
    const bool lraValid = t->nwa > t->start;
    out[7] = static_cast<std::uint8_t>((lraValid ? 0x02 : 0) | (nwaValid ? 0x01 : 0));
    putBe32(&out[8], t->start);
    putBe32(&out[12], nwaValid ? t->nwa : 0);
    putBe32(&out[16], d.freeBlocks(*t));
    putBe32(&out[20], t->fixedPacket ? t->packetSize : 0);
    putBe32(&out[24], d.reportedTrackSize(*t));
    putBe32(&out[28], lraValid ? t->nwa - 1 : 0);
    out[32] = static_cast<std::uint8_t>(t->number >> 8);
    out[33] = static_cast<std::uint8_t>(t->session >> 8);
    c.respond(out, getBe16(c.cdb + 7));
    return std::nullopt;
}

// Tracks a reader finds in the table of contents: those of complete sessions.
std::vector<const Track*> tocTracks(const DiscLayout& d) {
    std::vector<const Track*> list;
    for (const auto& t : d.tracks) {
        if (d.sequential() ? (t.closed && t.session <= d.closedSessions) : (d.readOnly() || d.formattedBlocks != 0)) {
            list.push_back(&t);
        }
    }
    return list;
}

std::uint32_t leadOutOf(const DiscLayout& d, const Track& last) {
    if (d.readOnly()) return d.capacity;
    if (d.overwritable()) return std::max<std::uint32_t>(d.recordedEnd(), 1);
    return last.start + last.size;
}

Result readTocPmaAtip(CommandContext& c) {
    const DiscLayout& d = layoutOf(c);
    const bool msf = (c.cdb[1] & 0x02) != 0;
    const std::uint8_t format = c.cdb[2] & 0x0F;
    const std::uint8_t number = c.cdb[6];
    const std::uint32_t allocation = getBe16(c.cdb + 7);
    Bytes out = response(4);
    if (format == 4) {
        if (!d.info().cd || d.readOnly()) return sense::InvalidFieldInCdb;
        out.resize(28, 0);
        out[4] = 0x54;  // indicative writing power, reference speed
        out[5] = 0x40;  // unrestricted use
        out[6] = static_cast<std::uint8_t>(0x80 | (d.medium == MediumKind::CdRw ? 0x40 : 0));
        out[8] = kAtipLeadIn.minute;
        out[9] = kAtipLeadIn.second;
        out[10] = kAtipLeadIn.frame;
        const Msf leadOut = lbaToMsf(d.capacity + CdRunOutBlocks);
        out[12] = leadOut.minute;
        out[13] = leadOut.second;
        out[14] = leadOut.frame;
        putBe16(&out[0], static_cast<std::uint32_t>(out.size() - 2));
        c.respond(out, allocation);
        return std::nullopt;
    }
    const auto tracks = tocTracks(d);
    if (tracks.empty() || (format != 0 && format != 1)) return sense::InvalidFieldInCdb;
    out[2] = static_cast<std::uint8_t>(format == 0 ? tracks.front()->number : 1);
    out[3] = static_cast<std::uint8_t>(format == 0 ? tracks.back()->number : tracks.back()->session);
    auto descriptor = [&](std::uint8_t trackNumber, std::uint32_t lba) {
        const std::size_t at = out.size();
        out.resize(at + 8, 0);
        out[at + 1] = 0x14;  // ADR 1, data track recorded uninterrupted
        out[at + 2] = trackNumber;
        putAddress(&out[at + 4], lba, msf);
    };
    if (format == 0) {
        if (number > tracks.back()->number && number != 0xAA) return sense::InvalidFieldInCdb;
        for (const Track* t : tracks) {
            if (number != 0xAA && t->number >= number) descriptor(static_cast<std::uint8_t>(t->number), t->start);
        }
        descriptor(0xAA, leadOutOf(d, *tracks.back()));
    } else {
        const std::uint32_t lastSession = tracks.back()->session;
        const Track* first = nullptr;
        for (const Track* t : tracks) {
            if (t->session == lastSession) {
                first = t;
                break;
            }
        }
        descriptor(static_cast<std::uint8_t>(first->number), first->start);
    }
    putBe16(&out[0], static_cast<std::uint32_t>(out.size() - 2));
    c.respond(out, allocation);
    return std::nullopt;
}

Result readFormatCapacities(CommandContext& c) {
    const DiscLayout& d = layoutOf(c);
    Bytes out = response(4);
    auto descriptor = [&](std::uint32_t blocks, std::uint8_t typeByte, std::uint32_t parameter) {
        const std::size_t at = out.size();
        out.resize(at + 8, 0);
        putBe32(&out[at], blocks);
        out[at + 4] = typeByte;
        putBe24(&out[at + 5], parameter);
    };
    constexpr std::uint8_t kUnformatted = 0x01, kFormatted = 0x02;
    const std::uint32_t cap = d.capacity;
    switch (d.medium) {
    case MediumKind::DvdPlusRw:
        descriptor(d.formattedBlocks != 0 ? d.formattedBlocks : cap, d.formattedBlocks != 0 ? kFormatted : kUnformatted,
                   kBlock);
        descriptor(cap, 0x26 << 2, 0);
        break;
    case MediumKind::DvdRwSequential:
        descriptor(cap, kFormatted, kBlock);
        descriptor(cap, 0x00, kBlock);
        descriptor(cap, 0x10 << 2, DvdEccBlocks);
        descriptor(cap, 0x15 << 2, DvdEccBlocks);
        break;
    case MediumKind::DvdRwRestricted:
        descriptor(d.formattedBlocks, kFormatted, kBlock);
        descriptor(cap, 0x00, kBlock);
        descriptor(cap, 0x13 << 2, DvdEccBlocks);
        descriptor(cap, 0x15 << 2, DvdEccBlocks);
        break;
    case MediumKind::DvdRam:
        descriptor(d.formattedBlocks, kFormatted, kBlock);
        descriptor(cap, 0x00, kBlock);
        break;
    default:
        descriptor(cap, kFormatted, kBlock);
        break;
    }
    out[3] = static_cast<std::uint8_t>(out.size() - 4);
    c.respond(out, getBe16(c.cdb + 7));
    return std::nullopt;
}

Result readBufferCapacity(CommandContext& c) {
    auto& buffer = c.st.buffer;
    const std::uint32_t level = buffer.level();
    const std::uint32_t blank = buffer.capacity() - level;
    Bytes out(12, 0);
    putBe16(&out[0], 10);
    if ((c.cdb[1] & 0x01) != 0) {
        putBe32(&out[8], blank / kBlock);
    } else {
        putBe32(&out[4], buffer.capacity());
        putBe32(&out[8], blank);
    }
    c.respond(out, getBe16(c.cdb + 7));
    return std::nullopt;
}

// ---- reading and writing --------------------------------------------------

// Byte 1 may carry DPO and FUA: the drive has no read cache, so a forced
// read of the medium is what every READ does. A block never recorded on
// sequential media is refused with 05/21/00, as drives answer a READ beyond
// the recorded area of a track or disc (the medium there holds no data, not
// data of another mode).
Result read10(CommandContext& c) {
    const std::uint32_t lba = getBe32(c.cdb + 2);
    const std::uint32_t blocks = getBe16(c.cdb + 7);
    if ((c.cdb[1] & 0x01) != 0) return sense::InvalidFieldInCdb;  // relative addressing: none on MMC drives
    if (blocks == 0) return std::nullopt;
    if (c.data == nullptr || c.dataLength < std::uint64_t{blocks} * kBlock) return sense::InvalidFieldInCdb;
    const DiscLayout& d = layoutOf(c);
    if (std::uint64_t{lba} + blocks > d.capacity) return sense::LbaOutOfRange;
    if (d.overwritable() && d.formattedBlocks == 0) return sense::IncompatibleFormat;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        if (!d.isReadable(lba + i)) return sense::LbaOutOfRange;
    }
    if (!c.st.disc->readBlocks(lba, blocks, c.data)) return sense::UnrecoveredReadError;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        if (!c.st.faults.corrupts(lba + i)) continue;
        std::uint8_t* block = c.data + std::size_t{i} * kBlock;
        for (std::uint32_t b = 0; b < kBlock; ++b) block[b] = static_cast<std::uint8_t>(~block[b]);
    }
    return std::nullopt;
}

bool plusRMedium(const DiscLayout& d) {
    return d.medium == MediumKind::DvdPlusR || d.medium == MediumKind::DvdPlusRDl;
}

// The write parameters a WRITE on sequential media is recorded with, checked
// when the data arrives, as drives check them: CD takes packet and track at
// once, and session at once after a cue sheet; DVD-R and DVD-RW sequential
// take incremental writing of 2048-byte blocks, and disc-at-once into a
// reserved track. A DVD-RW after a minimal blank takes disc-at-once only.
// DVD+R media ignore the write type.
Result checkWriteParameters(const VirtualRecorder::State& st, const DiscLayout& d, std::uint32_t lba) {
    if (plusRMedium(d)) return std::nullopt;
    const std::uint8_t writeType = st.writePage[2] & 0x0F;
    const std::uint8_t blockType = st.writePage[4] & 0x0F;
    if (d.info().cd) {
        if (writeType == 0 || writeType == 1) return std::nullopt;
        if (writeType == 2) return st.cueSheetSent ? Result{} : Result{sense::CommandSequenceError};
        return sense::IllegalModeForTrack;  // raw, layer jump: not with user data blocks
    }
    if (blockType != 8) return sense::IllegalModeForTrack;
    if (writeType == 0) return d.minimallyBlanked ? Result{sense::IllegalModeForTrack} : Result{};
    if (writeType == 2) {
        for (const auto& t : d.tracks) {
            if (!t.closed && t.reserved && t.nwa == lba) return std::nullopt;
        }
        return sense::CommandSequenceError;
    }
    return sense::IllegalModeForTrack;
}

// The blocks a WRITE leaves on the medium: the host's data, except for a
// block the fault plan has the drive record wrong without noticing
// (corrupt-write:LBA), which is stored with every byte inverted.
const std::uint8_t* blocksAsRecorded(VirtualRecorder::State& st, std::uint32_t lba, std::uint32_t blocks,
                                     const std::uint8_t* data, Bytes& damaged) {
    for (std::uint32_t i = 0; i < blocks; ++i) {
        if (!st.faults.corruptsWrite(lba + i)) continue;
        if (damaged.empty()) damaged.assign(data, data + std::size_t{blocks} * kBlock);
        std::uint8_t* block = damaged.data() + std::size_t{i} * kBlock;
        for (std::uint32_t b = 0; b < kBlock; ++b) block[b] = static_cast<std::uint8_t>(~block[b]);
    }
    return damaged.empty() ? data : damaged.data();
}

Result write10(CommandContext& c) {
    const std::uint32_t lba = getBe32(c.cdb + 2);
    const std::uint32_t blocks = getBe16(c.cdb + 7);
    if (blocks == 0) return std::nullopt;
    if (c.data == nullptr || c.dataLength < std::uint64_t{blocks} * kBlock) return sense::InvalidFieldInCdb;
    auto& st = c.st;
    const auto& page = st.writePage;
    if (layoutOf(c).readOnly()) return sense::WriteProtected;
    const bool test = st.testWriting();
    DiscLayout& d = st.recordingLayout();
    if (d.sequential()) {
        if (auto refusal = checkWriteParameters(st, d, lba)) return refusal;
    }
    if (auto refusal = d.checkWrite(lba, blocks)) return refusal;
    const std::uint32_t bytes = blocks * kBlock;
    if (st.faults.longWriteWhenFull() && !st.buffer.fits(bytes)) return sense::LongWriteInProgress;
    if (d.sequential() && st.streaming && st.buffer.empty() && !st.faults.underrunsIgnored()) {
        // The host did not deliver in time: the medium caught up with the
        // buffer in the middle of the track. With BUFE the drive pauses and
        // links on; DVD+R media always link losslessly (they ignore page
        // 05h); otherwise the track is broken off.
        ++d.underruns;
        if (!test) (void)st.disc->save();
        if ((page[2] & 0x40) == 0 && !plusRMedium(d)) {
            st.streaming = false;
            return sense::LossOfStreaming;
        }
    }
    // The first WRITE of a track: the drive starts recording once its
    // buffer is full, or at the flush.
    if (d.sequential() && !st.streaming) st.buffer.hold();
    st.buffer.fill(bytes);
    Bytes damaged;
    if (!test && !st.disc->writeBlocks(lba, blocks, blocksAsRecorded(st, lba, blocks, c.data, damaged))) {
        return sense::WriteError;
    }
    TrackWriteMode mode;
    mode.fixedPacket = (page[3] & 0x20) != 0 && (page[2] & 0x0F) == 0;
    mode.packetSize = getBe32(&page[10]);
    d.recordWrite(lba, blocks, mode);
    st.streaming = d.sequential();
    return std::nullopt;
}

Result synchronizeCache(CommandContext& c) {
    const bool immed = (c.cdb[1] & 0x02) != 0;
    c.st.streaming = false;
    c.st.buffer.release();
    runLong(c, immed, c.st.buffer.secondsToEmpty(), sense::LongWriteInProgress);
    return saveOrFail(c);
}

// ---- recording structure ----------------------------------------------------

Result reserveTrack(CommandContext& c) {
    if ((c.cdb[1] & 0x01) != 0) return sense::InvalidFieldInCdb;
    auto& st = c.st;
    st.streaming = false;
    st.buffer.release();
    const bool test = st.testWriting();
    if (auto refusal = st.recordingLayout().reserveTrack(getBe32(c.cdb + 5))) return refusal;
    return test ? Result{} : saveOrFail(c);
}

// The close functions each medium defines: close track (1) and close session
// (2) on sequential media, finalise (3) on DVD-RW, the extended lead-out (4)
// of DVD+R DL, finalise (5, 6) on DVD+R media, and the ends of a background
// format (0, 2, 3) on DVD+RW. DVD-RAM and pressed discs have none.
bool closeFunctionDefined(MediumKind kind, std::uint8_t function) {
    switch (kind) {
    case MediumKind::CdR:
    case MediumKind::CdRw:
    case MediumKind::DvdR:
        return function == 1 || function == 2;
    case MediumKind::DvdRwSequential:
    case MediumKind::DvdRwRestricted:
        return function >= 1 && function <= 3;
    case MediumKind::DvdPlusR:
        return function == 1 || function == 2 || function == 5 || function == 6;
    case MediumKind::DvdPlusRDl:
        return function == 1 || function == 2 || function == 4 || function == 5 || function == 6;
    case MediumKind::DvdPlusRw:
        return function == 0 || function == 2 || function == 3;
    default:
        return false;
    }
}

Result closeTrackSession(CommandContext& c) {
    const bool immed = (c.cdb[1] & 0x01) != 0;
    const std::uint8_t function = c.cdb[2] & 0x07;
    const std::uint32_t trackNumber = getBe16(c.cdb + 4);
    auto& st = c.st;
    if (!closeFunctionDefined(layoutOf(c).medium, function)) return sense::InvalidFieldInCdb;
    const bool test = st.testWriting();
    DiscLayout& d = st.recordingLayout();
    st.streaming = false;
    st.buffer.release();
    double seconds = st.buffer.secondsToEmpty();
    if (d.medium == MediumKind::DvdPlusRw) {
        if (d.formattedBlocks == 0) return sense::IncompatibleFormat;
        if (function != 0) seconds += kBackgroundFormatSeconds;
    } else if (d.overwritable()) {
        // Restricted overwrite: no track or session is open; the close
        // functions complete at once.
    } else if (function == 1) {
        std::uint32_t number = trackNumber;
        if (number == 0xFF && d.track(0xFF) == nullptr) {
            // The incomplete track: the last one not yet closed.
            for (const auto& t : d.tracks) {
                if (!t.closed) number = t.number;
            }
        }
        if (auto refusal = d.closeTrack(number)) return refusal;
        seconds += kCloseTrackSeconds;
    } else {
        // DVD+R media keep the disc appendable after closing a session and
        // finalise with their own functions; CD and DVD-R/-RW follow the
        // multi-session field of the write parameters; 3 finalises a DVD-RW.
        bool appendable = false;
        if (plusRMedium(d)) {
            appendable = function == 2 || function == 4;
        } else if (function == 2) {
            appendable = (st.writePage[3] >> 6) == 3;
        }
        if (auto refusal = d.closeSession(appendable)) return refusal;
        st.cueSheetSent = false;
        seconds += d.info().cd ? kCloseSessionCdSeconds : kCloseSessionDvdSeconds;
        if (d.finalized) seconds += kFinaliseSeconds;
    }
    if (!test) {
        if (auto failed = saveOrFail(c)) return failed;
    }
    runLong(c, immed, seconds, sense::LongWriteInProgress);
    return std::nullopt;
}

Result blank(CommandContext& c) {
    const bool immed = (c.cdb[1] & 0x10) != 0;
    const std::uint8_t type = c.cdb[1] & 0x07;
    if (type > 1) return sense::InvalidFieldInCdb;
    DiscLayout& d = layoutOf(c);
    if (auto refusal = d.blank(type == 1)) return refusal;
    c.st.endRecording();
    c.st.cueSheetSent = false;
    if (!c.st.disc->discardData()) return sense::WriteError;
    c.st.buffer.clear();
    c.st.updateDrainRate();
    if (auto failed = saveOrFail(c)) return failed;
    runLong(c, immed, type == 1 ? kMinimalBlankSeconds : c.st.secondsFor(d.capacity), sense::OperationInProgress);
    return std::nullopt;
}

Result formatUnit(CommandContext& c) {
    if ((c.cdb[1] & 0x10) == 0 || (c.cdb[1] & 0x07) != 1) return sense::InvalidFieldInCdb;
    if (c.data == nullptr || c.dataLength < 12) return sense::ParameterListLengthError;
    const std::uint8_t* p = c.data;
    if (getBe16(p + 2) != 8) return sense::InvalidFieldInParameterList;
    const bool immed = (p[1] & 0x02) != 0;
    const std::uint32_t blocks = getBe32(p + 4);
    const std::uint8_t type = p[8] >> 2;
    const std::uint32_t parameter = getBe24(p + 9);
    DiscLayout& d = layoutOf(c);
    const bool dvdRw = d.medium == MediumKind::DvdRwSequential || d.medium == MediumKind::DvdRwRestricted;
    double seconds = 0;
    bool discard = true;
    // A number of blocks beyond the medium formats the whole medium; a quick
    // format of a DVD-RW (type 15h) makes the whole medium restricted
    // overwrite, whatever number of blocks it names.
    if (d.medium == MediumKind::DvdPlusRw && type == 0x26) {
        d.formatOverwritable(MediumKind::DvdPlusRw, blocks);
        seconds = kBackgroundFormatSeconds;
    } else if (d.medium == MediumKind::DvdRam && type == 0x00 && parameter == kBlock) {
        d.formatOverwritable(MediumKind::DvdRam, blocks);
        seconds = c.st.secondsFor(d.capacity);
    } else if (dvdRw && type == 0x15) {
        d.formatOverwritable(MediumKind::DvdRwRestricted, 0);
        seconds = kQuickFormatSeconds;
    } else if (dvdRw && type == 0x00 && parameter == kBlock) {
        d.formatOverwritable(MediumKind::DvdRwRestricted, blocks);
        seconds = c.st.secondsFor(d.capacity);
    } else if (dvdRw && type == 0x10) {
        const std::uint32_t underruns = d.underruns;
        d = DiscLayout::fresh(MediumKind::DvdRwSequential, d.capacity);
        d.underruns = underruns;
        seconds = c.st.secondsFor(d.capacity);
    } else if (d.medium == MediumKind::DvdRwRestricted && type == 0x13) {
        d.growFormat(0);
        seconds = kGrowFormatSeconds;
        discard = false;
    } else {
        return sense::InvalidFieldInParameterList;
    }
    c.st.endRecording();
    c.st.cueSheetSent = false;
    if (discard && !c.st.disc->discardData()) return sense::WriteError;
    c.st.buffer.clear();
    c.st.updateDrainRate();
    if (auto failed = saveOrFail(c)) return failed;
    runLong(c, immed, seconds, sense::FormatInProgress);
    return std::nullopt;
}

// ---- speed and performance ---------------------------------------------------

Result setCdSpeed(CommandContext& c) {
    c.st.requestedReadKbps = getBe16(c.cdb + 2);
    c.st.requestedWriteKbps = getBe16(c.cdb + 4);
    c.st.updateDrainRate();
    return std::nullopt;
}

Result setStreaming(CommandContext& c) {
    if (c.cdb[8] != 0) return sense::InvalidFieldInCdb;
    const std::uint32_t length = getBe16(c.cdb + 9);
    if (length < 28 || c.data == nullptr || c.dataLength < 28) return sense::ParameterListLengthError;
    const std::uint8_t* p = c.data;
    const std::uint32_t readSize = getBe32(p + 12), readTime = getBe32(p + 16);
    const std::uint32_t writeSize = getBe32(p + 20), writeTime = getBe32(p + 24);
    if (readTime == 0 || writeTime == 0) return sense::InvalidFieldInParameterList;
    c.st.requestedReadKbps =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{readSize} * 1000 / readTime, 0xFFFF));
    c.st.requestedWriteKbps =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{writeSize} * 1000 / writeTime, 0xFFFF));
    c.st.updateDrainRate();
    return std::nullopt;
}

Result getPerformance(CommandContext& c) {
    const std::uint8_t type = c.cdb[10];
    const std::uint32_t maxDescriptors = getBe16(c.cdb + 8);
    const DiscLayout& d = layoutOf(c);
    Bytes out = response(8);
    auto& st = c.st;
    if (type == 0x03) {
        std::size_t count = 0;
        const std::uint16_t* speeds = supportedWriteSpeeds(d.info().cd, count);
        std::uint32_t listed = 0;
        for (std::size_t i = 0; i < count && listed < maxDescriptors; ++i) {
            const std::uint32_t kbps = speedKbps(d.info().cd, speeds[i]);
            if (kbps > st.maxWriteKbps()) continue;
            const std::size_t at = out.size();
            out.resize(at + 16, 0);
            putBe32(&out[at + 4], d.capacity);
            putBe32(&out[at + 8], st.maxReadKbps());
            putBe32(&out[at + 12], kbps);
            ++listed;
        }
    } else if (type == 0x00) {
        const bool write = (c.cdb[1] & 0x04) != 0;
        const std::uint32_t kbps = write ? st.currentWriteKbps() : st.currentReadKbps();
        if (maxDescriptors > 0) {
            out.resize(24, 0);
            putBe32(&out[8], 0);
            putBe32(&out[12], kbps);
            putBe32(&out[16], d.capacity - 1);
            putBe32(&out[20], kbps);
        }
        if (write) out[4] = 0x02;
    } else {
        return sense::InvalidFieldInCdb;
    }
    putBe32(&out[0], static_cast<std::uint32_t>(out.size() - 4));
    c.respond(out, c.dataLength);
    return std::nullopt;
}

// ---- preparation of a recording ---------------------------------------------

Result sendOpcInformation(CommandContext& c) {
    if (layoutOf(c).readOnly()) return sense::InvalidFieldInCdb;
    return std::nullopt;
}

Result sendCueSheet(CommandContext& c) {
    const DiscLayout& d = layoutOf(c);
    if (!d.info().cd || !d.sequential()) return sense::InvalidFieldInCdb;
    if (getBe24(c.cdb + 6) % 8 != 0) return sense::ParameterListLengthError;
    c.st.cueSheetSent = true;
    return std::nullopt;
}

Result sendDvdStructure(CommandContext& c) {
    const DiscLayout& d = layoutOf(c);
    const std::uint8_t format = c.cdb[7];
    const std::uint32_t length = getBe16(c.cdb + 8);
    const bool minus = d.medium == MediumKind::DvdR || d.medium == MediumKind::DvdRwSequential;
    if (format != 0x0F || !minus) return sense::InvalidFieldInCdb;
    if (length < 4 || c.dataLength < length) return sense::ParameterListLengthError;
    return std::nullopt;
}

// The command table: opcode, name, data direction, needs a medium, answered
// during an Immed operation, answered despite a pending unit attention,
// handler.
constexpr CommandSpec kCommands[] = {
    {0x00, "TEST UNIT READY", Transfer::None, true, false, false, testUnitReady},
    {0x01, "REZERO UNIT", Transfer::None, true, false, false, rezeroUnit},
    {0x03, "REQUEST SENSE", Transfer::In, false, true, true, requestSense},
    {0x04, "FORMAT UNIT", Transfer::Out, true, false, false, formatUnit},
    {0x12, "INQUIRY", Transfer::In, false, true, true, inquiry},
    {0x1B, "START STOP UNIT", Transfer::None, false, false, false, startStopUnit},
    {0x1E, "PREVENT ALLOW MEDIUM REMOVAL", Transfer::None, false, true, false, preventAllow},
    {0x23, "READ FORMAT CAPACITIES", Transfer::In, true, false, false, readFormatCapacities},
    {0x28, "READ (10)", Transfer::In, true, false, false, read10},
    {0x2A, "WRITE (10)", Transfer::Out, true, false, false, write10},
    {0x35, "SYNCHRONIZE CACHE", Transfer::None, true, false, false, synchronizeCache},
    {0x43, "READ TOC/PMA/ATIP", Transfer::In, true, false, false, readTocPmaAtip},
    {0x46, "GET CONFIGURATION", Transfer::In, false, true, true, getConfiguration},
    {0x51, "READ DISC INFORMATION", Transfer::In, true, false, false, readDiscInformation},
    {0x52, "READ TRACK INFORMATION", Transfer::In, true, false, false, readTrackInformation},
    {0x53, "RESERVE TRACK", Transfer::None, true, false, false, reserveTrack},
    {0x54, "SEND OPC INFORMATION", Transfer::None, true, false, false, sendOpcInformation},
    {0x55, "MODE SELECT (10)", Transfer::Out, false, true, false, modeSelect},
    {0x5A, "MODE SENSE (10)", Transfer::In, false, true, false, modeSense},
    {0x5B, "CLOSE TRACK/SESSION", Transfer::None, true, false, false, closeTrackSession},
    {0x5C, "READ BUFFER CAPACITY", Transfer::In, false, true, false, readBufferCapacity},
    {0x5D, "SEND CUE SHEET", Transfer::Out, true, false, false, sendCueSheet},
    {0xA1, "BLANK", Transfer::None, true, false, false, blank},
    {0xAC, "GET PERFORMANCE", Transfer::In, true, true, false, getPerformance},
    {0xB6, "SET STREAMING", Transfer::Out, false, true, false, setStreaming},
    {0xBB, "SET CD SPEED", Transfer::None, false, true, false, setCdSpeed},
    {0xBF, "SEND DVD STRUCTURE", Transfer::Out, true, false, false, sendDvdStructure},
};

}  // namespace

const CommandSpec* findCommand(std::uint8_t opcode) {
    for (const auto& spec : kCommands) {
        if (spec.opcode == opcode) return &spec;
    }
    return nullptr;
}

}  // namespace velk::vrec

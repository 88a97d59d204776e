// The recording structure of the virtual recorder's disc: what READ DISC
// INFORMATION, READ TRACK INFORMATION, READ TOC/PMA/ATIP and READ FORMAT
// CAPACITIES report, and the commands that change it (RESERVE TRACK, CLOSE
// TRACK/SESSION, BLANK, FORMAT UNIT) or prepare a recording (SEND OPC
// INFORMATION, SEND CUE SHEET, SEND DVD STRUCTURE). The handlers decode and
// check the CDB; the changes to the medium are DiscLayout's.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "virtual-recorder/Bytes.h"
#include "virtual-recorder/CommandHandlers.h"

namespace velk::vrec::handlers {

namespace {

// ATIP start of the lead-in of an 80-minute disc (97:26:66).
constexpr Msf kAtipLeadIn{97, 26, 66};

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

}  // namespace

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

Result closeTrackSession(CommandContext& c) {
    const bool immed = (c.cdb[1] & 0x01) != 0;
    const std::uint8_t function = c.cdb[2] & 0x07;
    const std::uint32_t trackNumber = getBe16(c.cdb + 4);
    auto& st = c.st;
    if (!layoutOf(c).definesCloseFunction(function)) return sense::InvalidFieldInCdb;
    const bool test = st.testWriting();
    DiscLayout& d = st.recordingLayout();
    st.streaming = false;
    st.buffer.release();
    double seconds = st.buffer.secondsToEmpty();
    const bool nextSessionAllowed = (st.writePage[3] >> 6) == 3;
    const CloseOutcome outcome = d.close(function, trackNumber, nextSessionAllowed);
    if (outcome.refusal) return outcome.refusal;
    switch (outcome.work) {
    case CloseWork::None:
        break;
    case CloseWork::EndBackgroundFormat:
        seconds += BackgroundFormatSeconds;
        break;
    case CloseWork::Track:
        seconds += CloseTrackSeconds;
        break;
    case CloseWork::Session:
        st.cueSheetSent = false;
        seconds += d.info().cd ? CloseSessionCdSeconds : CloseSessionDvdSeconds;
        if (d.finalized) seconds += FinaliseSeconds;
        break;
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
    runLong(c, immed, type == 1 ? MinimalBlankSeconds : c.st.secondsFor(d.capacity), sense::OperationInProgress);
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
    const std::optional<FormatWork> work = d.format(type, blocks, parameter);
    if (!work) return sense::InvalidFieldInParameterList;
    double seconds = 0;
    switch (*work) {
    case FormatWork::Background:
        seconds = BackgroundFormatSeconds;
        break;
    case FormatWork::WholeMedium:
        seconds = c.st.secondsFor(d.capacity);
        break;
    case FormatWork::Quick:
        seconds = QuickFormatSeconds;
        break;
    case FormatWork::Grow:
        seconds = GrowFormatSeconds;
        break;
    }
    c.st.endRecording();
    c.st.cueSheetSent = false;
    // Growing a restricted overwrite format keeps what is recorded.
    if (*work != FormatWork::Grow && !c.st.disc->discardData()) return sense::WriteError;
    c.st.buffer.clear();
    c.st.updateDrainRate();
    if (auto failed = saveOrFail(c)) return failed;
    runLong(c, immed, seconds, sense::FormatInProgress);
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

}  // namespace velk::vrec::handlers

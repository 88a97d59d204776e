#include "virtual-recorder/DiscLayout.h"

#include <algorithm>

namespace velk::vrec {

namespace {

std::uint32_t roundUp(std::uint32_t value, std::uint32_t unit) {
    return (value + unit - 1) / unit * unit;
}

}  // namespace

DiscLayout DiscLayout::fresh(MediumKind kind, std::uint32_t capacity) {
    DiscLayout d;
    d.medium = kind;
    d.capacity = capacity != 0 ? capacity : mediumInfo(kind).defaultCapacity;
    if (d.readOnly()) return pressed(kind, d.capacity, {});
    if (d.overwritable()) {
        // DVD-RAM and DVD-RW in restricted overwrite come formatted; DVD+RW
        // is blank until its first FORMAT UNIT.
        d.closedSessions = 1;
        Track t;
        t.closed = true;
        d.tracks.push_back(t);
        if (kind != MediumKind::DvdPlusRw) d.formatOverwritable(kind, 0);
        return d;
    }
    d.addInvisibleTrack(1, 0);
    return d;
}

DiscLayout DiscLayout::pressed(MediumKind kind, std::uint32_t blocks, std::string imagePath) {
    DiscLayout d;
    d.medium = kind;
    d.capacity = blocks;
    d.imagePath = std::move(imagePath);
    d.finalized = true;
    d.closedSessions = 1;
    Track t;
    t.nwa = blocks;
    t.size = blocks;
    t.closed = true;
    d.tracks.push_back(t);
    return d;
}

std::uint32_t DiscLayout::trackEnd(const Track& t) const {
    if (t.closed || t.reserved) return t.start + t.size;
    return t.nwa;
}

bool DiscLayout::openSessionHasData() const {
    if (finalized) return false;
    for (const auto& t : tracks) {
        if (t.session == closedSessions + 1 && (t.nwa > t.start || t.reserved || t.closed)) return true;
    }
    return false;
}

bool DiscLayout::hasData() const {
    for (const auto& t : tracks) {
        if (t.nwa > t.start) return true;
    }
    return false;
}

DiscStatus DiscLayout::discStatus() const {
    if (readOnly()) return DiscStatus::Complete;
    if (overwritable()) {
        if (medium == MediumKind::DvdRam) return DiscStatus::Other;
        return formattedBlocks == 0 ? DiscStatus::Empty : DiscStatus::Complete;
    }
    if (finalized) return DiscStatus::Complete;
    if (closedSessions > 0 || openSessionHasData()) return DiscStatus::Incomplete;
    return DiscStatus::Empty;
}

SessionState DiscLayout::lastSessionState() const {
    if (overwritable()) return formattedBlocks == 0 ? SessionState::Empty : SessionState::Complete;
    if (finalized || readOnly()) return SessionState::Complete;
    return openSessionHasData() ? SessionState::Incomplete : SessionState::Empty;
}

std::uint32_t DiscLayout::sessionCount() const {
    if (!sequential()) return 1;
    return finalized ? closedSessions : closedSessions + 1;
}

std::uint32_t DiscLayout::firstTrackInLastSession() const {
    const std::uint32_t last = sessionCount();
    for (const auto& t : tracks) {
        if (t.session == last) return t.number;
    }
    return tracks.empty() ? 1 : tracks.back().number;
}

std::uint32_t DiscLayout::lastTrackInLastSession() const {
    return tracks.empty() ? 1 : tracks.back().number;
}

const Track* DiscLayout::track(std::uint32_t number) const {
    for (const auto& t : tracks) {
        if (t.number == number) return &t;
    }
    return nullptr;
}

Track* DiscLayout::findTrack(std::uint32_t number) {
    for (auto& t : tracks) {
        if (t.number == number) return &t;
    }
    return nullptr;
}

const Track* DiscLayout::invisibleTrack() const {
    if (!sequential() || finalized || tracks.empty()) return nullptr;
    const Track& t = tracks.back();
    return (!t.closed && !t.reserved) ? &t : nullptr;
}

std::uint32_t DiscLayout::reportedTrackSize(const Track& t) const {
    if (overwritable()) return formattedBlocks != 0 ? formattedBlocks : capacity;
    if (t.closed || t.reserved) return t.size;
    return capacity - t.start;
}

std::uint32_t DiscLayout::freeBlocks(const Track& t) const {
    if (overwritable()) {
        const std::uint32_t size = reportedTrackSize(t);
        return size > t.nwa ? size - t.nwa : 0;
    }
    if (t.closed || finalized) return 0;
    const std::uint32_t end = t.reserved ? t.start + t.size : capacity;
    return end > t.nwa ? end - t.nwa : 0;
}

bool DiscLayout::nwaValid(const Track& t) const {
    if (overwritable()) return formattedBlocks != 0;
    return !t.closed && !finalized && freeBlocks(t) > 0;
}

std::uint32_t DiscLayout::recordedEnd() const {
    return tracks.empty() ? 0 : tracks.front().nwa;
}

bool DiscLayout::isReadable(std::uint32_t lba) const {
    if (lba >= capacity) return false;
    if (readOnly()) return true;
    if (overwritable()) return lba < formattedBlocks;
    for (const auto& t : tracks) {
        if (lba >= t.start && lba < t.nwa) return true;
    }
    return false;
}

std::uint32_t DiscLayout::sessionEnd(std::uint32_t session) const {
    std::uint32_t end = 0;
    for (const auto& t : tracks) {
        if (sequential() && session != 0 && t.session > session) continue;
        end = std::max(end, t.nwa);
    }
    return end;
}

std::optional<Sense> DiscLayout::checkWrite(std::uint32_t lba, std::uint32_t blocks) const {
    if (readOnly()) return sense::WriteProtected;
    if (std::uint64_t{lba} + blocks > capacity) return sense::LbaOutOfRange;
    if (overwritable()) {
        if (formattedBlocks == 0) return sense::IncompatibleFormat;
        if (std::uint64_t{lba} + blocks > formattedBlocks) return sense::LbaOutOfRange;
        return std::nullopt;
    }
    if (finalized) return sense::InvalidAddressForWrite;
    for (const auto& t : tracks) {
        if (t.closed || t.nwa != lba) continue;
        if (t.reserved && std::uint64_t{lba} + blocks > std::uint64_t{t.start} + t.size) {
            return sense::InvalidAddressForWrite;
        }
        return std::nullopt;
    }
    return sense::InvalidAddressForWrite;
}

Track* DiscLayout::openTrackAt(std::uint32_t lba) {
    for (auto& t : tracks) {
        if (!t.closed && t.nwa == lba) return &t;
    }
    return nullptr;
}

void DiscLayout::recordWrite(std::uint32_t lba, std::uint32_t blocks, TrackWriteMode mode) {
    if (overwritable()) {
        tracks.front().nwa = std::max(tracks.front().nwa, lba + blocks);
        return;
    }
    Track* t = openTrackAt(lba);
    if (t == nullptr) return;
    if (t->nwa == t->start) {
        t->fixedPacket = mode.fixedPacket;
        t->packetSize = mode.fixedPacket ? mode.packetSize : 0;
    }
    t->nwa += blocks;
}

void DiscLayout::addInvisibleTrack(std::uint32_t session, std::uint32_t start) {
    Track t;
    t.number = tracks.empty() ? 1 : tracks.back().number + 1;
    t.session = session;
    t.start = start;
    t.nwa = start;
    tracks.push_back(t);
}

std::optional<Sense> DiscLayout::reserveTrack(std::uint32_t blocks) {
    if (!sequential() || finalized) return sense::InvalidFieldInCdb;
    const Track* inv = invisibleTrack();
    if (inv == nullptr) return sense::CommandSequenceError;
    if (inv->nwa != inv->start) return sense::CommandSequenceError;
    const std::uint32_t size = info().cd ? blocks : roundUp(blocks, DvdEccBlocks);
    if (blocks == 0 || std::uint64_t{inv->start} + size > capacity) return sense::InvalidFieldInCdb;
    Track& t = tracks.back();
    t.reserved = true;
    t.size = size;
    const std::uint32_t next = t.start + size + (info().cd ? CdPreGapBlocks : 0);
    if (next < capacity) addInvisibleTrack(t.session, next);
    return std::nullopt;
}

void DiscLayout::closeOneTrack(Track& t) {
    if (t.reserved) {
        t.nwa = t.start + t.size;  // the unwritten rest is padded
    } else if (info().cd) {
        t.size = std::min(t.nwa - t.start + CdRunOutBlocks, capacity - t.start);
    } else {
        t.size = std::min(roundUp(t.nwa - t.start, DvdEccBlocks), capacity - t.start);
        t.nwa = t.start + t.size;
    }
    t.closed = true;
}

std::optional<Sense> DiscLayout::closeTrack(std::uint32_t number) {
    if (!sequential()) return std::nullopt;
    Track* t = findTrack(number);
    if (t == nullptr) return sense::InvalidFieldInCdb;
    if (t->closed) return std::nullopt;
    if (!t->reserved && t->nwa == t->start) return std::nullopt;  // empty invisible track
    const bool wasInvisible = !t->reserved;
    const std::uint32_t session = t->session;
    closeOneTrack(*t);
    if (wasInvisible) {
        const std::uint32_t next = trackEnd(*t) + (info().cd ? CdPreGapBlocks : 0);
        if (next < capacity) addInvisibleTrack(session, next);
    }
    return std::nullopt;
}

std::optional<Sense> DiscLayout::closeSession(bool appendable) {
    if (!sequential() || finalized) return std::nullopt;
    if (!openSessionHasData()) return std::nullopt;
    const std::uint32_t session = closedSessions + 1;
    for (auto& t : tracks) {
        if (t.session == session && !t.closed && (t.reserved || t.nwa > t.start)) closeOneTrack(t);
    }
    std::erase_if(tracks, [](const Track& t) { return !t.closed; });
    ++closedSessions;
    const std::uint32_t end = tracks.empty() ? 0 : trackEnd(tracks.back());
    const std::uint64_t next = std::uint64_t{end} + sessionGapBlocks(medium, closedSessions);
    if (appendable && next < capacity) {
        addInvisibleTrack(closedSessions + 1, static_cast<std::uint32_t>(next));
    } else {
        finalized = true;
    }
    return std::nullopt;
}

std::optional<Sense> DiscLayout::blank(bool minimal) {
    if (!info().blankable) return sense::InvalidFieldInCdb;
    const MediumKind kind = medium == MediumKind::DvdRwRestricted ? MediumKind::DvdRwSequential : medium;
    const std::uint32_t keptUnderruns = underruns;
    *this = fresh(kind, capacity);
    underruns = keptUnderruns;
    minimallyBlanked = minimal && kind == MediumKind::DvdRwSequential;
    return std::nullopt;
}

void DiscLayout::formatOverwritable(MediumKind kind, std::uint32_t blocks) {
    medium = kind;
    finalized = false;
    minimallyBlanked = false;
    closedSessions = 1;
    tracks.clear();
    Track t;
    t.closed = true;
    tracks.push_back(t);
    formattedBlocks = (blocks == 0 || blocks > capacity) ? capacity : blocks;
    tracks.front().size = formattedBlocks;
}

void DiscLayout::growFormat(std::uint32_t blocks) {
    formattedBlocks = (blocks == 0 || blocks > capacity) ? capacity : std::max(blocks, formattedBlocks);
    if (!tracks.empty()) tracks.front().size = formattedBlocks;
}

// The close functions each medium defines: close track (1) and close session
// (2) on sequential media, finalise (3) on DVD-RW, the extended lead-out (4)
// of DVD+R DL, finalise (5, 6) on DVD+R media, and the ends of a background
// format (0, 2, 3) on DVD+RW. DVD-RAM and pressed discs have none.
bool DiscLayout::definesCloseFunction(std::uint8_t function) const {
    switch (medium) {
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

CloseOutcome DiscLayout::close(std::uint8_t function, std::uint32_t trackNumber, bool nextSessionAllowed) {
    if (medium == MediumKind::DvdPlusRw) {
        if (formattedBlocks == 0) return {sense::IncompatibleFormat};
        return {std::nullopt, function != 0 ? CloseWork::EndBackgroundFormat : CloseWork::None};
    }
    // Restricted overwrite: no track or session is open; the close functions
    // complete at once.
    if (overwritable()) return {};
    if (function == 1) {
        std::uint32_t number = trackNumber;
        if (number == 0xFF && track(0xFF) == nullptr) {
            // The incomplete track: the last one not yet closed.
            for (const auto& t : tracks) {
                if (!t.closed) number = t.number;
            }
        }
        if (auto refusal = closeTrack(number)) return {refusal};
        return {std::nullopt, CloseWork::Track};
    }
    // DVD+R media keep the disc appendable after closing a session and
    // finalise with their own functions; CD and DVD-R/-RW follow the
    // multi-session field of the write parameters; 3 finalises a DVD-RW.
    bool appendable = false;
    if (plusR()) {
        appendable = function == 2 || function == 4;
    } else if (function == 2) {
        appendable = nextSessionAllowed;
    }
    if (auto refusal = closeSession(appendable)) return {refusal};
    return {std::nullopt, CloseWork::Session};
}

// A number of blocks beyond the medium formats the whole medium; a quick
// format of a DVD-RW (type 15h) makes the whole medium restricted overwrite,
// whatever number of blocks it names.
std::optional<FormatWork> DiscLayout::format(std::uint8_t type, std::uint32_t blocks, std::uint32_t parameter) {
    constexpr std::uint32_t blockBytes = 2048;
    const bool dvdRw = medium == MediumKind::DvdRwSequential || medium == MediumKind::DvdRwRestricted;
    if (medium == MediumKind::DvdPlusRw && type == 0x26) {
        formatOverwritable(MediumKind::DvdPlusRw, blocks);
        return FormatWork::Background;
    }
    if (medium == MediumKind::DvdRam && type == 0x00 && parameter == blockBytes) {
        formatOverwritable(MediumKind::DvdRam, blocks);
        return FormatWork::WholeMedium;
    }
    if (dvdRw && type == 0x15) {
        formatOverwritable(MediumKind::DvdRwRestricted, 0);
        return FormatWork::Quick;
    }
    if (dvdRw && type == 0x00 && parameter == blockBytes) {
        formatOverwritable(MediumKind::DvdRwRestricted, blocks);
        return FormatWork::WholeMedium;
    }
    if (dvdRw && type == 0x10) {
        // Back to sequential recording, as blank as a new disc.
        const std::uint32_t keptUnderruns = underruns;
        *this = fresh(MediumKind::DvdRwSequential, capacity);
        underruns = keptUnderruns;
        return FormatWork::WholeMedium;
    }
    if (medium == MediumKind::DvdRwRestricted && type == 0x13) {
        growFormat(0);
        return FormatWork::Grow;
    }
    return std::nullopt;
}

}  // namespace velk::vrec

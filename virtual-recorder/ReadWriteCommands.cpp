// Reading and writing on the virtual recorder: READ (10), WRITE (10) with the
// write parameters it is checked against when the data arrives, underruns,
// the drive buffer (READ BUFFER CAPACITY) and its flush (SYNCHRONIZE CACHE).
#include <cstdint>
#include <vector>

#include "virtual-recorder/Bytes.h"
#include "virtual-recorder/CommandHandlers.h"

namespace velk::vrec::handlers {

namespace {

// The write parameters a WRITE on sequential media is recorded with, checked
// when the data arrives, as drives check them: CD takes packet and track at
// once, and session at once after a cue sheet; DVD-R and DVD-RW sequential
// take incremental writing of 2048-byte blocks, and disc-at-once into a
// reserved track. A DVD-RW after a minimal blank takes disc-at-once only.
// DVD+R media ignore the write type.
Result checkWriteParameters(const VirtualRecorder::State& st, const DiscLayout& d, std::uint32_t lba) {
    if (d.plusR()) return std::nullopt;
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

}  // namespace

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
        if ((page[2] & 0x40) == 0 && !d.plusR()) {
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

}  // namespace velk::vrec::handlers

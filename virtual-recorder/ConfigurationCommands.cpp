// The configuration the virtual recorder reports and accepts: INQUIRY, the
// features of GET CONFIGURATION, the mode pages of MODE SENSE and MODE
// SELECT (write parameters 05h, capabilities 2Ah, the vendor page 30h), and
// the speeds of SET CD SPEED, SET STREAMING and GET PERFORMANCE.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "virtual-recorder/Bytes.h"
#include "virtual-recorder/CommandHandlers.h"

namespace velk::vrec::handlers {

namespace {

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

}  // namespace

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

}  // namespace velk::vrec::handlers

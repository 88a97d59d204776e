// Drive and disc queries: the medium type, capabilities and speeds, sessions,
// erasability, writable space, capacity, the ISO 9660 volume already on the
// disc and the drive buffer. Each query answers from one pass of commands;
// whatever the drive answers is read only within the bytes it sent.
//
// Some commands are sent to find out whether something is there: a mode page
// the drive may lack, a feature, the volume descriptors of a disc that may be
// blank. Their refusal is an answer, not a failure, so it must not stay
// behind as the hardware error code that a later failure would be reported
// with.
#include <array>
#include <cstring>

#include "engine/core/Media.h"
#include "engine/device/BigEndian.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "platform/DeviceNode.h"

namespace velk::device {
namespace {

constexpr std::uint8_t CapabilitiesPageCode = 0x2A;
constexpr std::uint8_t UnderrunFreePageCode = 0x30;
constexpr std::uint32_t CapabilitiesSenseBytes = 128;
constexpr std::size_t CapabilitiesCopyBytes = 64;
constexpr std::uint32_t NoTrackSize = 0xFFFFFFFF;

// Disc information fields.
constexpr std::size_t DiscStatusByte = 2;
constexpr std::size_t DiscSessionsByte = 4;
constexpr std::size_t DiscLastTrackByte = 6;
constexpr std::size_t DiscInfoMinimumBytes = 7;

// READ DISC INFORMATION into discInfo; false also when the drive sent too
// little to hold the fields the queries read.
bool readDiscInfo(RecorderDevice& device) {
    std::memset(device.discInfo, 0, sizeof device.discInfo);
    if (!mmc::ReadDiscInformation(device, device.discInfo, DiscInfoBytes)) return false;
    return mmc::responseBytes(device, DiscInfoBytes) >= DiscInfoMinimumBytes;
}

int discStatus(const RecorderDevice& device) { return device.discInfo[DiscStatusByte] & 0x03; }
int lastSessionState(const RecorderDevice& device) { return (device.discInfo[DiscStatusByte] >> 2) & 0x03; }
int erasableBit(const RecorderDevice& device) { return (device.discInfo[DiscStatusByte] >> 4) & 0x01; }
std::uint8_t lastTrackInLastSession(const RecorderDevice& device) { return device.discInfo[DiscLastTrackByte]; }

// Copies the capabilities page of the MODE SENSE response in dataBuffer into
// capabilitiesPage, at most 64 bytes and never more than the drive sent.
void copyCapabilitiesPage(RecorderDevice& device) {
    std::size_t available = mmc::modeDataBytes(device.dataBuffer, mmc::responseBytes(device, CapabilitiesSenseBytes));
    int located = mmc::locateModePage(device.dataBuffer, available, CapabilitiesPageCode);
    if (located < 0) return;
    std::size_t offset = static_cast<std::size_t>(located);
    std::size_t count = available - offset;
    if (count > CapabilitiesCopyBytes) count = CapabilitiesCopyBytes;
    std::memset(device.capabilitiesPage, 0, CapabilitiesCopyBytes);
    std::memcpy(device.capabilitiesPage, device.dataBuffer + offset, count);
}

// GET CONFIGURATION into a cleared configBuffer, so that no byte of an
// earlier answer can pass for part of this one.
bool readConfiguration(RecorderDevice& device, std::uint16_t feature) {
    std::memset(device.configBuffer, 0, sizeof device.configBuffer);
    return mmc::GetConfiguration(device, device.configBuffer, ConfigBufferBytes, feature) != 0;
}

// Bytes of the GET CONFIGURATION answer: what the drive sent, and no more
// than its data length (bytes 0-3, counting the bytes after itself) says.
std::size_t configurationBytes(const RecorderDevice& device) {
    std::size_t available = mmc::responseBytes(device, ConfigBufferBytes);
    if (available < 4) return available;
    std::uint64_t declared = static_cast<std::uint64_t>(getBe32(device.configBuffer)) + 4;
    return declared < available ? static_cast<std::size_t>(declared) : available;
}

// ModeSense10 into a cleared dataBuffer.
int senseModePage(RecorderDevice& device, std::uint8_t page, int defaults) {
    std::memset(device.dataBuffer, 0, CapabilitiesSenseBytes);
    return mmc::ModeSense10(device, device.dataBuffer, CapabilitiesSenseBytes, page, defaults);
}

// GET CONFIGURATION of one feature into configBuffer: true when the drive
// returned that feature's descriptor; `write` gets its byte 12 (the flags).
bool readFeature(RecorderDevice& device, std::uint16_t feature, std::uint8_t& flags) {
    if (!readConfiguration(device, feature)) return false;
    if (configurationBytes(device) < 13) return false;
    if (getBe16(device.configBuffer + 8) != feature) return false;
    flags = device.configBuffer[12];
    return true;
}

// The write parameters the queries send before they look at the disc, so
// that the drive reports the track for the kind of write in question. A read
// only disc refuses them, which changes nothing in the answer.
void primeWriteParameters(RecorderDevice& device, int testWrite, int underrunProtection, int multisession,
                          DiscType type) {
    LastErrorCodeKept kept(device);
    (void)mmc::SetWriteParameters(device, testWrite, underrunProtection, multisession, type);
}

// `capacity` less the ISO volume already on the disc, 0 when the volume is
// the larger (a volume descriptor may claim more than the medium holds).
std::uint32_t capacityLessVolume(RecorderDevice& device, std::uint32_t capacity) {
    std::uint32_t volume = GetIsoVolumeSize(device);
    return capacity > volume ? capacity - volume : 0;
}

// CD media, and media of a profile the table does not know, tell their
// capacity and free space from their last track.
bool answersFromLastTrack(DiscType type) {
    MediumFamily family = mediumOf(type).family;
    return family == MediumFamily::Cd || family == MediumFamily::None;
}

std::uint32_t volumeSizeOf(const std::uint8_t* block) {
    return static_cast<std::uint32_t>(block[80]) | (static_cast<std::uint32_t>(block[81]) << 8) |
           (static_cast<std::uint32_t>(block[82]) << 16) | (static_cast<std::uint32_t>(block[83]) << 24);
}

// The lead-out's address in READ TOC format 0 (LBA), 0 when refused.
std::uint32_t tocLeadOut(RecorderDevice& device) {
    constexpr std::uint8_t LeadOutTrack = 0xAA;
    std::array<std::uint8_t, 12> toc{};  // the header and one track descriptor
    if (!mmc::ReadTocPmaAtip(device, 0, 0, LeadOutTrack, toc.data(), toc.size()) ||
        mmc::responseBytes(device, toc.size()) < toc.size() || toc[6] != LeadOutTrack) {
        return 0;
    }
    return getBe32(toc.data() + 8);
}

}  // namespace

DiscType GetDiscType(RecorderDevice& device) {
    {
        // An older drive knows no GET CONFIGURATION and a disc other than a
        // recordable CD has no ATIP: each refusal only sends the query on to
        // the next way of telling the medium.
        LastErrorCodeKept kept(device);
        if (readConfiguration(device, 0) && configurationBytes(device) >= 8) {
            be16ToHostInPlace(device.configBuffer + 6);
            return discTypeOfProfile(getHost16(device.configBuffer + 6));
        }
        constexpr std::uint32_t AtipBytes = 30;
        std::memset(device.dataBuffer, 0, AtipBytes);
        if (mmc::ReadTocPmaAtip(device, 4, 1, 0, device.dataBuffer, AtipBytes) &&
            mmc::responseBytes(device, AtipBytes) >= 7) {
            std::uint8_t discFlags = device.dataBuffer[6];
            if (discFlags & 0x80) return static_cast<DiscType>(DiscCdR + ((discFlags >> 6) & 1));
            return DiscCdRom;
        }
        std::memset(device.discInfo, 0, sizeof device.discInfo);
        if (mmc::ReadDiscInformation(device, device.discInfo, DiscInfoBytes) &&
            mmc::responseBytes(device, DiscInfoBytes) > DiscStatusByte) {
            return static_cast<DiscType>(DiscCdR + erasableBit(device));
        }
    }
    // Whatever keeps the unit from being ready (no medium, say) is the cause
    // worth keeping.
    return mmc::TestUnitReady(device) ? DiscCdRom : DiscNone;
}

int ProbeCapabilities(RecorderDevice& device) {
    std::memset(device.capabilitiesPage, 0, sizeof device.capabilitiesPage);
    device.defaultMaxReadSpeed = 0;
    device.defaultMaxWriteSpeed = 0;
    std::uint8_t* page = device.capabilitiesPage;

    if (!senseModePage(device, CapabilitiesPageCode, 1)) return 0;
    copyCapabilitiesPage(device);
    device.defaultMaxReadSpeed = getBe16(page + 8);
    device.defaultMaxWriteSpeed = getBe16(page + 18);

    if (senseModePage(device, CapabilitiesPageCode, 0)) {
        copyCapabilitiesPage(device);
    }
    device.maxReadSpeed = getBe16(page + 8);
    device.currentReadSpeed = getBe16(page + 14);
    device.maxWriteSpeed = getBe16(page + 18);
    device.currentWriteSpeed = getBe16(page + 20);
    for (std::size_t field : {18u, 20u, 8u, 14u, 12u}) be16ToHostInPlace(page + field);

    // Page 30h and the features below are looked for; a drive without them
    // refuses, and that refusal is the answer.
    LastErrorCodeKept kept(device);
    if (senseModePage(device, UnderrunFreePageCode, 1)) {
        page[4] |= 0x80;
    }

    std::int32_t* flags = device.capabilityFlags;
    flags[CapCdRRead] = page[2] & 0x01 ? 1 : 0;
    flags[CapCdRwRead] = page[2] & 0x02 ? 1 : 0;
    flags[CapDvdRomRead] = page[2] & 0x08 ? 1 : 0;
    flags[CapDvdRRead] = page[2] & 0x10 ? 1 : 0;
    flags[CapDvdRamRead] = page[2] & 0x20 ? 1 : 0;
    flags[CapCdRWrite] = page[3] & 0x01 ? 1 : 0;
    flags[CapCdRwWrite] = page[3] & 0x02 ? 1 : 0;
    flags[CapDvdRWrite] = page[3] & 0x10 ? 1 : 0;
    flags[CapDvdRamWrite] = page[3] & 0x20 ? 1 : 0;
    for (int flag : {CapDvdRwRead, CapDvdRwWrite, CapDvdPlusRwRead, CapDvdPlusRwWrite, CapDvdPlusRRead,
                     CapDvdPlusRWrite, CapDvdPlusRDlRead, CapDvdPlusRDlWrite}) {
        flags[flag] = 0;
    }

    std::uint8_t featureFlags = 0;
    if (readFeature(device, 0x2A, featureFlags)) {  // DVD+RW
        flags[CapDvdPlusRwRead] = flags[CapDvdPlusRRead] = 1;
        if (featureFlags & 0x01) flags[CapDvdPlusRwWrite] = flags[CapDvdPlusRWrite] = 1;
    }
    if (readFeature(device, 0x3B, featureFlags)) {  // DVD+R dual layer
        flags[CapDvdPlusRDlRead] = 1;
        if (featureFlags & 0x01) flags[CapDvdPlusRDlWrite] = 1;
    }
    if (readFeature(device, 0x2F, featureFlags)) {  // DVD-R/-RW write
        flags[CapDvdRRead] = flags[CapDvdRWrite] = 1;
        if (featureFlags & 0x02) flags[CapDvdRwRead] = flags[CapDvdRwWrite] = 1;
    }
    return 1;
}

int CanWrite(RecorderDevice& device) { return device.capabilitiesPage[3] != 0 ? 1 : 0; }

std::uint16_t GetMaxReadSpeed(RecorderDevice& device) {
    (void)ProbeCapabilities(device);
    return device.defaultMaxReadSpeed;
}
std::uint16_t GetReadSpeed(RecorderDevice& device) {
    (void)ProbeCapabilities(device);
    return getHost16(device.capabilitiesPage + 14);
}
std::uint16_t GetMaxWriteSpeed(RecorderDevice& device) {
    (void)ProbeCapabilities(device);
    return device.defaultMaxWriteSpeed;
}
std::uint16_t GetMaxWriteSpeedCurrent(RecorderDevice& device) {
    (void)ProbeCapabilities(device);
    return getHost16(device.capabilitiesPage + 18);
}
std::uint16_t GetWriteSpeed(RecorderDevice& device) {
    (void)ProbeCapabilities(device);
    return getHost16(device.capabilitiesPage + 20);
}

int SetSpeeds(RecorderDevice& device, std::uint16_t readSpeed, std::uint16_t writeSpeed) {
    device.writeSpeed = writeSpeed;
    device.readSpeed = readSpeed;
    return mmc::SetCdSpeed(device, readSpeed, writeSpeed);
}

std::uint8_t GetSessionCount(RecorderDevice& device) {
    if (readDiscInfo(device)) {
        // An empty or incomplete last session is not counted, but a drive
        // that reports no session at all has none to take away.
        std::uint8_t& sessions = device.discInfo[DiscSessionsByte];
        int state = lastSessionState(device);
        if ((state == 0 || state == 1) && sessions > 0) sessions--;
        return sessions;
    }
    // A disc without sessions is one.
    if (mediumOf(GetDiscType(device)).order == WriteOrder::Random) return 1;
    // A drive without disc information may still have a table of contents:
    // format 1 names the last complete session.
    std::array<std::uint8_t, 12> toc{};
    LastErrorCodeKept kept(device);
    if (mmc::ReadTocPmaAtip(device, 1, 0, 0, toc.data(), toc.size()) &&
        mmc::responseBytes(device, toc.size()) >= 4) {
        return toc[3];
    }
    return 0;
}

std::uint8_t GetLastTrackNumber(RecorderDevice& device) {
    return readDiscInfo(device) ? lastTrackInLastSession(device) : 0;
}

int CanErase(RecorderDevice& device) {
    // A rewritable DVD always can; a CD says so in its disc information.
    const Medium& medium = mediumOf(GetDiscType(device));
    if (medium.family == MediumFamily::Dvd && medium.erase != EraseMethod::None) return 1;
    return readDiscInfo(device) ? erasableBit(device) : 0;
}

int IsDiscWritable(RecorderDevice& device) {
    DiscType type = GetDiscType(device);
    if (mediumOf(type).overwritable()) return 1;
    if (readDiscInfo(device)) {
        int status = discStatus(device);
        if (status == 0 || status == 1) return 1;
        if (status == 2 && lastSessionState(device) == 3) return 0;
    }
    primeWriteParameters(device, device.testWrite, device.underrunProtection, 0, type);
    bool invisibleTrack;
    {
        // Not every drive names the invisible track as FFh; the track after
        // the last one is asked for next.
        LastErrorCodeKept kept(device);
        invisibleTrack = mmc::ReadTrackInformation(device, mmc::InvisibleTrack) != 0;
    }
    if (!invisibleTrack &&
        !mmc::ReadTrackInformation(device, static_cast<std::uint8_t>(lastTrackInLastSession(device) + 1))) {
        return 0;
    }
    return mmc::trackField(device, mmc::TrackFreeBlocks) != 0 ? 1 : 0;
}

int GetFreeBlocks(RecorderDevice& device) {
    DiscType type = GetDiscType(device);
    if (!IsDiscWritable(device)) return 0;
    primeWriteParameters(device, 0, 0, device.closeDisc == 0 ? 1 : 0, type);
    auto largerOfFreeAndSize = [&device]() -> std::uint32_t {
        std::uint32_t freeBlocks = mmc::trackField(device, mmc::TrackFreeBlocks);
        std::uint32_t size = mmc::trackField(device, mmc::TrackSize);
        return freeBlocks > size ? freeBlocks : size;
    };
    if (answersFromLastTrack(type)) {
        // Refused here, the same commands are sent once more below, and it
        // is that refusal which counts.
        LastErrorCodeKept kept(device);
        if (readDiscInfo(device) && mmc::ReadTrackInformation(device, lastTrackInLastSession(device))) {
            if (mmc::trackField(device, mmc::TrackSize) == NoTrackSize) return 0;
            return static_cast<int>(largerOfFreeAndSize());
        }
    }
    // An overwritable disc is one formatted track, and what is not taken by
    // the volume on it is free, whether or not that volume fills the track.
    // Without track information the formatted capacity stands in for it (a
    // refusal the query then answers from).
    const bool overwritable = mediumOf(type).overwritable();
    bool haveTrack = false;
    {
        LastErrorCodeKept kept(device);
        haveTrack = readDiscInfo(device) && mmc::ReadTrackInformation(device, lastTrackInLastSession(device));
        if (haveTrack || !overwritable) kept.letStand();
    }
    if (!haveTrack) {
        if (!overwritable) return 0;
        std::uint32_t capacity = mmc::ReadFormatCapacities(device);
        return static_cast<int>(capacityLessVolume(device, capacity));
    }
    std::uint32_t size = mmc::trackField(device, mmc::TrackSize);
    if (size == NoTrackSize) return 0;
    if (overwritable) return static_cast<int>(capacityLessVolume(device, size));
    return static_cast<int>(largerOfFreeAndSize());
}

int GetDiscCapacity(RecorderDevice& device) {
    DiscType type = GetDiscType(device);
    primeWriteParameters(device, 0, 0, device.closeDisc == 0 ? 1 : 0, type);
    const Medium& medium = mediumOf(type);
    if (medium.family == MediumFamily::Dvd && !medium.readOnly()) {
        // A disc formatted in the background is sized by its track while it
        // is blank, by its formatted capacity once written.
        if (medium.format != FormatMethod::Background) return static_cast<int>(mmc::ReadFormatCapacities(device));
        if (!readDiscInfo(device)) return 0;
        bool blank = discStatus(device) == 0;
        if (!mmc::ReadTrackInformation(device, lastTrackInLastSession(device))) return 0;
        if (blank) return static_cast<int>(mmc::trackField(device, mmc::TrackSize));
        return static_cast<int>(mmc::ReadFormatCapacities(device));
    }
    if (answersFromLastTrack(type)) {
        if (!readDiscInfo(device)) return 0;
        LastErrorCodeKept kept(device);
        if (!mmc::ReadTrackInformation(device, lastTrackInLastSession(device))) {
            // A pressed disc in a drive without track information ends where
            // its table of contents puts the lead-out.
            std::uint32_t leadOut = type == DiscCdRom ? tocLeadOut(device) : 0;
            if (leadOut == 0) kept.letStand();
            return static_cast<int>(leadOut);
        }
        kept.letStand();
        std::uint32_t size = mmc::trackField(device, mmc::TrackSize);
        if (size == NoTrackSize) return 0;
        if (device.trackInfo[mmc::TrackFlags] & 0x10) return static_cast<int>(size);
        return static_cast<int>(mmc::trackField(device, mmc::TrackStartAddress) + size);
    }
    return 0;
}

namespace {

// Blocks 16 to 31 read for a volume descriptor; a supplementary (Joliet) one
// is preferred over the primary one. 0 when there is neither: a blank disc
// refuses the reads, and that is no failure.
std::uint32_t findVolumeSize(RecorderDevice& device, std::array<std::uint8_t, 2048>& block) {
    LastErrorCodeKept kept(device);
    for (std::uint8_t descriptorType : {std::uint8_t{2}, std::uint8_t{1}}) {
        for (std::uint32_t address = 16; address < 32; ++address) {
            if (!mmc::Read10(device, address, 1, block.data())) continue;
            if (block[0] == descriptorType && std::memcmp(block.data() + 1, "CD001", 5) == 0) {
                return volumeSizeOf(block.data());
            }
        }
    }
    return 0;
}

}  // namespace

std::uint32_t GetIsoVolumeSize(RecorderDevice& device) {
    std::array<std::uint8_t, 2048> block;
    block.fill(0xFF);
    primeWriteParameters(device, device.testWrite, device.underrunProtection, 0, GetDiscType(device));
    // The node stays open across up to 32 reads. Afterwards the device is
    // left as it was: its own close-after-command setting back, and a node
    // that was closed when the reads began closed again.
    const std::int32_t closeAfterCommand = device.closeAfterCommand;
    const bool wasOpen = device.deviceHandle >= 0;
    device.closeAfterCommand = 0;
    std::uint32_t size = findVolumeSize(device, block);
    device.closeAfterCommand = closeAfterCommand;
    if (!wasOpen && device.deviceHandle >= 0 && platform::closeDeviceNode(device.deviceHandle)) {
        device.deviceHandle = -1;
    }
    return size;
}

std::uint32_t GetDriveBufferSize(RecorderDevice& device) { return device.bufferLength.load(); }
// A drive that reports more blank bytes than its buffer holds has nothing in
// it, rather than nearly four gigabytes.
std::uint32_t GetDriveBufferUsed(RecorderDevice& device) {
    std::uint32_t length = device.bufferLength.load();
    std::uint32_t blank = device.bufferBlank.load();
    return length > blank ? length - blank : 0;
}

}  // namespace velk::device

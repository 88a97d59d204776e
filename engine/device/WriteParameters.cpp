// The composite commands: the write parameters mode page (05h) sent with
// MODE SELECT (10), the DVD time stamp and the streaming performance
// descriptor.
//
// Page 05h bytes composed here: 2 = BUFE (bit 6), LS_V (bit 5), test write
// (bit 4), write type (bits 3-0); 3 = multi-session (bits 7-6), FP (bit 5),
// copy (bit 4), track mode (bits 3-0); 4 = data block type; 5 = link size;
// 8 = session format; 10-13 = packet size; 14-15 = audio pause length.
#include <cstdio>
#include <cstring>

#include "engine/core/Media.h"
#include "engine/device/BigEndian.h"
#include "engine/device/MmcCommands.h"
#include "platform/Time.h"

namespace velk::mmc {
namespace {

constexpr std::uint8_t WriteParametersPage = 0x05;
constexpr std::uint32_t ModeSenseBytes = 512;

// Write type and track mode nibbles.
constexpr std::uint8_t WriteTypePacket = 0;
constexpr std::uint8_t WriteTypeTrackAtOnce = 1;
constexpr std::uint8_t WriteTypeSessionAtOnce = 2;
constexpr std::uint8_t Bufe = 0x40;
constexpr std::uint8_t LinkSizeValid = 0x20;
constexpr std::uint8_t TestWriteBit = 0x10;
constexpr std::uint8_t MultiSessionOpen = 0xC0;
constexpr std::uint8_t FixedPacket = 0x20;

void setWriteType(std::uint8_t* page, std::uint8_t type) {
    page[2] = static_cast<std::uint8_t>((page[2] & 0xF0) | type);
}
void setMultiSession(std::uint8_t* page, int open) {
    page[3] = static_cast<std::uint8_t>((page[3] & 0x3F) | (open ? MultiSessionOpen : 0));
}
void setPacketSize(std::uint8_t* page, std::uint32_t blocks) { device::putBe32(page + 10, blocks); }

}  // namespace

std::size_t modeDataBytes(const std::uint8_t* response, std::size_t available) {
    if (available < 2) return available;
    // The mode data length counts the bytes after itself; a smaller value
    // than the transfer marks the end of what the drive means.
    std::size_t modeBytes = device::getBe16(response) + 2u;
    return modeBytes < available ? modeBytes : available;
}

int locateModePage(const std::uint8_t* response, std::size_t available, std::uint8_t pageCode) {
    constexpr std::size_t HeaderBytes = 8;
    available = modeDataBytes(response, available);
    if (available < HeaderBytes) return -1;
    std::size_t offset = HeaderBytes + device::getBe16(response + 6);
    if (offset + 2 > available) return -1;
    if ((response[offset] & 0x3F) != pageCode) return -1;
    return static_cast<int>(offset);
}

int SetWriteParameters(RecorderDevice& device, int testWrite, int underrunProtection,
                       int multisession, std::uint8_t discType) {
    std::uint8_t* page = device.writeParametersPage;
    std::memset(page, 0, WriteParametersPageBytes);
    std::memset(device.dataBuffer, 0, ModeSenseBytes);
    if (!ModeSense10(device, device.dataBuffer, ModeSenseBytes, WriteParametersPage, 0)) return 0;
    std::size_t available = modeDataBytes(device.dataBuffer, responseBytes(device, ModeSenseBytes));
    int located = locateModePage(device.dataBuffer, available, WriteParametersPage);
    if (located < 0) return 0;
    std::size_t offset = static_cast<std::size_t>(located);
    std::uint8_t pageLength = device.dataBuffer[offset + 1];
    // The whole page, length bytes included, must have come from the drive:
    // it goes back to it with MODE SELECT.
    if (offset + 2 + pageLength > available) return 0;

    page[0] = WriteParametersPage;
    page[1] = pageLength;
    page[2] = WriteTypeTrackAtOnce;
    page[3] = 0x04;   // track mode 4: data, uninterrupted
    page[4] = 0x08;   // data block type 8: mode 1, 2048 user bytes
    page[8] = 0x00;   // session format: CD-DA / CD-ROM
    device::putBe16(page + 14, 150);  // audio pause length

    const Medium& medium = mediumOf(discType);
    const WriteMode mode = medium.writeMode;
    const bool writeOnce = medium.recording == Recording::WriteOnce;
    if (mode == WriteMode::DdcdSessionAtOnce) {
        setWriteType(page, WriteTypeSessionAtOnce);
        page[3] = 0x05;
    } else if (mode == WriteMode::DvdMinusPacket) {
        setWriteType(page, WriteTypePacket);
        page[3] = 0x05;
    }

    if (testWrite != 1) setMultiSession(page, multisession == 1);

    if (mode == WriteMode::DvdMinusPacket) {
        // A DVD-R(W) session is closed the way this field says, so a disc
        // the user asked to close must not be left open for another one.
        const std::uint8_t sessions = device.closeDisc ? 0 : MultiSessionOpen;
        if (writeOnce) {
            page[3] = static_cast<std::uint8_t>((page[3] & 0x3F) | sessions | FixedPacket);
        } else {
            page[3] = static_cast<std::uint8_t>((page[3] & 0x1F) | sessions);
        }
        setPacketSize(page, 16);
        page[5] = 16;
        page[2] |= LinkSizeValid;
    }

    if (testWrite == 1) page[2] |= TestWriteBit;

    if (mode == WriteMode::DvdPlus) {
        page[3] = static_cast<std::uint8_t>((page[3] & 0xF4) | 4);
        page[2] = static_cast<std::uint8_t>((page[2] & 0xF2) | LinkSizeValid | WriteTypeSessionAtOnce);
        page[6] = 0;
        page[5] = 16;
        if (writeOnce && multisession == 1) {
            page[3] |= FixedPacket;
            setPacketSize(page, 16);
        } else {
            page[3] &= static_cast<std::uint8_t>(~FixedPacket);
            setPacketSize(page, 0);
            if (writeOnce) page[5] = 0;
        }
    }

    if (mode == WriteMode::DvdPlusRDualLayer) {
        page[2] = static_cast<std::uint8_t>((page[2] & 0xF2) | LinkSizeValid | WriteTypeSessionAtOnce);
        page[3] = static_cast<std::uint8_t>((page[3] & 0xD4) | 4);
        page[6] = 0;
        page[5] = 0;
        setPacketSize(page, 0);
        setMultiSession(page, multisession == 1);
    }

    if (underrunProtection == 1 && (device.capabilitiesPage[4] & 0x80)) page[2] |= Bufe;

    // The composed bytes replace the page up to its length byte's value; the
    // drive's last two bytes stay. A page longer than the composition area
    // keeps the drive's bytes beyond it.
    std::size_t composed = pageLength < WriteParametersPageBytes ? pageLength : WriteParametersPageBytes;
    std::memcpy(device.dataBuffer + offset, page, composed);
    // The mode data length is reserved in MODE SELECT; drives refuse a list
    // that carries the value MODE SENSE returned there.
    device::putBe16(device.dataBuffer, 0);
    return ModeSelect10(device, device.dataBuffer, static_cast<std::uint32_t>(offset + pageLength + 2));
}

int SendDvdTimestamp(RecorderDevice& device) {
    constexpr std::uint32_t ListBytes = 22;
    std::uint8_t* list = device.dataBuffer;
    std::memset(list, 0, ListBytes);
    device::putBe16(list, ListBytes - 2);
    platform::SystemTime now = platform::currentUtcTime();
    char stamp[15];
    std::snprintf(stamp, sizeof stamp, "%04u%02u%02u%02u%02u%02u", now.year % 10000u, now.month % 100u,
                  now.day % 100u, now.hour % 100u, now.minute % 100u, now.second % 100u);
    std::memcpy(list + 8, stamp, 14);
    return SendDvdStructure(device, 0x0F, list, ListBytes);
}

int SetStreamingPerformance(RecorderDevice& device, std::uint32_t /*start*/, std::uint32_t end,
                            std::uint32_t readSize, std::uint32_t writeSize, std::uint32_t readTime,
                            std::uint32_t writeTime) {
    constexpr std::uint32_t DescriptorBytes = 28;
    std::uint8_t* descriptor = device.dataBuffer;
    std::memset(descriptor, 0, DescriptorBytes);
    // Bytes 0-3 flags and 4-7 the start address stay 0.
    device::putBe32(descriptor + 8, end);
    device::putBe32(descriptor + 12, readSize);
    device::putBe32(descriptor + 16, readTime);
    device::putBe32(descriptor + 20, writeSize);
    device::putBe32(descriptor + 24, writeTime);
    return SetStreaming(device, descriptor, DescriptorBytes);
}

}  // namespace velk::mmc

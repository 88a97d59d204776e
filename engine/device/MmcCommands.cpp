#include "engine/device/MmcCommands.h"

#include <cstring>

#include "engine/device/BigEndian.h"
#include "engine/device/ExecuteCdb.h"

namespace velk::mmc {
namespace {

using device::getBe16;
using device::getBe32;
using device::putBe16;
using device::putBe32;

enum class Data { None, In, Out };

// The one place where a request record is put together: zeroed, then the
// flags of the direction, the data length and buffer, the CDB length of the
// opcode group and the opcode. Callers add their CDB fields.
ScsiRequestBlock newRequest(std::uint8_t opcode, Data data = Data::None,
                            const std::uint8_t* buffer = nullptr, std::uint32_t length = 0) {
    ScsiRequestBlock request;
    std::memset(&request, 0, sizeof request);
    switch (data) {
    case Data::None: request.flags = SrbFlagsNoData; break;
    case Data::In: request.flags = SrbFlagsRead; break;
    case Data::Out: request.flags = SrbFlagsWrite; break;
    }
    if (data != Data::None) {
        request.dataLength = length;
        request.dataBuffer = const_cast<std::uint8_t*>(buffer);
    }
    request.cdbLength = cdbLengthFor(opcode);
    request.cdb[0] = opcode;
    return request;
}

int succeeded(std::uint8_t status) { return status == SrbComplete ? 1 : 0; }
int succeededOrPending(std::uint8_t status) {
    return status == SrbComplete || status == SrbPending ? 1 : 0;
}

int run(RecorderDevice& device, ScsiRequestBlock& request) {
    return succeeded(device::ExecuteCdb(device, request));
}

}  // namespace

std::uint8_t cdbLengthFor(std::uint8_t opcode) {
    if (opcode < 0x20) return 6;
    if (opcode < 0x60) return 10;
    if (opcode >= 0xA0 && opcode < 0xC0) return 12;
    return 16;
}

std::size_t responseBytes(const RecorderDevice& device, std::size_t areaBytes) {
    return device.lastTransferred < areaBytes ? device.lastTransferred : areaBytes;
}

int TestUnitReady(RecorderDevice& device) {
    ScsiRequestBlock request = newRequest(0x00);
    return run(device, request);
}

int CheckUnit(RecorderDevice& device) {
    ScsiRequestBlock request = newRequest(0x00);
    (void)device::ExecuteCdb(device, request);
    return 1;
}

int RezeroUnit(RecorderDevice& device) {
    ScsiRequestBlock request = newRequest(0x01);
    return run(device, request);
}

int RequestSense(RecorderDevice& device, std::uint8_t* buffer, std::uint8_t length) {
    ScsiRequestBlock request = newRequest(0x03, Data::In, buffer, length);
    request.cdb[4] = length;
    return run(device, request);
}

int FormatUnit(RecorderDevice& device, std::uint8_t byte1, std::uint8_t* list, std::uint32_t length) {
    ScsiRequestBlock request = newRequest(0x04, Data::Out, list, length);
    request.cdb[1] = byte1;
    return run(device, request);
}

ScsiRequestBlock inquiryRequest(std::uint8_t* buffer, std::uint8_t length) {
    ScsiRequestBlock request = newRequest(0x12, Data::In, buffer, length);
    request.cdb[4] = length;
    request.commandCode = SrbExecuteCommand;
    request.senseLength = ScsiSenseRequested;
    return request;
}

int Inquiry(RecorderDevice& device, std::uint8_t* buffer) {
    ScsiRequestBlock request = inquiryRequest(buffer, 32);
    return run(device, request);
}

int LoadMedium(RecorderDevice& device, int immediate) {
    ScsiRequestBlock request = newRequest(0x1B);
    request.cdb[1] = immediate ? 1 : 0;
    request.cdb[4] = 3;  // LoEj and Start: load the tray and spin up
    return run(device, request);
}

int Eject(RecorderDevice& device, int immediate) {
    (void)SynchronizeCache(device, 0);
    (void)UnlockMedium(device);
    ScsiRequestBlock request = newRequest(0x1B);
    request.cdb[1] = immediate ? 1 : 0;
    request.cdb[4] = 2;  // LoEj without Start: eject
    return run(device, request);
}

int LockMedium(RecorderDevice& device) {
    ScsiRequestBlock request = newRequest(0x1E);
    request.cdb[4] = 1;
    return run(device, request);
}

int UnlockMedium(RecorderDevice& device) {
    ScsiRequestBlock request = newRequest(0x1E);
    request.cdb[4] = 0;
    return run(device, request);
}

std::uint32_t ReadFormatCapacities(RecorderDevice& device) {
    constexpr std::uint32_t ResponseBytes = 28;
    std::memset(device.dataBuffer, 0, ResponseBytes);
    ScsiRequestBlock request = newRequest(0x23, Data::In, device.dataBuffer, ResponseBytes);
    request.cdb[8] = ResponseBytes;
    if (!run(device, request)) return 0;
    // A 4-byte header whose byte 3 is the capacity list length, then 8-byte
    // descriptors: block count, type byte, 3-byte block length. Only the
    // descriptors that the list length names and the drive really sent count.
    const std::uint8_t* response = device.dataBuffer;
    std::size_t available = responseBytes(device, ResponseBytes);
    if (available < 4) return 0;
    std::size_t listed = response[3] / 8;
    std::size_t sent = (available - 4) / 8;
    std::size_t count = listed < sent ? listed : sent;
    if (count == 0) return 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* descriptor = response + 4 + 8 * i;
        if (descriptor[4] == 0 && device::getBe24(descriptor + 5) == 2048) return getBe32(descriptor);
    }
    return getBe32(response + 4);
}

int Read10(RecorderDevice& device, std::uint32_t address, std::uint16_t blocks, std::uint8_t* buffer,
           int forceUnitAccess) {
    ScsiRequestBlock request = newRequest(0x28, Data::In, buffer, blocks * 2048u);
    if (forceUnitAccess) request.cdb[1] = 0x08;  // FUA: from the medium, not the cache
    putBe32(request.cdb + 2, address);
    putBe16(request.cdb + 7, blocks);
    return run(device, request);
}

int Write10(RecorderDevice& device, std::uint32_t address, std::uint16_t blocks,
            const std::uint8_t* buffer, std::uint32_t bytes) {
    ScsiRequestBlock request = newRequest(0x2A, Data::Out, buffer, bytes);
    putBe32(request.cdb + 2, address);
    putBe16(request.cdb + 7, blocks);
    return succeededOrPending(device::ExecuteCdb(device, request));
}

int SynchronizeCache(RecorderDevice& device, int immediate) {
    ScsiRequestBlock request = newRequest(0x35);
    request.cdb[1] = immediate ? 2 : 0;
    return succeededOrPending(device::ExecuteCdb(device, request));
}

int ReadTocPmaAtip(RecorderDevice& device, std::uint8_t format, int msf, std::uint8_t number,
                   std::uint8_t* buffer, std::uint32_t length) {
    ScsiRequestBlock request = newRequest(0x43, Data::In, buffer, length);
    request.cdb[1] = msf ? 2 : 0;
    request.cdb[2] = format;
    request.cdb[6] = number;
    request.cdb[8] = static_cast<std::uint8_t>(length);
    return run(device, request);
}

int GetConfiguration(RecorderDevice& device, std::uint8_t* buffer, std::uint32_t length,
                     std::uint16_t feature) {
    ScsiRequestBlock request = newRequest(0x46, Data::In, buffer, length);
    request.cdb[1] = 2;  // RT 10b: the one feature named
    putBe16(request.cdb + 2, feature);
    putBe16(request.cdb + 7, length);
    return run(device, request);
}

int ReadDiscInformation(RecorderDevice& device, std::uint8_t* buffer, std::uint32_t length) {
    ScsiRequestBlock request = newRequest(0x51, Data::In, buffer, length);
    putBe16(request.cdb + 7, length);
    return run(device, request);
}

int ReadTrackInformation(RecorderDevice& device, std::uint8_t track) {
    std::memset(device.trackInfo, 0, sizeof device.trackInfo);
    ScsiRequestBlock request = newRequest(0x52, Data::In, device.trackInfo, TrackInfoBytes);
    request.cdb[1] = 1;  // the address field is a track number
    request.cdb[5] = track;
    request.cdb[8] = TrackInfoBytes;
    if (!run(device, request)) return 0;
    // Bytes the drive did not send stay 0, whatever its data length claims.
    std::size_t available = responseBytes(device, TrackInfoBytes);
    std::memset(device.trackInfo + available, 0, TrackInfoBytes - available);
    std::uint8_t* info = device.trackInfo;
    device::be16ToHostInPlace(info + TrackDataLength);
    for (std::size_t field : {TrackStartAddress, TrackNextWritable, TrackFreeBlocks,
                              TrackFixedPacketSize, TrackSize, TrackLastRecorded}) {
        device::be32ToHostInPlace(info + field);
    }
    return 1;
}

int ReserveTrack(RecorderDevice& device, std::uint32_t blocks) {
    ScsiRequestBlock request = newRequest(0x53);
    putBe32(request.cdb + 5, blocks);
    return run(device, request);
}

int SendOpcInformation(RecorderDevice& device) {
    ScsiRequestBlock request = newRequest(0x54);
    request.cdb[1] = 1;  // DoOPC
    return run(device, request);
}

int ModeSelect10(RecorderDevice& device, std::uint8_t* list, std::uint32_t length) {
    ScsiRequestBlock request = newRequest(0x55, Data::Out, list, length);
    request.cdb[1] = 0x10;  // PF
    putBe16(request.cdb + 7, length);
    return run(device, request);
}

int ModeSense10(RecorderDevice& device, std::uint8_t* buffer, std::uint32_t length,
                std::uint8_t page, int defaults) {
    ScsiRequestBlock request = newRequest(0x5A, Data::In, buffer, length);
    request.cdb[2] = static_cast<std::uint8_t>(page | (defaults ? 0x80 : 0x00));
    putBe16(request.cdb + 7, length);
    return run(device, request);
}

int CloseTrackSession(RecorderDevice& device, int immediate, std::uint8_t function,
                      std::uint8_t byte3, std::uint8_t byte4, std::uint8_t byte5) {
    ScsiRequestBlock request = newRequest(0x5B);
    request.cdb[1] = immediate ? 1 : 0;
    request.cdb[2] = function;
    request.cdb[3] = byte3;
    request.cdb[4] = byte4;
    request.cdb[5] = byte5;
    return run(device, request);
}

int CloseLastTrackOrSession(RecorderDevice& device, int closeTrack, int immediate) {
    return CloseTrackSession(device, immediate, closeTrack ? 1 : 2, 0, 0, closeTrack ? 0xFF : 0);
}

int ReadBufferCapacity(RecorderDevice& device) {
    constexpr std::uint32_t ResponseBytes = 32;
    constexpr std::size_t FieldsEnd = 12;  // data length, reserved, buffer length, blank length
    std::memset(device.dataBuffer, 0, ResponseBytes);
    ScsiRequestBlock request = newRequest(0x5C, Data::In, device.dataBuffer, ResponseBytes);
    request.cdb[8] = ResponseBytes;
    int result = run(device, request);
    // Only an answer that holds both fields, by what the drive moved and by
    // its own data length, replaces the values. After a failed or short one
    // the last good values stand: zeros would show a drained buffer that the
    // drive never reported, and a half answer would pair a new length with
    // an old blank count.
    if (result) {
        std::size_t declared = static_cast<std::size_t>(getBe16(device.dataBuffer)) + 2;
        if (responseBytes(device, ResponseBytes) >= FieldsEnd && declared >= FieldsEnd) {
            device.bufferLength = getBe32(device.dataBuffer + 4);
            device.bufferBlank = getBe32(device.dataBuffer + 8);
        }
    }
    return result;
}

int SendCueSheet(RecorderDevice& device, std::uint8_t* sheet, std::uint32_t length) {
    ScsiRequestBlock request = newRequest(0x5D, Data::Out, sheet, length);
    putBe16(request.cdb + 7, length);
    return run(device, request);
}

int Blank(RecorderDevice& device, int minimal) {
    ScsiRequestBlock request = newRequest(0xA1);
    request.cdb[1] = minimal ? 0x11 : 0x10;  // Immed, blanking type 1 or 0
    return succeededOrPending(device::ExecuteCdb(device, request));
}

int GetPerformance(RecorderDevice& device, std::uint8_t* buffer, std::uint32_t length) {
    ScsiRequestBlock request = newRequest(0xAC, Data::In, buffer, length);
    request.cdb[9] = 5;   // maximum number of descriptors
    request.cdb[10] = 3;  // write speed descriptors
    return run(device, request);
}

int SetStreaming(RecorderDevice& device, std::uint8_t* list, std::uint32_t length) {
    ScsiRequestBlock request = newRequest(0xB6, Data::Out, list, length);
    putBe16(request.cdb + 9, length);
    return run(device, request);
}

int SetCdSpeed(RecorderDevice& device, std::uint16_t readSpeed, std::uint16_t writeSpeed) {
    ScsiRequestBlock request = newRequest(0xBB);
    putBe16(request.cdb + 2, readSpeed == 0 ? 0xFFFF : readSpeed);
    putBe16(request.cdb + 4, writeSpeed == 0 ? 0xFFFF : writeSpeed);
    return run(device, request);
}

int SendDvdStructure(RecorderDevice& device, std::uint8_t format, std::uint8_t* list,
                     std::uint32_t length) {
    ScsiRequestBlock request = newRequest(0xBF, Data::Out, list, length);
    request.cdb[7] = format;
    putBe16(request.cdb + 8, length);
    return run(device, request);
}

}  // namespace velk::mmc

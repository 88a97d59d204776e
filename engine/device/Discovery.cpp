// Recorder discovery and selection.
//
// Two scans fill the list of 26 entries. The pass-through scan walks the
// drive letters C to Z, where letter 'C' + N is the optical drive srN of
// sysfs (see platform/OpticalDrives.h); drives whose SCSI address cannot be
// read are numbered after the others as adapters max + 1, max + 2, ... with
// target and LUN 0. The ASPI-style scan asks the library loaded by
// Initialise for its host adapters and probes 8 targets and LUNs 0 to 6 on
// each; it stops when the list is full.
//
// A display name reads "A:T:L,X: VENDOR PRODUCT REVISION+VENDORSPECIFIC "
// (note the trailing blank), from INQUIRY bytes 8-15, 16-31 and 32-47 with
// every byte below 20h or from 80h replaced by a blank.
#include <cstdio>
#include <cstring>

#include "engine/core/TraceLog.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/Transports.h"
#include "platform/DeviceNode.h"
#include "platform/Event.h"
#include "platform/OpticalDrives.h"
#include "platform/ScsiPassThrough.h"

namespace velk::device {
namespace {

constexpr int FirstNoAddressSlot = MaxRecorders - 1;
constexpr std::uint8_t InquiryPeripheralCdDvd = 0x05;
constexpr std::size_t InquiryNameEnd = 48;

void cleanInquiry(std::uint8_t* inquiry) {
    for (std::size_t i = 8; i < InquiryNameEnd; ++i) {
        if (inquiry[i] < 0x20 || inquiry[i] >= 0x80) inquiry[i] = ' ';
    }
}

// Writes the display name from cleaned INQUIRY data.
void formatDisplayName(DeviceEntry& entry, unsigned adapter, unsigned target, unsigned lun,
                       char letter, const std::uint8_t* inquiry) {
    char vendor[9] = {};
    char product[17] = {};
    char revision[17] = {};
    std::memcpy(vendor, inquiry + 8, 8);
    std::memcpy(product, inquiry + 16, 16);
    std::memcpy(revision, inquiry + 32, 16);
    std::snprintf(entry.name, sizeof entry.name, "%u:%u:%u,%c: %s %s %s ", adapter, target, lun,
                  letter, vendor, product, revision);
}

// Gives a name its new adapter number, keeping everything from the comma on.
void renumberName(DeviceEntry& entry, unsigned adapter) {
    const char* comma = std::strchr(entry.name, ',');
    if (!comma) return;
    char renamed[sizeof entry.name];
    std::snprintf(renamed, sizeof renamed, "%u:0:0%s", adapter, comma);
    std::memcpy(entry.name, renamed, sizeof entry.name);
}

void storeAddress(RecorderDevice& device, const platform::ScsiAddress& address) {
    device.scsiAddress[0] = 8;  // length field of the address record
    device.scsiAddress[4] = address.host;
    device.scsiAddress[5] = address.channel;
    device.scsiAddress[6] = address.target;
    device.scsiAddress[7] = address.lun;
}

void closeHandle(RecorderDevice& device) {
    if (device.deviceHandle >= 0) platform::closeDeviceNode(device.deviceHandle);
    device.deviceHandle = -1;
}

// One drive letter of the pass-through scan; returns true when a drive was
// found (listed with or without an address).
bool scanLetter(RecorderDevice& device, char letter, int& noAddressSlot) {
    std::memset(device.scsiAddress, 0, sizeof device.scsiAddress);
    int index = letter - 'C';
    int type = platform::opticalDriveType(sysfsRootOf(device), index);
    if (type != platform::DriveTypeCdRom) {
        trace::write("%c: ( %d ", letter, type);
        trace::write(")\n");
        return false;
    }
    std::string node = platform::opticalDriveNode(devRootOf(device), index);
    int handle = platform::openDeviceNode(node);
    if (handle < 0) {
        trace::write(")\n");
        return false;
    }

    platform::ScsiAddress address;
    DeviceEntry* entry;
    if (platform::queryScsiAddress(handle, address)) {
        storeAddress(device, address);
        entry = &device.entries[device.deviceCount];
        entry->adapter = address.host;
        entry->target = address.target;
        entry->lun = address.lun;
        device.deviceCount++;
    } else {
        entry = &device.entries[noAddressSlot];
        entry->adapter = entry->target = entry->lun = 0;
        noAddressSlot--;
    }
    entry->letter = letter;
    std::snprintf(entry->devicePath, sizeof entry->devicePath, "%s", node.c_str());

    device.deviceHandle = handle;
    device.driveLetter = letter;
    constexpr std::uint32_t InquiryBytes = 96;
    std::memset(device.dataBuffer, 0, InquiryBytes);
    ScsiRequestBlock request = mmc::inquiryRequest(device.dataBuffer, InquiryBytes);
    std::uint8_t status = SubmitPassThrough(device, request);

    trace::write("%c: %d - ( ", letter, type);
    if (status == SrbComplete && device.dataBuffer[0] == InquiryPeripheralCdDvd) {
        cleanInquiry(device.dataBuffer);
        formatDisplayName(*entry, device.scsiAddress[4], device.scsiAddress[6], device.scsiAddress[7],
                          device.driveLetter, device.dataBuffer);
    }
    trace::write("%s", entry->name);
    closeHandle(device);
    trace::write(")\n");
    return true;
}

void finishPassThroughScan(RecorderDevice& device, int noAddressSlot) {
    device.initialised = 1;
    device.sptiMode = 1;
    int withoutAddress = FirstNoAddressSlot - noAddressSlot;
    if (withoutAddress == 0) return;
    unsigned nextAdapter = 1;
    if (device.deviceCount > 0) {
        unsigned largest = 0;
        for (int i = 0; i < device.deviceCount; ++i) {
            if (device.entries[i].adapter > largest) largest = device.entries[i].adapter;
        }
        nextAdapter = largest + 1;
    }
    // The slots from the end may overlap the places they move to: copy first.
    DeviceEntry found[MaxRecorders];
    for (int k = 0; k < withoutAddress; ++k) found[k] = device.entries[FirstNoAddressSlot - k];
    for (int k = 0; k < withoutAddress; ++k) {
        DeviceEntry& entry = found[k];
        entry.adapter = static_cast<std::uint8_t>(nextAdapter);
        renumberName(entry, nextAdapter);
        nextAdapter++;
        device.entries[device.deviceCount + k] = entry;
    }
    device.deviceCount = static_cast<std::uint8_t>(device.deviceCount + withoutAddress);
}

std::uint32_t sendAspi(RecorderDevice& device, void* record) {
    auto send = reinterpret_cast<SendAspiCommandFn>(device.sendAspiCommand);
    return send ? send(record) : SrbError;
}

}  // namespace

void ScanAspi(RecorderDevice& device) {
    HostAdapterInquiry inquiry{};
    inquiry.bytes[0] = SrbHostAdapterInquiry;
    inquiry.bytes[2] = 0;
    (void)sendAspi(device, &inquiry);
    unsigned adapters = inquiry.bytes[HaInquiryAdapterCountOffset];
    if (adapters == 0) adapters = 7;

    constexpr std::uint32_t InquiryBytes = 64;
    for (unsigned adapter = 0; adapter < adapters; ++adapter) {
        for (unsigned target = 0; target < 8; ++target) {
            for (unsigned lun = 0; lun < 7; ++lun) {
                if (device.deviceCount >= MaxRecorders) return;
                platform::Event completion;
                std::memset(device.dataBuffer, 0, InquiryBytes);
                ScsiRequestBlock request = mmc::inquiryRequest(device.dataBuffer, InquiryBytes);
                request.adapter = static_cast<std::uint8_t>(adapter);
                request.target = static_cast<std::uint8_t>(target);
                request.lun = static_cast<std::uint8_t>(lun);
                request.completionEvent = &completion;
                if (sendAspi(device, &request) == SrbPending) completion.wait();
                completion.reset();
                if (request.status != SrbComplete || device.dataBuffer[0] != InquiryPeripheralCdDvd) {
                    continue;
                }
                cleanInquiry(device.dataBuffer);
                DeviceEntry& entry = device.entries[device.deviceCount];
                entry.adapter = static_cast<std::uint8_t>(adapter);
                entry.target = static_cast<std::uint8_t>(target);
                entry.lun = static_cast<std::uint8_t>(lun);
                entry.devicePath[0] = 0;
                int letter = FindDriveLetter(device);
                device.driveLetter = letter == NoDriveLetter ? '?' : static_cast<char>(letter);
                if (letter != NoDriveLetter) {
                    std::string node = nodePathForLetter(device, device.driveLetter);
                    std::snprintf(entry.devicePath, sizeof entry.devicePath, "%s", node.c_str());
                }
                entry.letter = device.driveLetter;

                std::uint8_t* diskInfo = device.diskInfoRequest;
                std::memset(diskInfo, 0, sizeof device.diskInfoRequest);
                diskInfo[0] = SrbGetDiskInfo;
                diskInfo[2] = static_cast<std::uint8_t>(adapter);
                diskInfo[DiskInfoTargetOffset] = static_cast<std::uint8_t>(target);
                diskInfo[DiskInfoLunOffset] = static_cast<std::uint8_t>(lun);
                if (sendAspi(device, diskInfo) == SrbComplete) {
                    device.driveLetter = static_cast<char>('A' + diskInfo[DiskInfoDriveNumberOffset]);
                    entry.letter = device.driveLetter;
                }
                formatDisplayName(entry, adapter, target, lun, device.driveLetter, device.dataBuffer);
                device.deviceCount++;
            }
        }
    }
}

int FindDriveLetter(RecorderDevice& device) {
    const DeviceEntry& wanted = device.entries[device.deviceCount < MaxRecorders ? device.deviceCount : 0];
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        int handle = platform::openDeviceNode(nodePathForLetter(device, letter));
        if (handle < 0) continue;
        std::memset(device.scsiAddress, 0, sizeof device.scsiAddress);
        device.scsiAddress[0] = 8;
        platform::ScsiAddress address;
        bool known = platform::queryScsiAddress(handle, address);
        platform::closeDeviceNode(handle);
        if (known) {
            storeAddress(device, address);
            if (address.host == wanted.adapter && address.target == wanted.target &&
                address.lun == wanted.lun) {
                return letter;
            }
        }
    }
    return NoDriveLetter;
}

int Initialise(RecorderDevice& device, int forceAspi, const char* aspiLibraryPath, int /*reserved*/,
               const char* traceLogPath) {
    device.initialised = 0;
    device.sptiMode = 0;
    device.adapterId = device.targetId = device.lun = 0xFF;
    device.driveLetter = '?';
    closeHandle(device);

    trace::close();
    if (traceLogPath && !trace::open(traceLogPath)) return 0;

    device.deviceCount = 0;
    int noAddressSlot = FirstNoAddressSlot;
    int found = 0;
    device.forceAspi = static_cast<std::uint32_t>(forceAspi);

    if (forceAspi == 0) {
        for (char letter = 'C'; letter <= 'Z'; ++letter) {
            if (scanLetter(device, letter, noAddressSlot)) found++;
        }
        if (found > 0) {
            finishPassThroughScan(device, noAddressSlot);
            return 1;
        }
    }

    device.deviceCount = 0;
    if (!SetUpAspi(device, aspiLibraryPath)) return 0;
    device.initialised = 1;
    ScanAspi(device);
    return 1;
}

std::uint8_t GetDeviceCount(RecorderDevice& device) { return device.deviceCount; }

const char* GetDeviceName(RecorderDevice& device, int index) {
    if (index < 0 || index >= device.deviceCount) return nullptr;
    return device.entries[index].name;
}

std::uint8_t GetSelectedIndex(RecorderDevice& device) { return device.selectedIndex; }

int SelectByIndex(RecorderDevice& device, int index) {
    device.adapterId = device.targetId = device.lun = 0xFF;
    device.driveLetter = '?';
    if (index < 0 || index >= device.deviceCount) return 0;
    const DeviceEntry& entry = device.entries[index];
    device.selectedIndex = static_cast<std::uint8_t>(index);
    device.adapterId = entry.adapter;
    device.targetId = entry.target;
    device.lun = entry.lun;
    device.driveLetter = entry.letter;
    closeHandle(device);

    std::uint8_t inquiry[256] = {};
    if (!mmc::Inquiry(device, inquiry)) {
        (void)ProbeCapabilities(device);
        return 0;
    }
    std::memcpy(device.vendorId, inquiry + 8, 8);
    device.vendorId[8] = 0;
    std::memcpy(device.productId, inquiry + 16, 16);
    device.productId[16] = 0;
    (void)ProbeCapabilities(device);
    return 1;
}

int SelectByLetter(RecorderDevice& device, char letter) {
    if (device.deviceCount == 0 || letter == 0) return 0;
    for (int i = 0; i < device.deviceCount; ++i) {
        if (device.entries[i].letter == letter) return SelectByIndex(device, i);
    }
    return 0;
}

}  // namespace velk::device

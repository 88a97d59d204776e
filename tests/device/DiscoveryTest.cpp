#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include <scsi/sg.h>
#include <unistd.h>

#include "engine/core/TraceLog.h"
#include "engine/device/DeviceOperations.h"
#include "platform/ScsiPassThrough.h"
#include "tests/device/FakeDrive.h"

namespace velk {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A machine seen through a fake sysfs tree and a fake SG_IO: each node srN
// has an optional SCSI address and an INQUIRY answer.
struct FakeMachineDrive {
    bool hasAddress = false;
    std::uint8_t host = 0, target = 0, lun = 0;
    bool inquiryAnswers = true;
    std::uint8_t peripheralType = 5;
    std::string vendor = "VENDOR  ", product = "PRODUCT         ", revision = "1.00 build 0042 ";
};

std::map<int, FakeMachineDrive>* machine = nullptr;

int nodeIndexOf(int handle) {
    char link[256] = {};
    std::string fdPath = "/proc/self/fd/" + std::to_string(handle);
    if (::readlink(fdPath.c_str(), link, sizeof link - 1) < 0) return -1;
    const char* name = std::strrchr(link, '/');
    if (!name || std::strncmp(name, "/sr", 3) != 0) return -1;
    return std::atoi(name + 3);
}

int machineIoctl(int handle, unsigned long request, void* argument) {
    auto found = machine->find(nodeIndexOf(handle));
    if (found == machine->end()) {
        errno = EBADF;
        return -1;
    }
    FakeMachineDrive& drive = found->second;
    if (request == SG_GET_SCSI_ID) {
        if (!drive.hasAddress) {
            errno = ENOTTY;
            return -1;
        }
        auto* id = static_cast<sg_scsi_id*>(argument);
        id->host_no = drive.host;
        id->channel = 0;
        id->scsi_id = drive.target;
        id->lun = drive.lun;
        return 0;
    }
    if (request != SG_IO) {
        errno = ENOTTY;
        return -1;
    }
    auto* header = static_cast<sg_io_hdr_t*>(argument);
    header->status = 0;
    header->resid = 0;
    if (header->cmdp[0] != 0x12) return 0;
    if (!drive.inquiryAnswers) {
        header->status = 2;
        return 0;
    }
    auto* data = static_cast<std::uint8_t*>(header->dxferp);
    std::memset(data, 0, header->dxfer_len);
    data[0] = drive.peripheralType;
    std::memcpy(data + 8, drive.vendor.data(), 8);
    std::memcpy(data + 16, drive.product.data(), 16);
    std::memcpy(data + 32, drive.revision.data(), 16);
    return 0;
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine = &drives;
        platform::setIoctlFunction(&machineIoctl);
        std::snprintf(device->sysfsRoot, sizeof device->sysfsRoot, "%s", tree.folder("sys").c_str());
        std::snprintf(device->devRoot, sizeof device->devRoot, "%s", tree.folder("dev").c_str());
    }
    void TearDown() override {
        platform::setIoctlFunction(nullptr);
        trace::close();
        machine = nullptr;
    }
    void addNode(int index, int type, FakeMachineDrive drive) {
        tree.file("sys/class/block/sr" + std::to_string(index) + "/device/type", std::to_string(type) + "\n");
        tree.file("dev/sr" + std::to_string(index));
        drives[index] = drive;
    }
    std::string name(int index) { return device::GetDeviceName(*device, index); }

    testing::TempDir tree;
    std::map<int, FakeMachineDrive> drives;
    testing::DevicePtr device = testing::makeDevice();
};

TEST_F(DiscoveryTest, DriveWithoutAddressIsNumberedAfterTheAddressedOnes) {
    FakeMachineDrive d;
    d.hasAddress = true;
    d.host = 1;
    addNode(1, 5, d);                  // letter D
    FakeMachineDrive e;
    e.vendor = "LITE\x01ON\x1F";       // control and high bytes become blanks
    e.product = "DVDRW \x85\xFF""SOHW-169";
    addNode(2, 5, e);                  // letter E, no address
    addNode(0, 0, FakeMachineDrive{}); // sr0 is not an optical drive

    std::string log = tree.str() + "/scan.elg";
    ASSERT_EQ(device::Initialise(*device, 0, nullptr, 0, log.c_str()), 1);
    trace::close();
    EXPECT_EQ(device->sptiMode, 1);
    EXPECT_EQ(device->initialised, 1);
    ASSERT_EQ(device::GetDeviceCount(*device), 2);
    EXPECT_EQ(name(0), "1:0:0,D: VENDOR   PRODUCT          1.00 build 0042  ");
    EXPECT_EQ(name(1), "2:0:0,E: LITE ON  DVDRW   SOHW-169 1.00 build 0042  ");
    EXPECT_EQ(device->entries[1].adapter, 2);
    EXPECT_EQ(std::string(device->entries[0].devicePath), tree.str() + "/dev/sr1");
    EXPECT_EQ(device::GetDeviceName(*device, 2), nullptr);
    // Before a selection the address is unset and the letter is the last
    // drive the scan opened.
    EXPECT_EQ(device->adapterId, 0xFF);
    EXPECT_EQ(device->driveLetter, 'E');
    EXPECT_EQ(device->deviceHandle, -1);

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    std::string expected = std::string("Version : ") + trace::versionText() + " \n" + "C: ( 1 )\n" +
                           "D: 5 - ( 1:0:0,D: VENDOR   PRODUCT          1.00 build 0042  )\n" +
                           "E: 5 - ( 0:0:0,E: LITE ON  DVDRW   SOHW-169 1.00 build 0042  )\n";
    for (char letter = 'F'; letter <= 'Z'; ++letter) expected += std::string(1, letter) + ": ( 1 )\n";
    EXPECT_EQ(text.str(), expected);
}

TEST_F(DiscoveryTest, DrivesThatAllRefuseTheAddressGetAdaptersInLetterOrder) {
    for (int i = 0; i < 3; ++i) addNode(i, 5, FakeMachineDrive{});
    ASSERT_EQ(device::Initialise(*device, 0, nullptr, 0, nullptr), 1);
    ASSERT_EQ(device::GetDeviceCount(*device), 3);
    EXPECT_EQ(name(0).substr(0, 9), "1:0:0,C: ");
    EXPECT_EQ(name(1).substr(0, 9), "2:0:0,D: ");
    EXPECT_EQ(name(2).substr(0, 9), "3:0:0,E: ");
}

// Moving the drives without an address to the end of the list must not
// overwrite entries not yet moved: the slots overlap once more than half the
// letters hold such drives.
TEST_F(DiscoveryTest, TwentyFourDrivesWithoutAddressKeepTheirLetters) {
    for (int i = 0; i < 24; ++i) addNode(i, 5, FakeMachineDrive{});
    ASSERT_EQ(device::Initialise(*device, 0, nullptr, 0, nullptr), 1);
    ASSERT_EQ(device::GetDeviceCount(*device), 24);
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(device->entries[i].letter, 'C' + i);
        EXPECT_EQ(device->entries[i].adapter, i + 1);
        EXPECT_EQ(name(i).substr(0, name(i).find(',')), std::to_string(i + 1) + ":0:0");
    }
}

TEST_F(DiscoveryTest, DriveWhoseInquiryFailsIsListedWithAnEmptyName) {
    FakeMachineDrive silent;
    silent.hasAddress = true;
    silent.inquiryAnswers = false;
    addNode(0, 5, silent);
    FakeMachineDrive disk;
    disk.hasAddress = true;
    disk.host = 3;
    disk.peripheralType = 0;
    addNode(1, 5, disk);
    ASSERT_EQ(device::Initialise(*device, 0, nullptr, 0, nullptr), 1);
    ASSERT_EQ(device::GetDeviceCount(*device), 2);
    EXPECT_EQ(name(0), "");
    EXPECT_EQ(name(1), "");
    EXPECT_EQ(device->entries[1].letter, 'D');
}

TEST_F(DiscoveryTest, NoOpticalDriveAndNoLibraryFails) {
    addNode(0, 0, FakeMachineDrive{});
    std::string missing = tree.str() + "/no-such-library.so";
    EXPECT_EQ(device::Initialise(*device, 0, missing.c_str(), 0, nullptr), 0);
    EXPECT_EQ(device::GetDeviceCount(*device), 0);
    EXPECT_EQ(device->initialised, 0);
}

TEST_F(DiscoveryTest, UnopenableTraceLogEndsInitialiseBeforeScanning) {
    addNode(0, 5, FakeMachineDrive{});
    device->deviceCount = 7;
    std::string bad = tree.str() + "/missing-folder/log.elg";
    EXPECT_EQ(device::Initialise(*device, 0, nullptr, 0, bad.c_str()), 0);
    EXPECT_EQ(device->deviceCount, 7);
    EXPECT_EQ(device->initialised, 0);
    EXPECT_EQ(device->sptiMode, 0);
}

TEST_F(DiscoveryTest, SelectionByIndexAndLetter) {
    FakeMachineDrive d;
    d.hasAddress = true;
    d.host = 4;
    d.target = 1;
    addNode(1, 5, d);
    ASSERT_EQ(device::Initialise(*device, 0, nullptr, 0, nullptr), 1);
    ASSERT_EQ(device::SelectByLetter(*device, 'D'), 1);
    EXPECT_EQ(device::GetSelectedIndex(*device), 0);
    EXPECT_EQ(device->adapterId, 4);
    EXPECT_EQ(device->targetId, 1);
    EXPECT_EQ(device->driveLetter, 'D');
    EXPECT_STREQ(device->vendorId, "VENDOR  ");
    EXPECT_STREQ(device->productId, "PRODUCT         ");

    EXPECT_EQ(device::SelectByLetter(*device, 'E'), 0);
    EXPECT_EQ(device::SelectByLetter(*device, 0), 0);
    EXPECT_EQ(device::SelectByIndex(*device, 1), 0);
    EXPECT_EQ(device->adapterId, 0xFF);
    EXPECT_EQ(device->targetId, 0xFF);
    EXPECT_EQ(device->driveLetter, '?');
}

TEST(Selection, DuplicateLettersSelectTheLowerIndex) {
    testing::DevicePtr device = testing::makeDevice();
    testing::FakeDrive drive(*device);
    const char letters[] = {'E', 'V', 'V'};
    for (int i = 0; i < 3; ++i) {
        device->entries[i].letter = letters[i];
        device->entries[i].adapter = static_cast<std::uint8_t>(i);
        device->entries[i].target = static_cast<std::uint8_t>(10 + i);
    }
    EXPECT_EQ(device::SelectByLetter(*device, 'V'), 0);  // empty list
    device->deviceCount = 3;
    EXPECT_EQ(device::SelectByLetter(*device, 'V'), 1);
    EXPECT_EQ(device::GetSelectedIndex(*device), 1);
    EXPECT_EQ(device->targetId, 11);
}

// The ASPI-style scan over a scripted library.
struct FakeAspiLibrary {
    std::uint8_t adapterCount = 1;
    std::function<bool(int adapter, int target, int lun)> answers;
    int driveNumberBase = -1;  // -1: get disk information is refused
    int inquiries = 0;
    int highestAdapter = -1, highestLun = -1;
};
FakeAspiLibrary* library = nullptr;

std::uint32_t fakeAspiSend(void* record) {
    auto* bytes = static_cast<std::uint8_t*>(record);
    switch (bytes[0]) {
    case SrbHostAdapterInquiry: bytes[HaInquiryAdapterCountOffset] = library->adapterCount; return SrbComplete;
    case SrbGetDiskInfo:
        if (library->driveNumberBase < 0) return SrbError;
        bytes[DiskInfoDriveNumberOffset] = static_cast<std::uint8_t>(library->driveNumberBase + bytes[DiskInfoTargetOffset]);
        return SrbComplete;
    case SrbExecuteCommand: {
        auto* request = static_cast<ScsiRequestBlock*>(record);
        library->inquiries++;
        library->highestAdapter = std::max<int>(library->highestAdapter, request->adapter);
        library->highestLun = std::max<int>(library->highestLun, request->lun);
        if (!library->answers(request->adapter, request->target, request->lun)) {
            request->status = SrbError;
            return SrbError;
        }
        std::memset(request->dataBuffer, ' ', request->dataLength);
        request->dataBuffer[0] = 5;
        std::memcpy(request->dataBuffer + 8, "VELK", 4);
        request->status = SrbComplete;
        request->completionEvent->set();
        return SrbPending;
    }
    default: return SrbError;
    }
}

class AspiScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        library = &fake;
        device->sendAspiCommand = reinterpret_cast<void*>(&fakeAspiSend);
        std::snprintf(device->devRoot, sizeof device->devRoot, "%s", tree.folder("dev").c_str());
    }
    void TearDown() override { library = nullptr; }
    FakeAspiLibrary fake;
    testing::TempDir tree;
    testing::DevicePtr device = testing::makeDevice();
};

TEST_F(AspiScanTest, NoAdapterReportedIsProbedAsSeven) {
    fake.adapterCount = 0;
    fake.answers = [](int, int, int) { return false; };
    device::ScanAspi(*device);
    EXPECT_EQ(fake.inquiries, 7 * 8 * 7);
    EXPECT_EQ(fake.highestAdapter, 6);
    EXPECT_EQ(fake.highestLun, 6);  // LUN 7 is not probed
    EXPECT_EQ(device->deviceCount, 0);
}

TEST_F(AspiScanTest, ListNeverHoldsMoreThan26Recorders) {
    fake.adapterCount = 2;
    fake.answers = [](int, int, int) { return true; };
    device::ScanAspi(*device);
    EXPECT_EQ(device->deviceCount, MaxRecorders);
    EXPECT_EQ(std::string(device::GetDeviceName(*device, 25)).substr(0, 6), "0:3:4,");
}

TEST_F(AspiScanTest, LettersComeFromDiskInformationOrAreUnknown) {
    fake.answers = [](int adapter, int target, int lun) { return adapter == 0 && lun == 0 && target < 2; };
    fake.driveNumberBase = 21;  // 'V' for target 0
    device::ScanAspi(*device);
    ASSERT_EQ(device->deviceCount, 2);
    EXPECT_EQ(std::string(device::GetDeviceName(*device, 0)).substr(0, 18), "0:0:0,V: VELK     ");
    EXPECT_EQ(std::string(device::GetDeviceName(*device, 1)).substr(0, 9), "0:1:0,W: ");
    EXPECT_EQ(device->entries[1].letter, 'W');

    device->deviceCount = 0;
    fake.driveNumberBase = -1;
    device::ScanAspi(*device);
    EXPECT_EQ(std::string(device::GetDeviceName(*device, 0)).substr(0, 9), "0:0:0,?: ");
    EXPECT_EQ(device->entries[0].letter, '?');
}

}  // namespace
}  // namespace velk

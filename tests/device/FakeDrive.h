// A scripted drive behind either transport of the device layer: the
// ASPI-style entry point (set straight into the device record) or the SG_IO
// ioctl (through the pass-through ioctl hook, on a node in a temporary /dev
// tree). Tests say what each command answers and read back what was sent.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/device/RecorderDevice.h"
#include "engine/device/ScsiRequestBlock.h"
#include "tests/support/TempDir.h"

namespace velk::testing {

struct SentCommand {
    std::vector<std::uint8_t> cdb;       // cdbLength bytes
    std::uint8_t cdbLength = 0;
    std::uint8_t flags = 0;              // SrbFlagsNoData / Read / Write
    std::uint32_t dataLength = 0;
    std::vector<std::uint8_t> dataOut;   // what a data-out command carried
    std::uint8_t opcode() const { return cdb.empty() ? 0 : cdb[0]; }
};

struct Reply {
    std::uint8_t scsiStatus = ScsiStatusGood;  // 2 check condition, 8 busy
    std::vector<std::uint8_t> data;             // copied to the caller's buffer
    std::uint8_t senseKey = 0, asc = 0, ascq = 0;
    std::vector<std::uint8_t> sense;            // raw sense, in place of the fixed 70h from key/asc/ascq
    bool pending = false;                       // ASPI: complete through the event
    std::optional<std::uint32_t> transferred;   // pass-through: bytes moved
    std::optional<std::uint32_t> aspiReturn;    // ASPI: immediate answer to return
    std::optional<std::uint8_t> finalStatus;    // ASPI: request status to leave
};
Reply checkCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);

struct DeviceDeleter {
    void operator()(RecorderDevice* device) const { destroyDevice(device); }
};
using DevicePtr = std::unique_ptr<RecorderDevice, DeviceDeleter>;
inline DevicePtr makeDevice() { return DevicePtr(createDevice()); }

class FakeDrive {
public:
    enum class Transport { Aspi, PassThrough };

    explicit FakeDrive(RecorderDevice& device, Transport transport = Transport::Aspi);
    ~FakeDrive();
    FakeDrive(const FakeDrive&) = delete;
    FakeDrive& operator=(const FakeDrive&) = delete;

    // The answer of every command with this opcode (default: GOOD, no data).
    void on(std::uint8_t opcode, Reply reply) { byOpcode_[opcode] = std::move(reply); }
    // Takes precedence over `on` when it returns a reply.
    std::function<std::optional<Reply>(const SentCommand&)> respond;

    std::vector<SentCommand> sent;
    std::vector<std::uint8_t> opcodes() const;
    const SentCommand* last(std::uint8_t opcode) const;

    // Pass-through only: what the last SG_IO carried.
    struct SgIoSeen {
        int direction = 0;
        unsigned dxferLength = 0;
        void* dxferp = nullptr;
        unsigned char mxSbLen = 0;
        unsigned timeout = 0;
        unsigned char cmdLen = 0;
        int handle = -1;
    } lastSgIo;
    // Pass-through only: make the ioctl itself fail with this errno, or report
    // a host adapter error.
    int failIoctlWith = 0;
    bool hostError = false;

    const TempDir& tree() const { return tree_; }

    Reply answer(const SentCommand& command);

private:
    RecorderDevice& device_;
    Transport transport_;
    TempDir tree_;
    std::map<std::uint8_t, Reply> byOpcode_;
};

}  // namespace velk::testing

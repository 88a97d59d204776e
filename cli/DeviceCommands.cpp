#include "cli/DeviceCommands.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/SessionCommands.h"
#include "engine/api/BurnEngine.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderDevice.h"

namespace velk::cli {
namespace {

using DeviceOptions = RecorderOptions;

int runDevices(const DeviceOptions& options) {
    BurnEngine engine;
    if (!listRecorders(engine, options, "devices")) return ExitFailed;
    for (int i = 0; i < engine.GetDeviceCount(); ++i) std::printf("%d\t%s\n", i, engine.GetDeviceName(i));
    return ExitOk;
}

int runInfo(const DeviceOptions& options) {
    BurnEngine engine;
    if (!openRecorder(engine, options, "info")) return ExitFailed;
    RecorderDevice& device = engine.device();
    std::printf("name: %s\n", engine.GetDeviceName(device.selectedIndex));
    std::printf("vendor: %s\n", device.vendorId);
    std::printf("product: %s\n", device.productId);
    std::printf("ready: %d\n", engine.TestUnitReady());
    int type = engine.GetDiscType();
    std::printf("disc type: %d %s\n", type, discTypeName(type));
    std::printf("sessions: %d\n", engine.GetSessionCount());
    printSessionList(engine, stdout);
    std::printf("writable: %d\n", engine.IsDiscWritable());
    std::printf("erasable: %d\n", engine.CanErase());
    std::printf("free blocks: %u\n", static_cast<unsigned>(engine.GetFreeBlocks()));
    std::printf("capacity: %u\n", static_cast<unsigned>(engine.GetDiscCapacity()));
    std::printf("iso volume size: %u\n", engine.GetIsoVolumeSize());
    std::printf("max read speed: %u\n", engine.GetMaxReadSpeed());
    std::printf("read speed: %u\n", engine.GetReadSpeed());
    std::printf("max write speed: %u\n", engine.GetMaxWriteSpeed());
    std::printf("max write speed now: %u\n", engine.GetMaxWriteSpeedCurrent());
    std::printf("write speed: %u\n", engine.GetWriteSpeed());
    std::printf("can write: %d\n", engine.CanWrite());
    struct Capability {
        int code;
        const char* name;
    };
    const Capability capabilities[] = {
        {1, "reads CD-R"},    {2, "reads CD-RW"},   {3, "reads DVD-RAM"},  {4, "reads DVD-R"},
        {5, "reads DVD-RW"},  {6, "reads DVD+RW"},  {7, "reads DVD+R"},    {8, "reads DVD+R DL"},
        {11, "writes CD-R"},  {12, "writes CD-RW"}, {13, "writes DVD-RAM"}, {14, "writes DVD-R"},
        {15, "writes DVD-RW"}, {16, "writes DVD+RW"}, {17, "writes DVD+R"}, {18, "writes DVD+R DL"},
        {21, "test write"},   {22, "underrun-free recording"},
    };
    for (const Capability& capability : capabilities) {
        std::printf("%s: %d\n", capability.name, engine.QueryCapability(capability.code));
    }
    return ExitOk;
}

// What READ DISC INFORMATION says of the disc: blank, appendable or
// finalised; empty when the recorder does not say.
std::string discStateText(BurnEngine& engine) {
    RecorderDevice& device = engine.device();
    std::uint8_t info[DiscInfoBytes] = {};
    if (!mmc::ReadDiscInformation(device, info, sizeof info) || mmc::responseBytes(device, sizeof info) < 3) {
        return {};
    }
    switch (info[2] & 0x03) {
    case 0: return "blank";
    case 1: return "appendable";
    case 2: return "finalised";
    default: return {};
    }
}

// A tray command says what it did, so that a script's log (and a user at a
// drive across the room) can tell it ran: "ejected", "loaded: DVD+R, blank".
int runTray(const DeviceOptions& options, bool eject) {
    BurnEngine engine;
    if (!openRecorder(engine, options, eject ? "eject" : "load")) return ExitFailed;
    if (!(eject ? engine.Eject() : engine.LoadMedium())) {
        std::fprintf(stderr, "velk-cli: %s failed: %s\n", eject ? "eject" : "load", engine.GetLastErrorText());
        return ExitFailed;
    }
    if (eject) {
        std::printf("ejected\n");
        return ExitOk;
    }
    const int type = engine.GetDiscType();
    if (type == DiscNone) {
        std::printf("loaded: no disc\n");
        return ExitOk;
    }
    const std::string state = discStateText(engine);
    std::printf("loaded: %s%s%s\n", discTypeName(type), state.empty() ? "" : ", ", state.c_str());
    return ExitOk;
}

template <typename Run>
void addCommand(CLI::App& app, const char* name, const char* description, bool withDevice, Run run) {
    auto options = std::make_shared<DeviceOptions>();
    CLI::App* command = app.add_subcommand(name, description);
    addRecorderOptions(command, *options, withDevice);
    command->callback([options, run] {
        int code = run(*options);
        if (code != ExitOk) throw CLI::RuntimeError(code);
    });
}

}  // namespace

void addDeviceCommands(CLI::App& app) {
    addCommand(app, "devices", "List the recorders", false, runDevices);
    addCommand(app, "info", "Show what the recorder and its disc report", true, runInfo);
    addCommand(app, "eject", "Open the recorder's tray", true,
               [](const DeviceOptions& options) { return runTray(options, true); });
    addCommand(app, "load", "Close the recorder's tray", true,
               [](const DeviceOptions& options) { return runTray(options, false); });
}

}  // namespace velk::cli

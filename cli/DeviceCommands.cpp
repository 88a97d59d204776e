#include "cli/DeviceCommands.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "cli/Json.h"
#include "cli/SessionCommands.h"
#include "engine/api/BurnEngine.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderDevice.h"
#include "engine/image/SessionImport.h"

namespace velk::cli {
namespace {

struct DeviceOptions : RecorderOptions {
    bool json = false;
};

// The capabilities `info` shows, by their QueryCapability code.
struct Capability {
    int code;
    const char* name;
    const char* key;  // in the JSON object
};
constexpr Capability Capabilities[] = {
    {1, "reads CD-R", "reads_cd_r"},
    {2, "reads CD-RW", "reads_cd_rw"},
    {3, "reads DVD-RAM", "reads_dvd_ram"},
    {4, "reads DVD-R", "reads_dvd_r"},
    {5, "reads DVD-RW", "reads_dvd_rw"},
    {6, "reads DVD+RW", "reads_dvd_plus_rw"},
    {7, "reads DVD+R", "reads_dvd_plus_r"},
    {8, "reads DVD+R DL", "reads_dvd_plus_r_dl"},
    {11, "writes CD-R", "writes_cd_r"},
    {12, "writes CD-RW", "writes_cd_rw"},
    {13, "writes DVD-RAM", "writes_dvd_ram"},
    {14, "writes DVD-R", "writes_dvd_r"},
    {15, "writes DVD-RW", "writes_dvd_rw"},
    {16, "writes DVD+RW", "writes_dvd_plus_rw"},
    {17, "writes DVD+R", "writes_dvd_plus_r"},
    {18, "writes DVD+R DL", "writes_dvd_plus_r_dl"},
    {21, "test write", "test_write"},
    {22, "underrun-free recording", "underrun_protection"},
};

void printDevicesJson(BurnEngine& engine) {
    const RecorderDevice& device = engine.device();
    JsonWriter json;
    json.beginObject().field("command", "devices").key("devices").beginArray();
    for (int i = 0; i < engine.GetDeviceCount(); ++i) {
        const DeviceEntry& entry = device.entries[i];
        json.beginObject().field("index", i).field("name", engine.GetDeviceName(i));
        json.key("letter");
        if (entry.letter != 0 && entry.letter != '?') {
            json.value(std::string(1, entry.letter));
        } else {
            json.null();
        }
        json.key("path");
        if (entry.devicePath[0] != 0) {
            json.value(entry.devicePath);
        } else {
            json.null();
        }
        json.endObject();
    }
    json.endArray().endObject();
    printJson(json);
}

void printInfoJson(BurnEngine& engine) {
    RecorderDevice& device = engine.device();
    JsonWriter json;
    json.beginObject().field("command", "info");
    json.field("name", engine.GetDeviceName(device.selectedIndex));
    json.field("vendor", device.vendorId).field("product", device.productId);
    json.field("ready", engine.TestUnitReady() != 0);
    const int type = engine.GetDiscType();
    json.key("disc").beginObject().field("type", type).field("name", discTypeName(type)).endObject();
    json.field("session_count", engine.GetSessionCount());
    json.key("sessions").beginArray();
    for (const image::SessionExtent& session : image::listSessions(device)) {
        json.beginObject().field("number", session.number).field("start", session.start);
        json.field("blocks", session.blocks).endObject();
    }
    json.endArray();
    json.field("writable", engine.IsDiscWritable() != 0).field("erasable", engine.CanErase() != 0);
    json.field("free_blocks", static_cast<unsigned>(engine.GetFreeBlocks()));
    json.field("capacity", static_cast<unsigned>(engine.GetDiscCapacity()));
    json.field("iso_volume_size", engine.GetIsoVolumeSize());
    json.key("speeds").beginObject();
    json.field("max_read", engine.GetMaxReadSpeed()).field("read", engine.GetReadSpeed());
    json.field("max_write", engine.GetMaxWriteSpeed()).field("max_write_now", engine.GetMaxWriteSpeedCurrent());
    json.field("write", engine.GetWriteSpeed()).endObject();
    json.field("can_write", engine.CanWrite() != 0);
    json.key("capabilities").beginObject();
    for (const Capability& capability : Capabilities) {
        json.field(capability.key, engine.QueryCapability(capability.code) != 0);
    }
    json.endObject().endObject();
    printJson(json);
}

int runDevices(const DeviceOptions& options) {
    BurnEngine engine;
    if (!listRecorders(engine, options, "devices")) return ExitFailed;
    if (options.json) {
        printDevicesJson(engine);
        return ExitOk;
    }
    for (int i = 0; i < engine.GetDeviceCount(); ++i) std::printf("%d\t%s\n", i, engine.GetDeviceName(i));
    return ExitOk;
}

int runInfo(const DeviceOptions& options) {
    BurnEngine engine;
    if (!openRecorder(engine, options, "info")) return ExitFailed;
    if (options.json) {
        printInfoJson(engine);
        return ExitOk;
    }
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
    for (const Capability& capability : Capabilities) {
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
void addCommand(CLI::App& app, const char* name, const char* description, bool withDevice, Run run,
                bool withJson = false) {
    auto options = std::make_shared<DeviceOptions>();
    CLI::App* command = app.add_subcommand(name, description);
    addRecorderOptions(command, *options, withDevice);
    if (withJson) addJsonFlag(command, options->json);
    command->callback([options, run] {
        int code = run(*options);
        if (code != ExitOk) throw CLI::RuntimeError(code);
    });
}

}  // namespace

void addDeviceCommands(CLI::App& app) {
    addCommand(app, "devices", "List the recorders", false, runDevices, true);
    addCommand(app, "info", "Show what the recorder and its disc report", true, runInfo, true);
    addCommand(app, "eject", "Open the recorder's tray", true,
               [](const DeviceOptions& options) { return runTray(options, true); });
    addCommand(app, "load", "Close the recorder's tray", true,
               [](const DeviceOptions& options) { return runTray(options, false); });
}

}  // namespace velk::cli

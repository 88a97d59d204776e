#include "cli/DeviceCommands.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "engine/api/BurnEngine.h"
#include "engine/device/RecorderDevice.h"

namespace velk::cli {
namespace {

struct DeviceOptions {
    std::string device;
    std::string trace;
    std::vector<std::string> virtualDiscs;
};

constexpr const char* PluginFileName = "libvelk-vrec.so";

// The virtual recorder's library: $VELK_VIRTUAL_RECORDER_LIBRARY, else beside
// the program, in the build tree's virtual-recorder folder or in ../lib, else
// the loader's search path.
std::string virtualRecorderLibrary() {
    if (const char* chosen = std::getenv("VELK_VIRTUAL_RECORDER_LIBRARY"); chosen && *chosen) return chosen;
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        std::filesystem::path folder = program.parent_path();
        for (const std::filesystem::path& candidate :
             {folder / PluginFileName, folder.parent_path() / "virtual-recorder" / PluginFileName,
              folder.parent_path() / "lib" / PluginFileName}) {
            if (std::filesystem::exists(candidate, error)) return candidate.string();
        }
    }
    return PluginFileName;
}

const char* discTypeName(int type) {
    switch (type) {
    case DiscNone: return "none";
    case DiscCdRom: return "CD-ROM";
    case DiscCdR: return "CD-R";
    case DiscCdRw: return "CD-RW";
    case DiscDvdRom: return "DVD-ROM";
    case DiscDvdR: return "DVD-R";
    case DiscDvdRam: return "DVD-RAM";
    case DiscDvdRwRestricted: return "DVD-RW restricted overwrite";
    case DiscDvdRwSequential: return "DVD-RW sequential";
    case DiscDvdPlusRw: return "DVD+RW";
    case DiscDvdPlusR: return "DVD+R";
    case DiscDvdPlusRDualLayer: return "DVD+R DL";
    case DiscDdcdRom: return "DDCD-ROM";
    case DiscDdcdR: return "DDCD-R";
    case DiscDdcdRw: return "DDCD-RW";
    default: return "unknown";
    }
}

// Builds the recorder list as the options ask; prints why when it fails.
bool initialise(BurnEngine& engine, const DeviceOptions& options) {
    const char* trace = options.trace.empty() ? nullptr : options.trace.c_str();
    int result;
    if (!options.virtualDiscs.empty()) {
        std::string discs;
        for (const std::string& disc : options.virtualDiscs) {
            if (!discs.empty()) discs += ':';
            discs += std::filesystem::absolute(disc).string();
        }
        ::setenv("VELK_VIRTUAL_DISCS", discs.c_str(), 1);
        std::string library = virtualRecorderLibrary();
        result = engine.Initialise(1, library.c_str(), 0, trace);
        if (!result) {
            std::fprintf(stderr, "velk-cli: the virtual recorder (%s) cannot be used\n", library.c_str());
            return false;
        }
    } else {
        result = trace ? engine.Initialise(0, nullptr, 0, trace) : 1;
        if (!result) {
            std::fprintf(stderr, "velk-cli: %s: cannot open the trace log\n", trace);
            return false;
        }
    }
    if (engine.GetDeviceCount() == 0) {
        std::fprintf(stderr, "velk-cli: no recorder found\n");
        return false;
    }
    return true;
}

// Selects the recorder named by --device (default: the first one).
bool select(BurnEngine& engine, const std::string& wanted) {
    RecorderDevice& device = engine.device();
    int count = engine.GetDeviceCount();
    int index = -1;
    if (wanted.empty()) {
        index = 0;
    } else if (wanted.find_first_not_of("0123456789") == std::string::npos) {
        index = std::atoi(wanted.c_str());
    } else if (wanted.size() == 1 || (wanted.size() == 2 && wanted[1] == ':')) {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(wanted[0])));
        for (int i = 0; i < count && index < 0; ++i) {
            if (device.entries[i].letter == letter) index = i;
        }
    } else {
        std::error_code error;
        std::filesystem::path path = std::filesystem::weakly_canonical(wanted, error);
        for (int i = 0; i < count && index < 0; ++i) {
            if (device.entries[i].devicePath[0] == 0) continue;
            std::filesystem::path node = std::filesystem::weakly_canonical(device.entries[i].devicePath, error);
            if (node == path) index = i;
        }
    }
    if (index < 0 || index >= count) {
        std::fprintf(stderr, "velk-cli: no recorder %s\n", wanted.c_str());
        return false;
    }
    if (!engine.SelectByIndex(index)) {
        std::fprintf(stderr, "velk-cli: recorder %d does not answer: %s\n", index, engine.GetLastErrorText());
        return false;
    }
    return true;
}

int runDevices(const DeviceOptions& options) {
    BurnEngine engine;
    if (!initialise(engine, options)) return ExitFailed;
    for (int i = 0; i < engine.GetDeviceCount(); ++i) std::printf("%d\t%s\n", i, engine.GetDeviceName(i));
    return ExitOk;
}

int runInfo(const DeviceOptions& options) {
    BurnEngine engine;
    if (!initialise(engine, options) || !select(engine, options.device)) return ExitFailed;
    RecorderDevice& device = engine.device();
    std::printf("name: %s\n", engine.GetDeviceName(device.selectedIndex));
    std::printf("vendor: %s\n", device.vendorId);
    std::printf("product: %s\n", device.productId);
    std::printf("ready: %d\n", engine.TestUnitReady());
    int type = engine.GetDiscType();
    std::printf("disc type: %d %s\n", type, discTypeName(type));
    std::printf("sessions: %d\n", engine.GetSessionCount());
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

int runTray(const DeviceOptions& options, bool eject) {
    BurnEngine engine;
    if (!initialise(engine, options) || !select(engine, options.device)) return ExitFailed;
    if (!(eject ? engine.Eject() : engine.LoadMedium())) {
        std::fprintf(stderr, "velk-cli: %s failed: %s\n", eject ? "eject" : "load", engine.GetLastErrorText());
        return ExitFailed;
    }
    return ExitOk;
}

void addCommonOptions(CLI::App* command, const std::shared_ptr<DeviceOptions>& options, bool withDevice) {
    if (withDevice) {
        command->add_option("--device", options->device, "Recorder: list index, drive letter or /dev path");
    }
    command->add_option("--trace", options->trace, "Write a command trace to FILE");
    command->add_option("--virtual", options->virtualDiscs, "Use the virtual recorder on these disc files");
}

template <typename Run>
void addCommand(CLI::App& app, const char* name, const char* description, bool withDevice, Run run) {
    auto options = std::make_shared<DeviceOptions>();
    CLI::App* command = app.add_subcommand(name, description);
    addCommonOptions(command, options, withDevice);
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

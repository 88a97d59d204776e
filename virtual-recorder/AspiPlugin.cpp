#include "virtual-recorder/AspiPlugin.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace velk::vrec {

namespace {

// One virtual drive of the plugin. A request runs in the caller's thread
// under the drive's lock, so two callers never interleave inside one
// command. With the "async" rule, requests that carry a completion event go
// to the drive's worker thread instead, started on first use.
class PluginDrive {
public:
    explicit PluginDrive(RecorderOptions options) : recorder(std::move(options)) {}
    ~PluginDrive() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable()) worker_.join();
    }

    // A request with a completion event: SrbPending, the event set once the
    // request is filled in (before the call returns unless the drive answers
    // from its worker).
    std::uint32_t submit(ScsiRequestBlock* request) {
        request->status = SrbPending;
        if (recorder.faults().answersFromWorker()) {
            enqueue(request);
            return SrbPending;
        }
        platform::Event* event = request->completionEvent;
        run(*request);
        event->set();
        return SrbPending;
    }

    VirtualRecorder recorder;
    std::size_t target = 0;
    std::ofstream* journalFile = nullptr;
    std::mutex* journalMutex = nullptr;

    void run(ScsiRequestBlock& request) {
        std::lock_guard<std::mutex> busy(executing_);
        const std::size_t before = recorder.journal().size();
        recorder.execute(request);
        if (journalFile != nullptr) {
            const auto entries = recorder.journal().entriesFrom(before);
            std::lock_guard<std::mutex> lock(*journalMutex);
            for (const auto& entry : entries) {
                *journalFile << 'T' << target << ' ' << formatJournalEntry(entry) << '\n';
            }
            journalFile->flush();
        }
    }

private:
    void enqueue(ScsiRequestBlock* request) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!worker_.joinable()) worker_ = std::thread([this] { work(); });
            queue_.push_back(request);
        }
        wake_.notify_all();
    }

    void work() {
        for (;;) {
            ScsiRequestBlock* request = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;  // stopping with nothing left
                request = queue_.front();
                queue_.pop_front();
            }
            platform::Event* event = request->completionEvent;
            run(*request);
            event->set();
        }
    }

    std::mutex executing_;  // one command at a time, whichever thread runs it
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<ScsiRequestBlock*> queue_;
    bool stopping_ = false;
};

struct PluginState {
    // The journal file outlives the drives, whose workers may still write to it.
    std::unique_ptr<std::ofstream> journalFile;
    std::mutex journalMutex;
    std::vector<std::unique_ptr<PluginDrive>> drives;
};

std::mutex gMutex;
std::unique_ptr<PluginState> gState;

std::string envText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A plan that cannot be read would leave a test burning without the faults
// it asked for: say so where the user sees it.
void addPlanOrComplain(PluginDrive& drive, const std::string& plan) {
    if (plan.empty()) return;
    std::string error;
    if (!drive.recorder.faults().addPlan(plan, &error)) {
        std::fprintf(stderr, "velk-vrec: drive %zu: %s\n", drive.target, error.c_str());
    }
}

// How far a poll that finds a drive with a manual clock busy moves its
// clock: the pause of the engine's ready polls.
constexpr double kManualPollStepSeconds = 5.0;

std::unique_ptr<PluginState> makeState(const std::vector<std::string>& paths, double timeScale,
                                       const std::string& faultPlan, const std::string& journalPath,
                                       bool perDrivePlans = true, bool manualClock = false) {
    auto state = std::make_unique<PluginState>();
    if (!journalPath.empty()) {
        state->journalFile = std::make_unique<std::ofstream>(journalPath, std::ios::app);
        if (!*state->journalFile) state->journalFile.reset();
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        RecorderOptions options;
        options.timeScale = timeScale > 0 ? timeScale : 1.0;
        if (manualClock) {
            options.manualClock = true;
            options.notReadyStepSeconds = kManualPollStepSeconds;
        }
        auto drive = std::make_unique<PluginDrive>(options);
        drive->target = i;
        if (state->journalFile) {
            drive->journalFile = state->journalFile.get();
            drive->journalMutex = &state->journalMutex;
        }
        addPlanOrComplain(*drive, faultPlan);
        if (perDrivePlans) addPlanOrComplain(*drive, envText(("VELK_VIRTUAL_FAULTS_" + std::to_string(i)).c_str()));
        // A disc file that is there but cannot be used (damaged, unreadable)
        // is said so; a missing one is an empty drive.
        std::string error;
        std::error_code unused;
        if (!drive->recorder.loadDiscFile(paths[i], &error) && std::filesystem::exists(paths[i], unused)) {
            std::fprintf(stderr, "velk-vrec: drive %zu: %s\n", i, error.c_str());
        }
        state->drives.push_back(std::move(drive));
    }
    return state;
}

// The configuration, made from the environment on first use.
PluginState& state() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gState) {
        std::vector<std::string> paths;
        std::istringstream list(envText("VELK_VIRTUAL_DISCS"));
        for (std::string p; std::getline(list, p, ':');) {
            if (!p.empty()) paths.push_back(p);
        }
        double scale = 1.0;
        const std::string scaleText = envText("VELK_VIRTUAL_TIME_SCALE");
        if (!scaleText.empty()) scale = std::strtod(scaleText.c_str(), nullptr);
        gState = makeState(paths, scale, envText("VELK_VIRTUAL_FAULTS"), envText("VELK_VIRTUAL_JOURNAL"), true,
                           envText("VELK_VIRTUAL_CLOCK") == "manual");
    }
    return *gState;
}

PluginDrive* driveAt(std::uint8_t adapter, std::uint8_t target) {
    auto& s = state();
    if (adapter != 0 || target >= s.drives.size()) return nullptr;
    return s.drives[target].get();
}

std::uint32_t hostAdapterInquiry(std::uint8_t* bytes) {
    const std::uint8_t adapter = bytes[2];
    const std::size_t drives = state().drives.size();
    if (adapter != 0) {
        bytes[1] = SrbInvalidAdapter;
        return SrbInvalidAdapter;
    }
    bytes[1] = SrbComplete;
    bytes[HaInquiryAdapterCountOffset] = 1;
    bytes[9] = 7;  // the adapter's own SCSI id
    std::memcpy(bytes + 10, "ASPI for WIN32  ", 16);
    std::memcpy(bytes + 26, "VELK VIRTUAL    ", 16);
    bytes[42 + 3] = static_cast<std::uint8_t>(drives > 8 ? drives : 8);  // targets per bus
    return SrbComplete;
}

std::uint32_t getDiskInfo(std::uint8_t* bytes) {
    const std::uint8_t target = bytes[DiskInfoTargetOffset];
    const std::uint8_t lun = bytes[DiskInfoLunOffset];
    if (driveAt(bytes[2], target) == nullptr || lun != 0 || FirstVirtualDriveNumber + target > 25) {
        bytes[1] = SrbNoDevice;
        return SrbNoDevice;
    }
    bytes[1] = SrbComplete;
    bytes[DiskInfoDriveNumberOffset] = static_cast<std::uint8_t>(FirstVirtualDriveNumber + target);
    return SrbComplete;
}

std::uint32_t executeCommand(ScsiRequestBlock* request) {
    PluginDrive* drive = driveAt(request->adapter, request->target);
    if (drive == nullptr) {
        request->status = SrbNoDevice;
        return SrbNoDevice;
    }
    if (request->lun != 0) {
        // Only INQUIRY reaches a missing logical unit: peripheral qualifier 3.
        if (request->cdb[0] == 0x12 && request->dataBuffer != nullptr && request->dataLength > 0) {
            std::memset(request->dataBuffer, 0, request->dataLength);
            request->dataBuffer[0] = 0x7F;
            request->targetStatus = ScsiStatusGood;
            request->status = SrbComplete;
            return SrbComplete;
        }
        request->status = SrbNoDevice;
        return SrbNoDevice;
    }
    if ((request->flags & SrbEventNotify) != 0 && request->completionEvent != nullptr) {
        return drive->submit(request);
    }
    drive->run(*request);
    return request->status;
}

}  // namespace

VirtualRecorder* vrecRecorder(std::size_t target) {
    auto& s = state();
    return target < s.drives.size() ? &s.drives[target]->recorder : nullptr;
}

std::size_t vrecDriveCount() { return state().drives.size(); }

}  // namespace velk::vrec

using namespace velk;
using namespace velk::vrec;

extern "C" int vrecConfigure(const char* const* paths, std::size_t count, double timeScale) {
    std::vector<std::string> list;
    for (std::size_t i = 0; i < count; ++i) list.emplace_back(paths[i]);
    auto fresh = makeState(list, timeScale, {}, {}, false);
    std::unique_ptr<PluginState> old;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        old = std::move(gState);
        gState = std::move(fresh);
    }
    return static_cast<int>(count);
}

extern "C" int vrecAddPlan(std::size_t target, const char* plan) {
    VirtualRecorder* recorder = vrecRecorder(target);
    if (recorder == nullptr || plan == nullptr) return 0;
    return recorder->faults().addPlan(plan) ? 1 : 0;
}

extern "C" double vrecCommandSeconds(std::size_t target, std::size_t index) {
    VirtualRecorder* recorder = vrecRecorder(target);
    if (recorder == nullptr) return -1.0;
    const auto entries = recorder->journal().entriesFrom(index);
    return entries.empty() ? -1.0 : entries.front().seconds;
}

extern "C" void vrecShutdown() {
    std::unique_ptr<PluginState> old;
    std::lock_guard<std::mutex> lock(gMutex);
    old = std::move(gState);
}

extern "C" std::uint32_t GetASPI32SupportInfo() {
    const std::size_t drives = state().drives.size();
    // Status in bits 8-15 (1 = complete), number of host adapters in bits 0-7.
    return drives > 0 ? 0x0101u : 0xE800u;
}

extern "C" std::uint32_t SendASPI32Command(void* request) {
    if (request == nullptr) return SrbInvalidRequest;
    auto* bytes = static_cast<std::uint8_t*>(request);
    switch (bytes[0]) {
    case SrbHostAdapterInquiry:
        return hostAdapterInquiry(bytes);
    case SrbGetDiskInfo:
        return getDiskInfo(bytes);
    case SrbExecuteCommand:
        return executeCommand(static_cast<ScsiRequestBlock*>(request));
    default:
        bytes[1] = SrbInvalidRequest;
        return SrbInvalidRequest;
    }
}

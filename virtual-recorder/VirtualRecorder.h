// The virtual recorder: an MMC-5 CD/DVD recorder emulated in software over a
// disc file (DiscStore). It takes the same request records as any transport
// (ScsiRequestBlock), answers with real status and sense data, and keeps a
// journal of what it received. Tests use it in-process; the plugin
// (AspiPlugin.h) serves one per disc file to the engine's ASPI transport.
//
// It is as strict as a real drive, so that a burner that gets a rule wrong
// fails here first: a CDB of the wrong length for its opcode group, a data
// transfer against the command's direction, or a MODE SELECT header with a
// mode data length is refused; the write parameters are checked again when
// the data arrives (write type against the medium, SAO without a cue sheet,
// DVD-R disc-at-once without a reserved track, a minimally blanked DVD-RW);
// test writes follow the next writable address on a copy of the layout and
// record nothing; each medium takes only the close functions it defines; and
// an empty drive buffer in the middle of a track is an underrun.
//
// Threads: execute() runs one command at a time (callers on several threads
// are serialised); journal(), faults() and clock() may be used from any
// thread while a command runs. A WRITE that meets a full drive buffer, and a
// command without Immed that starts a long operation, block their caller for
// the simulated time they take (see DriveTiming.h).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "engine/device/ScsiRequestBlock.h"
#include "virtual-recorder/DiscStore.h"
#include "virtual-recorder/FaultInjector.h"
#include "virtual-recorder/Journal.h"
#include "virtual-recorder/Sense.h"

namespace velk::vrec {

class SimClock;

struct RecorderOptions {
    std::string vendor = "VELK";
    std::string product = "Virtual Recorder";
    std::string revision = "1.00";
    bool modePage30 = false;          // answer MODE SENSE of page 30h
    double timeScale = 1.0;           // simulated seconds per real second
    // A clock that stands still until the test (VirtualRecorder::clock()
    // .advance) or the drive's own waits move it (DriveTiming.h);
    // timeScale then has no effect.
    bool manualClock = false;
    // With the manual clock: how far a command answered "not ready,
    // operation in progress" (02/04/xx) moves it on, standing for the wait of
    // a host that polls. 0: only the test moves it.
    double notReadyStepSeconds = 0.0;
    std::uint32_t bufferBytes = 2u * 1024 * 1024;
};

struct CommandResult {
    std::uint8_t srbStatus = 0;       // SrbComplete / SrbError
    std::uint8_t scsiStatus = 0;      // GOOD, CHECK CONDITION, BUSY
    Sense sense;
    bool good() const { return scsiStatus == ScsiStatusGood; }
};

enum class DataDirection : std::uint8_t { None, In, Out };

class VirtualRecorder {
public:
    explicit VirtualRecorder(RecorderOptions options = {});
    ~VirtualRecorder();
    VirtualRecorder(const VirtualRecorder&) = delete;
    VirtualRecorder& operator=(const VirtualRecorder&) = delete;

    // Executes one request record (command code SrbExecuteCommand); fills
    // status, targetStatus and sense, moves data through dataBuffer, and
    // returns the request status (SrbComplete or SrbError).
    std::uint8_t execute(ScsiRequestBlock& request);
    // Convenience for tests: builds the request record around `cdb`.
    CommandResult run(std::initializer_list<std::uint8_t> cdb, std::span<std::uint8_t> data = {},
                      DataDirection direction = DataDirection::In);
    CommandResult run(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data, DataDirection direction);

    // The medium. insertDisc puts a disc in the closed tray; loadDiscFile
    // leaves the tray open when the disc file says it was left open (an
    // eject that the next load undoes); the tray and a disc removed leave
    // the drive empty.
    void insertDisc(std::unique_ptr<DiscStore> disc);
    [[nodiscard]] bool loadDiscFile(const std::string& path, std::string* error = nullptr);
    std::unique_ptr<DiscStore> removeDisc();
    void openTray();
    void closeTray();
    bool trayOpen() const;
    bool hasDisc() const;
    // A copy of the current layout (nothing without a disc).
    std::optional<DiscLayout> discLayout() const;
    // Saves the disc file now.
    [[nodiscard]] bool saveDisc(std::string* error = nullptr);

    // A reset: the next command reports 06/29/00.
    void powerOnReset();
    // Bytes in the drive buffer now.
    std::uint32_t bufferLevel();
    // Current write speed in kB/s, as page 2Ah reports it.
    std::uint32_t writeSpeedKbps();

    Journal& journal();
    FaultInjector& faults();
    SimClock& clock();
    void setTimeScale(double scale);
    const RecorderOptions& options() const;

    struct State;

private:
    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;
};

}  // namespace velk::vrec

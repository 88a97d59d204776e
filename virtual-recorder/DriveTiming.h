// Time in the virtual recorder: a simulated clock, the drive buffer that
// WRITE fills and the write speed drains, the not-ready window of an
// operation started with the Immed bit, and how long the drive's long
// operations take.
//
// The clock runs in one of two modes. Scaled, it runs `scale` times faster
// than the steady clock, so that a user's burn or a test runs in
// milliseconds what takes seconds. Manual, it stands still until someone
// moves it: the test that owns it (advance), or the drive's own waits (a
// WRITE waiting for room in the buffer, a long operation without Immed),
// which move it on at once instead of blocking. A test that asserts on a
// simulated duration uses the manual clock, so that how busy the machine is
// cannot change what it measures.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "virtual-recorder/Sense.h"

namespace velk::vrec {

// Simulated durations of the drive's long operations, in seconds. A full
// format or blank takes the time to write the whole medium at the current
// write speed instead (VirtualRecorder::State::secondsFor).
inline constexpr double CloseTrackSeconds = 1.0;
inline constexpr double CloseSessionCdSeconds = 20.0;
inline constexpr double CloseSessionDvdSeconds = 10.0;
inline constexpr double FinaliseSeconds = 30.0;
inline constexpr double BackgroundFormatSeconds = 3.0;
inline constexpr double QuickFormatSeconds = 20.0;
inline constexpr double GrowFormatSeconds = 5.0;
inline constexpr double MinimalBlankSeconds = 30.0;

enum class ClockMode : std::uint8_t { Scaled, Manual };

class SimClock {
public:
    explicit SimClock(double scale = 1.0, ClockMode mode = ClockMode::Scaled);
    // Simulated seconds since the clock was made.
    double now() const;
    double scale() const;
    bool manual() const { return mode_ == ClockMode::Manual; }
    // Scaled: later readings advance `scale` simulated seconds per real
    // second. Manual: kept, without effect.
    void setScale(double scale);
    // Moves the clock on by `seconds` at once (both modes).
    void advance(double seconds);
    // Scaled: blocks the caller for `seconds` of simulated time. Manual:
    // moves the clock on by `seconds` and returns.
    void sleepFor(double seconds);

private:
    using Steady = std::chrono::steady_clock;
    const ClockMode mode_;
    mutable std::mutex mutex_;
    Steady::time_point baseReal_;
    double baseSim_ = 0.0;
    double scale_ = 1.0;
};

// The drive's data buffer: WRITE adds bytes, the medium takes them at the
// current write speed. A WRITE that does not fit waits, in simulated time,
// until enough has drained, which throttles the host to the write speed.
// While held, the buffer fills without draining: a drive starts recording a
// track once its buffer is full, or when the host flushes it.
class DriveBuffer {
public:
    DriveBuffer(SimClock& clock, std::uint32_t capacityBytes);
    std::uint32_t capacity() const { return capacity_; }
    void setDrainRate(double bytesPerSecond);
    // Bytes held now.
    std::uint32_t level();
    // Whether the medium has taken every byte: the buffer ran empty.
    bool empty();
    // Whether `bytes` fit now without waiting (a transfer larger than the
    // buffer fits an empty buffer).
    bool fits(std::uint32_t bytes);
    // Waits until `bytes` fit, then adds them.
    void fill(std::uint32_t bytes);
    // Simulated seconds until the buffer is empty (at the drain rate, also
    // while held).
    double secondsToEmpty();
    void clear();
    // Holds the medium back until the buffer is full or released.
    void hold();
    void release();

private:
    void drain();
    SimClock& clock_;
    std::uint32_t capacity_;
    double level_ = 0.0;
    double rate_ = 1.0;
    double lastUpdate_ = 0.0;
    bool held_ = false;
};

// An operation started with the Immed bit: until it ends, commands that need
// the medium get NOT READY with its sense, and a progress indication.
class PendingOperation {
public:
    void start(const SimClock& clock, double seconds, const Sense& whileRunning);
    // The sense to report now, or nothing once the operation has ended.
    std::optional<Sense> check(const SimClock& clock);
    void cancel() { active_ = false; }

private:
    bool active_ = false;
    double start_ = 0.0;
    double end_ = 0.0;
    Sense sense_;
};

}  // namespace velk::vrec

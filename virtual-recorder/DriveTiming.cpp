#include "virtual-recorder/DriveTiming.h"

#include <algorithm>
#include <thread>

namespace velk::vrec {

SimClock::SimClock(double scale, ClockMode mode)
    : mode_(mode), baseReal_(Steady::now()), scale_(scale > 0 ? scale : 1.0) {}

double SimClock::now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (manual()) return baseSim_;
    const std::chrono::duration<double> real = Steady::now() - baseReal_;
    return baseSim_ + real.count() * scale_;
}

double SimClock::scale() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scale_;
}

void SimClock::setScale(double scale) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (manual()) {
        scale_ = scale > 0 ? scale : 1.0;
        return;
    }
    const auto realNow = Steady::now();
    const std::chrono::duration<double> real = realNow - baseReal_;
    baseSim_ += real.count() * scale_;
    baseReal_ = realNow;
    scale_ = scale > 0 ? scale : 1.0;
}

void SimClock::advance(double seconds) {
    if (seconds <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    baseSim_ += seconds;
}

void SimClock::sleepFor(double seconds) {
    if (seconds <= 0) return;
    if (manual()) {
        // The drive's own wait: nobody else would move a manual clock.
        std::lock_guard<std::mutex> lock(mutex_);
        baseSim_ += seconds;
        return;
    }
    const double target = now() + seconds;
    // Sleep in slices, so that a change of scale takes effect.
    for (double left = seconds; left > 0; left = target - now()) {
        const double realSeconds = std::min(left / scale(), 0.05);
        std::this_thread::sleep_for(std::chrono::duration<double>(realSeconds));
    }
}

DriveBuffer::DriveBuffer(SimClock& clock, std::uint32_t capacityBytes)
    : clock_(clock), capacity_(capacityBytes), lastUpdate_(clock.now()) {}

void DriveBuffer::drain() {
    const double now = clock_.now();
    if (!held_) level_ = std::max(0.0, level_ - (now - lastUpdate_) * rate_);
    lastUpdate_ = now;
}

void DriveBuffer::hold() {
    drain();
    held_ = true;
}

void DriveBuffer::release() {
    drain();
    held_ = false;
}

void DriveBuffer::setDrainRate(double bytesPerSecond) {
    drain();
    rate_ = std::max(bytesPerSecond, 1.0);
}

std::uint32_t DriveBuffer::level() {
    drain();
    return static_cast<std::uint32_t>(level_ + 0.5);
}

bool DriveBuffer::empty() {
    drain();
    return level_ <= 0.0;
}

bool DriveBuffer::fits(std::uint32_t bytes) {
    drain();
    return level_ <= 0.0 || level_ + std::min<double>(bytes, capacity_) <= capacity_;
}

void DriveBuffer::fill(std::uint32_t bytes) {
    drain();
    // A transfer larger than the buffer waits for an empty buffer and then
    // streams through it.
    const double room = static_cast<double>(capacity_) - level_;
    if (bytes > room) {
        release();
        const double excess = std::min<double>(bytes, capacity_) - room;
        clock_.sleepFor(excess / rate_);
        drain();
    }
    level_ = std::min<double>(capacity_, level_ + bytes);
    if (level_ >= capacity_) release();
    if (bytes > capacity_) clock_.sleepFor((bytes - capacity_) / rate_);
}

double DriveBuffer::secondsToEmpty() {
    drain();
    return level_ / rate_;
}

void DriveBuffer::clear() {
    drain();
    level_ = 0.0;
    held_ = false;
}

void PendingOperation::start(const SimClock& clock, double seconds, const Sense& whileRunning) {
    active_ = seconds > 0;
    start_ = clock.now();
    end_ = start_ + seconds;
    sense_ = whileRunning;
}

std::optional<Sense> PendingOperation::check(const SimClock& clock) {
    if (!active_) return std::nullopt;
    const double now = clock.now();
    if (now >= end_) {
        active_ = false;
        return std::nullopt;
    }
    Sense s = sense_;
    const double fraction = (now - start_) / (end_ - start_);
    s.progress = static_cast<std::uint16_t>(std::clamp(fraction, 0.0, 1.0) * 65535.0);
    return s;
}

}  // namespace velk::vrec

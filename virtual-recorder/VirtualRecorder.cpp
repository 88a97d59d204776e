#include "virtual-recorder/VirtualRecorder.h"

#include <algorithm>
#include <cstring>

#include "virtual-recorder/Bytes.h"
#include "virtual-recorder/RecorderState.h"

namespace velk::vrec {

namespace {

std::array<std::uint8_t, WritePageBytes> defaultWritePage() {
    std::array<std::uint8_t, WritePageBytes> p{};
    p[0] = 0x05;
    p[1] = WritePageBytes - 2;
    p[2] = 0x01;  // track at once
    p[3] = 0x04;  // track mode 4, no multi-session
    p[4] = 0x08;  // data block type: mode 1, 2048 bytes
    putBe16(&p[14], 150);
    return p;
}

// The CDB length of an opcode's group: 6 bytes below 20h, 10 up to 5Fh,
// 16 for 80h-9Fh, 12 for A0h-BFh.
std::size_t cdbLengthOfGroup(std::uint8_t opcode) {
    if (opcode < 0x20) return 6;
    if (opcode < 0x60) return 10;
    if (opcode >= 0x80 && opcode < 0xA0) return 16;
    return 12;
}

// A request the drive cannot take as sent: a CDB of another length than its
// opcode's group, or a data transfer against the command's direction.
std::optional<Sense> checkRequestShape(const CommandSpec& spec, const ScsiRequestBlock& request) {
    if (request.cdbLength != cdbLengthOfGroup(spec.opcode)) return sense::InvalidFieldInCdb;
    if (request.dataLength == 0) return std::nullopt;
    const std::uint8_t direction = request.flags & (SrbDataIn | SrbDataOut);
    switch (spec.transfer) {
    case Transfer::None:
        if (direction != 0) return sense::InvalidFieldInCdb;
        break;
    case Transfer::In:
        if (direction != SrbDataIn) return sense::InvalidFieldInCdb;
        break;
    case Transfer::Out:
        if (direction != SrbDataOut) return sense::InvalidFieldInCdb;
        break;
    }
    return std::nullopt;
}

// REQUEST SENSE answers in fixed format; with descriptor-format sense the
// same sense goes back as a descriptor-format answer.
void reformatRequestedSense(ScsiRequestBlock& request) {
    const std::uint32_t returned = std::min<std::uint32_t>(request.dataLength, request.cdb[4]);
    if (request.dataBuffer == nullptr || returned < FixedSenseBytes) return;
    const std::uint8_t* fixed = request.dataBuffer;
    Sense s{static_cast<std::uint8_t>(fixed[2] & 0x0F), fixed[12], fixed[13], {}};
    if (fixed[15] & 0x80) s.progress = static_cast<std::uint16_t>(getBe16(fixed + 16));
    std::memset(request.dataBuffer, 0, returned);
    writeDescriptorSense(s, request.dataBuffer, returned);
}

}  // namespace

VirtualRecorder::State::State(RecorderOptions opts)
    : options(std::move(opts)),
      clock(options.timeScale, options.manualClock ? ClockMode::Manual : ClockMode::Scaled),
      buffer(clock, options.bufferBytes),
      writePage(defaultWritePage()) {
    updateDrainRate();
}

std::uint32_t VirtualRecorder::State::maxWriteKbps() const {
    if (disc == nullptr) return speedKbps(true, 48);
    const auto& info = disc->layout().info();
    return speedKbps(info.cd, std::max<std::uint16_t>(info.maxWriteX, 1));
}

std::uint32_t VirtualRecorder::State::maxReadKbps() const {
    if (disc == nullptr) return speedKbps(true, 48);
    const auto& info = disc->layout().info();
    return speedKbps(info.cd, info.maxReadX);
}

std::uint32_t VirtualRecorder::State::currentWriteKbps() const {
    const bool cd = cdMedium();
    const std::uint32_t max = maxWriteKbps();
    if (requestedWriteKbps >= max) return max;
    // The highest speed the drive offers at or below the request, else its lowest.
    std::size_t count = 0;
    const std::uint16_t* speeds = supportedWriteSpeeds(cd, count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t kbps = speedKbps(cd, speeds[i]);
        if (kbps <= max && kbps <= requestedWriteKbps + 1) return kbps;
    }
    return speedKbps(cd, speeds[count - 1]);
}

std::uint32_t VirtualRecorder::State::currentReadKbps() const {
    return std::min(requestedReadKbps, maxReadKbps());
}

void VirtualRecorder::State::updateDrainRate() {
    buffer.setDrainRate(userBytesPerSecond(cdMedium(), currentWriteKbps()));
}

double VirtualRecorder::State::secondsFor(std::uint64_t blocks) const {
    return static_cast<double>(blocks) * 2048.0 / userBytesPerSecond(cdMedium(), currentWriteKbps());
}

bool VirtualRecorder::State::testWriting() const {
    if ((writePage[2] & 0x10) == 0 || disc == nullptr) return false;
    const DiscLayout& d = disc->layout();
    return d.sequential() && d.medium != MediumKind::DvdPlusR && d.medium != MediumKind::DvdPlusRDl;
}

DiscLayout& VirtualRecorder::State::recordingLayout() {
    if (!testWriting()) return disc->layout();
    if (!simulated) simulated = disc->layout();
    return *simulated;
}

void VirtualRecorder::State::setTrayOpen(bool open) {
    trayOpen = open;
    if (disc == nullptr) return;
    disc->layout().trayOpen = open;
    (void)disc->save();
}

void VirtualRecorder::State::endRecording() {
    simulated.reset();
    streaming = false;
    buffer.release();
}

void CommandContext::respond(const std::vector<std::uint8_t>& bytes, std::uint32_t allocation) const {
    if (data == nullptr) return;
    const std::size_t n = std::min<std::size_t>({bytes.size(), allocation, dataLength});
    std::memcpy(data, bytes.data(), n);
}

VirtualRecorder::VirtualRecorder(RecorderOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

VirtualRecorder::~VirtualRecorder() {
    if (state_->disc) (void)state_->disc->save();
}

std::uint8_t VirtualRecorder::execute(ScsiRequestBlock& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    State& st = *state_;
    const std::size_t cdbLength = std::min<std::size_t>(request.cdbLength, sizeof request.cdb);
    JournalEntry entry;
    entry.cdb.assign(request.cdb, request.cdb + cdbLength);
    entry.dataLength = request.dataLength;
    entry.flags = request.flags;
    if ((request.flags & SrbDataOut) && request.dataBuffer != nullptr && request.cdb[0] != 0x2A) {
        entry.parameters.assign(request.dataBuffer, request.dataBuffer + std::min<std::uint32_t>(request.dataLength, 4096));
    }
    std::memset(request.sense, 0, sizeof request.sense);
    request.adapterStatus = 0;

    std::optional<Sense> failure;
    bool busy = false;
    const FaultDecision fault = st.faults.decide(request.cdb, st.clock.now());
    const bool descriptor = st.faults.descriptorSense();
    if (fault.hostStatus != 0) {
        // Lost between host and drive: the drive never sees it.
        request.adapterStatus = fault.hostStatus;
        request.targetStatus = ScsiStatusGood;
        request.status = SrbError;
        return request.status;
    }
    const bool loading = request.cdb[0] == 0x1B && (request.cdb[4] & 0x03) == 0x03 && st.trayOpen;
    // A WRITE the drive turns away itself leaves the track paused: the
    // buffer that drains meanwhile is no host's fault.
    if ((fault.busy || fault.sense) && request.cdb[0] == 0x2A) {
        st.streaming = false;
        st.buffer.release();
    }
    if (fault.busy) {
        busy = true;
    } else if (fault.sense) {
        failure = fault.sense;
    } else {
        const CommandSpec* spec = findCommand(request.cdb[0]);
        if (spec == nullptr || (spec->opcode == 0x46 && st.faults.getConfigurationRefused())) {
            failure = sense::InvalidOpcode;
        } else if (auto malformed = checkRequestShape(*spec, request)) {
            failure = malformed;
        } else if (st.unitAttention && !spec->skipsUnitAttention) {
            failure = st.unitAttention;
            st.unitAttention.reset();
        } else if (spec->needsMedium && st.mediumPresent() && st.faults.becomingReady(st.clock.now())) {
            failure = sense::BecomingReady;
        } else {
            if (!spec->runsWhileBusy) failure = st.pending.check(st.clock);
            if (!failure && spec->needsMedium) {
                if (st.trayOpen) {
                    failure = sense::TrayOpen;
                } else if (st.disc == nullptr) {
                    failure = sense::NoMedium;
                }
            }
            if (!failure) {
                CommandContext ctx{st, request.cdb, request.dataBuffer, request.dataLength, request.flags};
                failure = spec->handler(ctx);
            }
            if (!failure && loading && !st.trayOpen) st.faults.noteLoad(st.clock.now());
            if (!failure && descriptor && spec->opcode == 0x03) reformatRequestedSense(request);
        }
    }
    // Carried out, and answered with the error the drive recovered from.
    const bool recovered = !busy && !failure && fault.recovered;
    if (recovered) failure = sense::RecoveredWithRetries;

    if (busy) {
        request.targetStatus = ScsiStatusBusy;
        request.status = SrbError;
    } else if (failure) {
        request.targetStatus = ScsiStatusCheckCondition;
        request.status = SrbError;
        writeSense(*failure, descriptor, request.sense, sizeof request.sense, fault.deferred && !recovered);
        entry.sense = *failure;
    } else {
        request.targetStatus = ScsiStatusGood;
        request.status = SrbComplete;
    }
    if (request.cdb[0] != 0x03) st.lastSense = recovered ? std::nullopt : failure;
    entry.seconds = st.clock.now();
    // No host time passes on a manual clock: a host that polls a drive which
    // is busy with an operation would otherwise never see it end.
    if (failure && st.clock.manual() && failure->key == SenseKeyNotReady && failure->asc == 0x04) {
        st.clock.advance(st.options.notReadyStepSeconds);
    }
    entry.status = request.targetStatus;
    st.journal.add(std::move(entry));
    return request.status;
}

CommandResult VirtualRecorder::run(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data,
                                   DataDirection direction) {
    ScsiRequestBlock request{};
    request.commandCode = SrbExecuteCommand;
    request.flags = direction == DataDirection::In    ? SrbFlagsRead
                    : direction == DataDirection::Out ? SrbFlagsWrite
                                                      : SrbFlagsNoData;
    if (data.empty()) request.flags = SrbFlagsNoData;
    request.dataLength = static_cast<std::uint32_t>(data.size());
    request.dataBuffer = data.empty() ? nullptr : data.data();
    request.senseLength = ScsiSenseRequested;
    request.cdbLength = static_cast<std::uint8_t>(std::min<std::size_t>(cdb.size(), sizeof request.cdb));
    std::memcpy(request.cdb, cdb.data(), request.cdbLength);
    CommandResult result;
    result.srbStatus = execute(request);
    result.scsiStatus = request.targetStatus;
    if ((request.sense[0] & 0x7E) == 0x72) {
        result.sense.key = request.sense[1] & 0x0F;
        result.sense.asc = request.sense[2];
        result.sense.ascq = request.sense[3];
    } else {
        result.sense.key = request.sense[2] & 0x0F;
        result.sense.asc = request.sense[12];
        result.sense.ascq = request.sense[13];
    }
    return result;
}

CommandResult VirtualRecorder::run(std::initializer_list<std::uint8_t> cdb, std::span<std::uint8_t> data,
                                   DataDirection direction) {
    return run(std::span<const std::uint8_t>(cdb.begin(), cdb.size()), data, direction);
}

void VirtualRecorder::insertDisc(std::unique_ptr<DiscStore> disc) {
    std::lock_guard<std::mutex> lock(mutex_);
    State& st = *state_;
    if (st.disc) (void)st.disc->save();
    st.disc = std::move(disc);
    st.trayOpen = false;
    if (st.disc) st.disc->layout().trayOpen = false;
    st.pending.cancel();
    st.buffer.clear();
    st.cueSheetSent = false;
    st.endRecording();
    st.updateDrainRate();
    if (st.disc) st.faults.noteLoad(st.clock.now());
    if (st.disc && st.faults.takeUnitAttentionOnLoad()) st.unitAttention = sense::MediumChanged;
}

bool VirtualRecorder::loadDiscFile(const std::string& path, std::string* error) {
    auto disc = DiscStore::open(path, error);
    if (!disc) return false;
    const bool trayWasOpen = disc->layout().trayOpen;
    insertDisc(std::move(disc));
    if (trayWasOpen) {
        std::lock_guard<std::mutex> lock(mutex_);
        state_->trayOpen = true;
        state_->disc->layout().trayOpen = true;
    }
    return true;
}

std::unique_ptr<DiscStore> VirtualRecorder::removeDisc() {
    std::lock_guard<std::mutex> lock(mutex_);
    State& st = *state_;
    if (st.disc) (void)st.disc->save();
    st.pending.cancel();
    st.buffer.clear();
    st.cueSheetSent = false;
    st.endRecording();
    auto disc = std::move(st.disc);
    st.updateDrainRate();
    return disc;
}

void VirtualRecorder::openTray() {
    std::lock_guard<std::mutex> lock(mutex_);
    State& st = *state_;
    st.setTrayOpen(true);
    st.pending.cancel();
    st.buffer.clear();
    st.cueSheetSent = false;
    st.endRecording();
}

void VirtualRecorder::closeTray() {
    std::lock_guard<std::mutex> lock(mutex_);
    State& st = *state_;
    if (!st.trayOpen) return;
    st.setTrayOpen(false);
    if (st.disc) st.faults.noteLoad(st.clock.now());
    if (st.disc && st.faults.takeUnitAttentionOnLoad()) st.unitAttention = sense::MediumChanged;
}

bool VirtualRecorder::trayOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->trayOpen;
}

bool VirtualRecorder::hasDisc() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->disc != nullptr;
}

std::optional<DiscLayout> VirtualRecorder::discLayout() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_->disc) return std::nullopt;
    return state_->disc->layout();
}

bool VirtualRecorder::saveDisc(std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->disc ? state_->disc->save(error) : true;
}

void VirtualRecorder::powerOnReset() {
    std::lock_guard<std::mutex> lock(mutex_);
    State& st = *state_;
    st.unitAttention = sense::PowerOnReset;
    st.removalPrevented = false;
    st.buffer.clear();
    st.writePage = defaultWritePage();
    st.cueSheetSent = false;
    st.endRecording();
    st.requestedReadKbps = st.requestedWriteKbps = 0xFFFF;
    st.updateDrainRate();
}

std::uint32_t VirtualRecorder::bufferLevel() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->buffer.level();
}

std::uint32_t VirtualRecorder::writeSpeedKbps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_->currentWriteKbps();
}

Journal& VirtualRecorder::journal() { return state_->journal; }
FaultInjector& VirtualRecorder::faults() { return state_->faults; }
SimClock& VirtualRecorder::clock() { return state_->clock; }
void VirtualRecorder::setTimeScale(double scale) { state_->clock.setScale(scale); }
const RecorderOptions& VirtualRecorder::options() const { return state_->options; }

}  // namespace velk::vrec

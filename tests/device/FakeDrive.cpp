#include "tests/device/FakeDrive.h"

#include <cerrno>
#include <cstring>

#include <scsi/sg.h>
#include <unistd.h>

#include "platform/ScsiPassThrough.h"

namespace velk::testing {
namespace {

FakeDrive* current = nullptr;

void writeSense(std::uint8_t* sense, std::size_t capacity, const Reply& reply) {
    if (!reply.sense.empty()) {
        std::memcpy(sense, reply.sense.data(), capacity < reply.sense.size() ? capacity : reply.sense.size());
        return;
    }
    if (reply.asc == 0 && reply.senseKey == 0 && reply.ascq == 0) return;
    std::uint8_t fixed[18] = {};
    fixed[0] = 0x70;
    fixed[2] = reply.senseKey;
    fixed[7] = 10;
    fixed[12] = reply.asc;
    fixed[13] = reply.ascq;
    std::memcpy(sense, fixed, capacity < sizeof fixed ? capacity : sizeof fixed);
}

std::uint32_t aspiSend(void* record) {
    auto* request = static_cast<ScsiRequestBlock*>(record);
    if (request->commandCode != SrbExecuteCommand) return SrbError;
    SentCommand command;
    command.cdbLength = request->cdbLength;
    command.cdb.assign(request->cdb, request->cdb + request->cdbLength);
    command.flags = request->flags;
    command.dataLength = request->dataLength;
    if ((request->flags & SrbDataOut) && request->dataBuffer) {
        command.dataOut.assign(request->dataBuffer, request->dataBuffer + request->dataLength);
    }
    Reply reply = current->answer(command);
    if ((request->flags & SrbDataIn) && request->dataBuffer) {
        std::size_t count = reply.data.size() < request->dataLength ? reply.data.size() : request->dataLength;
        if (count > 0) std::memcpy(request->dataBuffer, reply.data.data(), count);
    }
    writeSense(request->sense, sizeof request->sense, reply);
    request->targetStatus = reply.scsiStatus;
    request->status = reply.scsiStatus == ScsiStatusGood ? SrbComplete : SrbError;
    if (reply.finalStatus) request->status = *reply.finalStatus;
    std::uint32_t answer = reply.aspiReturn ? *reply.aspiReturn : request->status;
    if (reply.pending) answer = SrbPending;
    // A pending answer completes at once through the event.
    if (answer == SrbPending && request->completionEvent) request->completionEvent->set();
    return answer;
}

int fakeIoctl(int handle, unsigned long requestCode, void* argument) {
    if (requestCode != SG_IO) {
        errno = ENOTTY;
        return -1;
    }
    auto* header = static_cast<sg_io_hdr_t*>(argument);
    FakeDrive::SgIoSeen& seen = current->lastSgIo;
    seen.direction = header->dxfer_direction;
    seen.dxferLength = header->dxfer_len;
    seen.dxferp = header->dxferp;
    seen.mxSbLen = header->mx_sb_len;
    seen.timeout = header->timeout;
    seen.cmdLen = header->cmd_len;
    seen.handle = handle;
    if (current->failIoctlWith != 0) {
        errno = current->failIoctlWith;
        return -1;
    }
    SentCommand command;
    command.cdbLength = header->cmd_len;
    command.cdb.assign(header->cmdp, header->cmdp + header->cmd_len);
    command.dataLength = header->dxfer_len;
    auto* data = static_cast<std::uint8_t*>(header->dxferp);
    switch (header->dxfer_direction) {
    case SG_DXFER_FROM_DEV: command.flags = SrbFlagsRead; break;
    case SG_DXFER_TO_DEV:
        command.flags = SrbFlagsWrite;
        command.dataOut.assign(data, data + header->dxfer_len);
        break;
    default: command.flags = SrbFlagsNoData; break;
    }
    Reply reply = current->answer(command);
    std::uint32_t moved = 0;
    if (header->dxfer_direction == SG_DXFER_FROM_DEV) {
        std::size_t count = reply.data.size() < header->dxfer_len ? reply.data.size() : header->dxfer_len;
        if (count > 0) std::memcpy(data, reply.data.data(), count);
        moved = static_cast<std::uint32_t>(count);
    } else if (header->dxfer_direction == SG_DXFER_TO_DEV) {
        moved = header->dxfer_len;
    }
    if (reply.transferred) moved = *reply.transferred;
    header->resid = static_cast<int>(header->dxfer_len - moved);
    header->status = reply.scsiStatus;
    header->host_status = current->hostError ? 0x03 : 0;
    header->driver_status = 0;
    header->sb_len_wr = 0;
    if (reply.asc || reply.senseKey || !reply.sense.empty()) {
        writeSense(header->sbp, header->mx_sb_len, reply);
        std::size_t written = reply.sense.empty() ? 18 : reply.sense.size();
        header->sb_len_wr = static_cast<unsigned char>(header->mx_sb_len < written ? header->mx_sb_len : written);
        header->driver_status = 0x08;
    }
    return 0;
}

}  // namespace

Reply checkCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    Reply reply;
    reply.scsiStatus = ScsiStatusCheckCondition;
    reply.senseKey = key;
    reply.asc = asc;
    reply.ascq = ascq;
    return reply;
}

FakeDrive::FakeDrive(RecorderDevice& device, Transport transport)
    : device_(device), transport_(transport) {
    current = this;
    if (transport_ == Transport::Aspi) {
        device_.sptiMode = 0;
        device_.sendAspiCommand = reinterpret_cast<void*>(&aspiSend);
    } else {
        device_.sptiMode = 1;
        std::string dev = tree_.folder("dev");
        for (int i = 0; i < 3; ++i) tree_.file("dev/sr" + std::to_string(i));
        std::snprintf(device_.devRoot, sizeof device_.devRoot, "%s", dev.c_str());
        device_.driveLetter = 'C';
        platform::setIoctlFunction(&fakeIoctl);
    }
}

FakeDrive::~FakeDrive() {
    platform::setIoctlFunction(nullptr);
    if (device_.deviceHandle >= 0) {
        ::close(device_.deviceHandle);
        device_.deviceHandle = -1;
    }
    current = nullptr;
}

Reply FakeDrive::answer(const SentCommand& command) {
    sent.push_back(command);
    if (respond) {
        if (std::optional<Reply> reply = respond(command)) return *reply;
    }
    auto found = byOpcode_.find(command.opcode());
    return found != byOpcode_.end() ? found->second : Reply{};
}

std::vector<std::uint8_t> FakeDrive::opcodes() const {
    std::vector<std::uint8_t> result;
    for (const SentCommand& command : sent) result.push_back(command.opcode());
    return result;
}

const SentCommand* FakeDrive::last(std::uint8_t opcode) const {
    for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
        if (it->opcode() == opcode) return &*it;
    }
    return nullptr;
}

}  // namespace velk::testing

#include "virtual-recorder/Journal.h"

#include <cstdio>

namespace velk::vrec {

std::string formatJournalEntry(const JournalEntry& e) {
    std::string line;
    char hex[4];
    for (std::size_t i = 0; i < e.cdb.size(); ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", e.cdb[i]);
        line += hex;
    }
    const char* dir = (e.flags & 0x08) ? "in" : (e.flags & 0x10) ? "out" : "none";
    line += " | " + std::string(dir) + " " + std::to_string(e.dataLength);
    if (e.opcode() == 0x55 && !e.parameters.empty()) {
        line += " :";
        for (std::uint8_t byte : e.parameters) {
            std::snprintf(hex, sizeof hex, " %02X", byte);
            line += hex;
        }
    }
    line += " | ";
    char status[8];
    std::snprintf(status, sizeof status, "%02X", e.status);
    line += status;
    if (e.sense.key != 0 || e.sense.asc != 0) {
        line += ' ';
        line += formatSense(e.sense);
    }
    return line;
}

void Journal::add(JournalEntry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
}

std::vector<JournalEntry> Journal::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

std::vector<JournalEntry> Journal::entriesFrom(std::size_t first) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (first >= entries_.size()) return {};
    return std::vector<JournalEntry>(entries_.begin() + static_cast<std::ptrdiff_t>(first), entries_.end());
}

std::vector<std::uint8_t> Journal::opcodes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint8_t> ops;
    ops.reserve(entries_.size());
    for (const auto& e : entries_) ops.push_back(e.opcode());
    return ops;
}

void Journal::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

std::size_t Journal::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

}  // namespace velk::vrec

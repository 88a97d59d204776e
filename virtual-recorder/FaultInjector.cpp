#include "virtual-recorder/FaultInjector.h"

#include <cstdio>
#include <sstream>

#include "virtual-recorder/Bytes.h"

namespace velk::vrec {

std::string formatSense(const Sense& s) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", s.key, s.asc, s.ascq);
    return text;
}

std::optional<Sense> parseSense(const std::string& text) {
    unsigned key = 0, asc = 0, ascq = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%x/%x/%x%c", &key, &asc, &ascq, &tail) != 3 || key > 0xF || asc > 0xFF ||
        ascq > 0xFF) {
        return std::nullopt;
    }
    return Sense{static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(asc), static_cast<std::uint8_t>(ascq), {}};
}

void FaultInjector::failNthCommand(std::uint64_t n, const Sense& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back({Rule::Kind::Nth, n, s, commands_});
}

void FaultInjector::failOpcode(std::uint8_t opcode, const Sense& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back({Rule::Kind::Opcode, opcode, s, commands_});
}

void FaultInjector::failWritesFrom(std::uint32_t lba, const Sense& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back({Rule::Kind::WriteFrom, lba, s, commands_});
}

void FaultInjector::busyFor(std::uint32_t commands) {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = commands;
}

void FaultInjector::refuseGetConfiguration(bool refuse) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuseConfig_ = refuse;
}

void FaultInjector::unitAttentionAfterNextLoad() {
    std::lock_guard<std::mutex> lock(mutex_);
    uaOnLoad_ = true;
}

void FaultInjector::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
    busy_ = 0;
    refuseConfig_ = false;
    uaOnLoad_ = false;
}

bool FaultInjector::addPlan(const std::string& plan, std::string* error) {
    std::vector<std::string> items;
    std::string item;
    for (char c : plan + ",") {
        if (c == ',' || c == ';') {
            if (!item.empty()) items.push_back(item);
            item.clear();
        } else if (c != ' ') {
            item += c;
        }
    }
    FaultInjector parsed;
    for (const auto& it : items) {
        std::vector<std::string> parts;
        std::istringstream in(it);
        for (std::string p; std::getline(in, p, ':');) parts.push_back(p);
        bool ok = false;
        try {
            if (parts.size() == 3 && (parts[0] == "cmd" || parts[0] == "op" || parts[0] == "write")) {
                const auto s = parseSense(parts[2]);
                if (s) {
                    ok = true;
                    if (parts[0] == "cmd") {
                        parsed.failNthCommand(std::stoull(parts[1]), *s);
                    } else if (parts[0] == "op") {
                        const auto op = std::stoul(parts[1], nullptr, 16);
                        ok = op <= 0xFF;
                        parsed.failOpcode(static_cast<std::uint8_t>(op), *s);
                    } else {
                        parsed.failWritesFrom(static_cast<std::uint32_t>(std::stoul(parts[1])), *s);
                    }
                }
            } else if (parts.size() == 2 && parts[0] == "busy") {
                parsed.busyFor(static_cast<std::uint32_t>(std::stoul(parts[1])));
                ok = true;
            } else if (parts.size() == 1 && parts[0] == "no-config") {
                parsed.refuseGetConfiguration(true);
                ok = true;
            } else if (parts.size() == 1 && parts[0] == "ua-on-load") {
                parsed.unitAttentionAfterNextLoad();
                ok = true;
            }
        } catch (const std::exception&) {
            ok = false;
        }
        if (!ok) {
            if (error != nullptr) *error = "malformed fault rule: " + it;
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto rule : parsed.rules_) {
        rule.armedAt = commands_;
        rules_.push_back(rule);
    }
    busy_ += parsed.busy_;
    refuseConfig_ = refuseConfig_ || parsed.refuseConfig_;
    uaOnLoad_ = uaOnLoad_ || parsed.uaOnLoad_;
    return true;
}

FaultDecision FaultInjector::decide(const std::uint8_t* cdb) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++commands_;
    FaultDecision d;
    if (busy_ > 0) {
        --busy_;
        d.busy = true;
        return d;
    }
    for (const auto& r : rules_) {
        switch (r.kind) {
        case Rule::Kind::Nth:
            if (commands_ - r.armedAt == r.value) d.sense = r.sense;
            break;
        case Rule::Kind::Opcode:
            if (cdb[0] == r.value) d.sense = r.sense;
            break;
        case Rule::Kind::WriteFrom:
            if (cdb[0] == 0x2A && std::uint64_t{getBe32(cdb + 2)} + getBe16(cdb + 7) > r.value) d.sense = r.sense;
            break;
        }
        if (d.sense) break;
    }
    return d;
}

bool FaultInjector::getConfigurationRefused() {
    std::lock_guard<std::mutex> lock(mutex_);
    return refuseConfig_;
}

bool FaultInjector::takeUnitAttentionOnLoad() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool ua = uaOnLoad_;
    uaOnLoad_ = false;
    return ua;
}

}  // namespace velk::vrec

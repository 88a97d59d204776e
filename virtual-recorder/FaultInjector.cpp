#include "virtual-recorder/FaultInjector.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

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

void FaultInjector::failReadsOf(std::uint32_t lba, const Sense& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back({Rule::Kind::ReadOf, lba, s, commands_});
}

void FaultInjector::corruptReadsOf(std::uint32_t lba) {
    std::lock_guard<std::mutex> lock(mutex_);
    corrupted_.push_back(lba);
}

void FaultInjector::corruptWritesOf(std::uint32_t lba) {
    std::lock_guard<std::mutex> lock(mutex_);
    corruptedWrites_.push_back(lba);
}

void FaultInjector::busyFor(std::uint32_t commands) {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = commands;
}

void FaultInjector::busyForOpcode(std::uint8_t opcode, std::uint32_t commands) {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule{Rule::Kind::BusyOpcode};
    rule.opcode = opcode;
    rule.count = commands;
    rules_.push_back(rule);
}

void FaultInjector::busyEvery(std::uint8_t opcode, std::uint32_t k) {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule{Rule::Kind::BusyEvery};
    rule.opcode = opcode;
    rule.value = k == 0 ? 1 : k;
    rules_.push_back(rule);
}

void FaultInjector::longWriteFor(double seconds, std::uint32_t fromLba) {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule{Rule::Kind::LongWrite};
    rule.value = fromLba;
    rule.seconds = seconds;
    rule.sense = sense::LongWriteInProgress;
    rules_.push_back(rule);
}

void FaultInjector::longWriteWhenBufferFull(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    longWriteWhenFull_ = on;
}

void FaultInjector::ignoreUnderruns(bool ignore) {
    std::lock_guard<std::mutex> lock(mutex_);
    ignoreUnderruns_ = ignore;
}

void FaultInjector::answerFromWorker(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    fromWorker_ = on;
}

void FaultInjector::refuseGetConfiguration(bool refuse) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuseConfig_ = refuse;
}

void FaultInjector::unitAttentionAfterNextLoad() {
    std::lock_guard<std::mutex> lock(mutex_);
    uaOnLoad_ = true;
}

void FaultInjector::recoverNth(std::uint8_t opcode, std::uint64_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule{Rule::Kind::Recovered};
    rule.opcode = opcode;
    rule.value = n;
    rules_.push_back(rule);
}

void FaultInjector::deferAfter(std::uint8_t opcode, const Sense& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule{Rule::Kind::Deferred};
    rule.opcode = opcode;
    rule.sense = s;
    rules_.push_back(rule);
}

void FaultInjector::answerDescriptorSense(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    descriptor_ = on;
}

void FaultInjector::becomingReadyFor(double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    becomingReady_ = seconds;
}

void FaultInjector::loseNth(std::uint8_t opcode, std::uint64_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    Rule rule{Rule::Kind::Lost};
    rule.opcode = opcode;
    rule.value = n;
    rules_.push_back(rule);
}

void FaultInjector::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
    busy_ = 0;
    refuseConfig_ = false;
    uaOnLoad_ = false;
    descriptor_ = false;
    becomingReady_ = 0.0;
    longWriteWhenFull_ = false;
    ignoreUnderruns_ = false;
    fromWorker_ = false;
    corrupted_.clear();
    corruptedWrites_.clear();
}

namespace {

std::uint8_t parseOpcode(const std::string& text) {
    const auto op = std::stoul(text, nullptr, 16);
    if (op > 0xFF) throw std::out_of_range("opcode");
    return static_cast<std::uint8_t>(op);
}

// Every rule a text plan takes, in the order the header lists them; a rule
// added to addPlan belongs here too.
constexpr const char* RuleForms[] = {
    "cmd:N:KK/AA/QQ", "op:HH:KK/AA/QQ", "write:LBA:KK/AA/QQ", "read:LBA:KK/AA/QQ", "corrupt:LBA",
    "corrupt-write:LBA", "busy:N", "busy-op:HH:N", "busy-every:HH:K", "long-write:S[:LBA]",
    "long-write-when-full", "no-underruns", "no-config", "ua-on-load", "async",
};

bool isRuleName(const std::string& kind) {
    for (std::string form : RuleForms) {
        if (form.substr(0, form.find(':')) == kind) return true;
    }
    return false;
}

std::uint32_t parseCount(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("count");
    }
    const auto n = std::stoull(text);
    if (n > 0xFFFFFFFFul) throw std::out_of_range("count");
    return static_cast<std::uint32_t>(n);
}

}  // namespace

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
        const std::string& kind = parts.empty() ? it : parts[0];
        bool ok = false;
        try {
            if (parts.size() == 3 && (kind == "cmd" || kind == "op" || kind == "write" || kind == "read")) {
                const auto s = parseSense(parts[2]);
                if (s) {
                    ok = true;
                    if (kind == "cmd") {
                        parsed.failNthCommand(std::stoull(parts[1]), *s);
                    } else if (kind == "op") {
                        parsed.failOpcode(parseOpcode(parts[1]), *s);
                    } else if (kind == "write") {
                        parsed.failWritesFrom(parseCount(parts[1]), *s);
                    } else {
                        parsed.failReadsOf(parseCount(parts[1]), *s);
                    }
                }
            } else if (parts.size() == 2 && kind == "corrupt") {
                parsed.corruptReadsOf(parseCount(parts[1]));
                ok = true;
            } else if (parts.size() == 2 && kind == "corrupt-write") {
                parsed.corruptWritesOf(parseCount(parts[1]));
                ok = true;
            } else if (parts.size() == 2 && kind == "busy") {
                parsed.busyFor(parseCount(parts[1]));
                ok = true;
            } else if (parts.size() == 3 && kind == "busy-op") {
                parsed.busyForOpcode(parseOpcode(parts[1]), parseCount(parts[2]));
                ok = true;
            } else if (parts.size() == 3 && kind == "busy-every") {
                const std::uint32_t k = parseCount(parts[2]);
                ok = k >= 1;
                if (ok) parsed.busyEvery(parseOpcode(parts[1]), k);
            } else if ((parts.size() == 2 || parts.size() == 3) && kind == "long-write") {
                std::size_t used = 0;
                const double seconds = std::stod(parts[1], &used);
                ok = used == parts[1].size() && seconds >= 0;
                if (ok) parsed.longWriteFor(seconds, parts.size() == 3 ? parseCount(parts[2]) : 0);
            } else if (parts.size() == 1 && kind == "long-write-when-full") {
                parsed.longWriteWhenBufferFull(true);
                ok = true;
            } else if (parts.size() == 1 && kind == "no-underruns") {
                parsed.ignoreUnderruns(true);
                ok = true;
            } else if (parts.size() == 1 && kind == "no-config") {
                parsed.refuseGetConfiguration(true);
                ok = true;
            } else if (parts.size() == 1 && kind == "no-read-track-info") {
                // Read-only drives often lack the command (QEMU's answers so).
                parsed.failOpcode(0x52, sense::InvalidOpcode);
                ok = true;
            } else if (parts.size() == 1 && kind == "async") {
                parsed.answerFromWorker(true);
                ok = true;
            } else if (parts.size() == 1 && kind == "ua-on-load") {
                parsed.unitAttentionAfterNextLoad();
                ok = true;
            } else if (parts.size() == 3 && kind == "recovered") {
                const std::uint32_t n = parseCount(parts[2]);
                ok = n >= 1;
                if (ok) parsed.recoverNth(parseOpcode(parts[1]), n);
            } else if (parts.size() == 3 && kind == "deferred") {
                const auto s = parseSense(parts[2]);
                ok = s.has_value();
                if (ok) parsed.deferAfter(parseOpcode(parts[1]), *s);
            } else if (parts.size() == 1 && kind == "sense-descriptor") {
                parsed.answerDescriptorSense(true);
                ok = true;
            } else if (parts.size() == 2 && kind == "becoming-ready") {
                std::size_t used = 0;
                const double seconds = std::stod(parts[1], &used);
                ok = used == parts[1].size() && seconds >= 0;
                if (ok) parsed.becomingReadyFor(seconds);
            } else if (parts.size() == 3 && kind == "transport") {
                const std::uint32_t n = parseCount(parts[2]);
                ok = n >= 1;
                if (ok) parsed.loseNth(parseOpcode(parts[1]), n);
            }
        } catch (const std::exception&) {
            ok = false;
        }
        if (!ok) {
            if (error != nullptr) *error = (isRuleName(kind) ? "malformed fault rule: " : "unknown fault rule: ") + it;
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
    descriptor_ = descriptor_ || parsed.descriptor_;
    becomingReady_ = std::max(becomingReady_, parsed.becomingReady_);
    longWriteWhenFull_ = longWriteWhenFull_ || parsed.longWriteWhenFull_;
    ignoreUnderruns_ = ignoreUnderruns_ || parsed.ignoreUnderruns_;
    fromWorker_ = fromWorker_ || parsed.fromWorker_;
    corrupted_.insert(corrupted_.end(), parsed.corrupted_.begin(), parsed.corrupted_.end());
    corruptedWrites_.insert(corruptedWrites_.end(), parsed.corruptedWrites_.begin(), parsed.corruptedWrites_.end());
    return true;
}

std::string FaultInjector::ruleForms() {
    std::string forms;
    for (const char* form : RuleForms) forms += (forms.empty() ? "" : ", ") + std::string(form);
    return forms;
}

FaultDecision FaultInjector::decide(const std::uint8_t* cdb, double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++commands_;
    FaultDecision d;
    const std::uint8_t opcode = cdb[0];
    const int previous = previousOpcode_;
    previousOpcode_ = opcode;
    if (busy_ > 0) {
        --busy_;
        d.busy = true;
        return d;
    }
    const bool transfer = opcode == 0x2A || opcode == 0x28;
    const std::uint64_t lba = transfer ? getBe32(cdb + 2) : 0;
    const std::uint64_t end = transfer ? lba + getBe16(cdb + 7) : 0;
    for (auto& r : rules_) {
        switch (r.kind) {
        case Rule::Kind::Nth:
            if (commands_ - r.armedAt == r.value) d.sense = r.sense;
            break;
        case Rule::Kind::Opcode:
            if (opcode == r.value) d.sense = r.sense;
            break;
        case Rule::Kind::WriteFrom:
            if (opcode == 0x2A && end > r.value) d.sense = r.sense;
            break;
        case Rule::Kind::ReadOf:
            if (opcode == 0x28 && lba <= r.value && end > r.value) d.sense = r.sense;
            break;
        case Rule::Kind::BusyOpcode:
            if (opcode == r.opcode && r.count > 0) {
                --r.count;
                d.busy = true;
            }
            break;
        case Rule::Kind::BusyEvery:
            if (opcode == r.opcode && ++r.count % r.value == 0) d.busy = true;
            break;
        case Rule::Kind::LongWrite:
            if (opcode != 0x2A) break;
            if (!r.started && end > r.value) {
                r.started = true;
                r.since = now;
            }
            if (r.started && now < r.since + r.seconds) d.sense = r.sense;
            break;
        case Rule::Kind::Recovered:
            if (opcode == r.opcode && ++r.count == r.value) d.recovered = true;
            break;
        case Rule::Kind::Deferred:
            if (!r.started && previous == r.opcode && opcode != r.opcode) {
                r.started = true;
                d.sense = r.sense;
                d.deferred = true;
            }
            break;
        case Rule::Kind::Lost:
            if (opcode == r.opcode && ++r.count == r.value) d.hostStatus = HostStatusSelectionTimeout;
            break;
        }
        if (d.busy || d.hostStatus != 0) {
            d.sense.reset();
            d.deferred = false;
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

bool FaultInjector::longWriteWhenFull() {
    std::lock_guard<std::mutex> lock(mutex_);
    return longWriteWhenFull_;
}

bool FaultInjector::underrunsIgnored() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ignoreUnderruns_;
}

bool FaultInjector::answersFromWorker() {
    std::lock_guard<std::mutex> lock(mutex_);
    return fromWorker_;
}

bool FaultInjector::corrupts(std::uint32_t lba) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(corrupted_.begin(), corrupted_.end(), lba) != corrupted_.end();
}

bool FaultInjector::corruptsWrite(std::uint32_t lba) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(corruptedWrites_.begin(), corruptedWrites_.end(), lba) != corruptedWrites_.end();
}

bool FaultInjector::descriptorSense() {
    std::lock_guard<std::mutex> lock(mutex_);
    return descriptor_;
}

void FaultInjector::noteLoad(double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    loadedAt_ = now;
}

bool FaultInjector::becomingReady(double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    return loadedAt_ >= 0 && now < loadedAt_ + becomingReady_;
}

bool FaultInjector::takeUnitAttentionOnLoad() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool ua = uaOnLoad_;
    uaOnLoad_ = false;
    return ua;
}

}  // namespace velk::vrec

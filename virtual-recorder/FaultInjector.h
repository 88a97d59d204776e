// Faults the virtual recorder injects on request, so that tests drive the
// engine's error paths: fail the Nth command (counted from the moment the
// rule is set, the first command being 1), every command with an opcode, or
// every WRITE (10) at or beyond an address, each with a given sense; answer
// BUSY for the next N commands; refuse GET CONFIGURATION as an unknown
// command; report a unit attention after the next load. A failed command is
// not carried out.
//
// A plan can also be written as text (the plugin reads it from
// VELK_VIRTUAL_FAULTS), rules separated by ',' or ';':
//   cmd:N:KK/AA/QQ     the Nth command fails
//   op:HH:KK/AA/QQ     every command with opcode HH (hex) fails
//   write:LBA:KK/AA/QQ every WRITE (10) whose range reaches LBA fails
//   busy:N             BUSY for the next N commands
//   no-config          GET CONFIGURATION is refused
//   ua-on-load         unit attention 06/28/00 after the next load
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "virtual-recorder/Sense.h"

namespace velk::vrec {

// What the injector decides for one command.
struct FaultDecision {
    bool busy = false;
    std::optional<Sense> sense;
};

class FaultInjector {
public:
    void failNthCommand(std::uint64_t n, const Sense& s);
    void failOpcode(std::uint8_t opcode, const Sense& s);
    void failWritesFrom(std::uint32_t lba, const Sense& s);
    void busyFor(std::uint32_t commands);
    void refuseGetConfiguration(bool refuse);
    void unitAttentionAfterNextLoad();
    void clear();
    // Adds the rules of a text plan; false (and nothing added) when malformed.
    [[nodiscard]] bool addPlan(const std::string& plan, std::string* error = nullptr);

    // Called once per command, before it runs.
    FaultDecision decide(const std::uint8_t* cdb);
    bool getConfigurationRefused();
    // True once after a load when a unit attention was asked for.
    bool takeUnitAttentionOnLoad();

private:
    struct Rule {
        enum class Kind { Nth, Opcode, WriteFrom } kind;
        std::uint64_t value;
        Sense sense;
        std::uint64_t armedAt;
    };
    std::mutex mutex_;
    std::vector<Rule> rules_;
    std::uint64_t commands_ = 0;
    std::uint32_t busy_ = 0;
    bool refuseConfig_ = false;
    bool uaOnLoad_ = false;
};

}  // namespace velk::vrec

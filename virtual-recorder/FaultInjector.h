// Faults and drive behaviours the virtual recorder produces on request, so
// that tests drive the engine's error and retry paths: fail the Nth command
// (counted from the moment the rule is set, the first command being 1), every
// command with an opcode, every WRITE (10) at or beyond an address or every
// READ (10) of a block, each with a given sense; return a block misread or
// store one recorded wrong, both without an error; answer BUSY for the next N
// commands, for the next N commands with an opcode, or for every Kth command
// with an opcode; answer "long write in progress" to WRITEs for a span of
// simulated time, or whenever the drive buffer is full; refuse GET
// CONFIGURATION as an unknown command; report a unit attention after the
// next load; stop counting buffer underruns; answer a command with a
// recovered error, report a deferred one, answer in descriptor-format sense,
// be becoming ready for a while after a load, lose a command in the
// transport. A failed, busy or lost command is not carried out.
//
// A plan can also be written as text (the plugin reads it from
// VELK_VIRTUAL_FAULTS and VELK_VIRTUAL_FAULTS_<target>, see AspiPlugin.h),
// rules separated by ',' or ';':
//   cmd:N:KK/AA/QQ      the Nth command fails
//   op:HH:KK/AA/QQ      every command with opcode HH (hex) fails
//   write:LBA:KK/AA/QQ  every WRITE (10) whose range reaches LBA fails
//   read:LBA:KK/AA/QQ   every READ (10) whose range holds block LBA fails
//   corrupt:LBA         READ (10) succeeds but returns block LBA with every
//                       byte inverted (a block the drive misreads unnoticed)
//   corrupt-write:LBA   WRITE (10) succeeds but stores block LBA with every
//                       byte inverted (a block the drive records wrong
//                       unnoticed); the disc file keeps the bad block
//   busy:N              BUSY for the next N commands
//   busy-op:HH:N        BUSY for the next N commands with opcode HH
//   busy-every:HH:K     BUSY for every Kth command with opcode HH (K >= 2
//                       lets a retried command through)
//   long-write:S        from the first WRITE on, every WRITE answers 02/04/08
//                       for S simulated seconds (decimals allowed)
//   long-write:S:LBA    the same, from the first WRITE whose range reaches LBA
//   long-write-when-full  a WRITE that does not fit in the drive buffer
//                       answers 02/04/08 at once instead of waiting for room
//   no-underruns        the buffer running empty is not an underrun
//   no-config           GET CONFIGURATION is refused
//   no-read-track-info  READ TRACK INFORMATION is refused as an unknown
//                       command (05/20/00)
//   ua-on-load          unit attention 06/28/00 after the next load
//   recovered:HH:N      the Nth command with opcode HH is carried out and
//                       answers 01/17/01 (recovered error)
//   deferred:HH:KK/AA/QQ  the first command after one with opcode HH that
//                       is not itself HH is turned away with this sense as a
//                       deferred error (71h, 73h), once
//   sense-descriptor    all sense in descriptor format (72h, 73h)
//   becoming-ready:S    commands that need the disc answer 02/04/01 for S
//                       simulated seconds after each load (decimals allowed)
//   transport:HH:N      the Nth command with opcode HH is lost between host
//                       and drive: host status 11h (selection time-out), no
//                       sense, not run
//   async               requests with a completion event are answered from
//                       the drive's worker thread (the plugin; see AspiPlugin.h)
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
    bool deferred = false;        // `sense` is a deferred error
    bool recovered = false;       // carried out, answered with a recovered error
    std::uint8_t hostStatus = 0;  // not 0: lost in the transport
};

// The host status of a command lost in the transport: selection time-out.
inline constexpr std::uint8_t HostStatusSelectionTimeout = 0x11;

class FaultInjector {
public:
    void failNthCommand(std::uint64_t n, const Sense& s);
    void failOpcode(std::uint8_t opcode, const Sense& s);
    void failWritesFrom(std::uint32_t lba, const Sense& s);
    void failReadsOf(std::uint32_t lba, const Sense& s);
    void corruptReadsOf(std::uint32_t lba);
    void corruptWritesOf(std::uint32_t lba);
    void busyFor(std::uint32_t commands);
    void busyForOpcode(std::uint8_t opcode, std::uint32_t commands);
    void busyEvery(std::uint8_t opcode, std::uint32_t k);
    void longWriteFor(double seconds, std::uint32_t fromLba = 0);
    void longWriteWhenBufferFull(bool on);
    void ignoreUnderruns(bool ignore);
    void refuseGetConfiguration(bool refuse);
    void unitAttentionAfterNextLoad();
    void recoverNth(std::uint8_t opcode, std::uint64_t n);
    void deferAfter(std::uint8_t opcode, const Sense& s);
    void answerDescriptorSense(bool on);
    void becomingReadyFor(double seconds);
    void loseNth(std::uint8_t opcode, std::uint64_t n);
    void answerFromWorker(bool on);
    void clear();
    // Adds the rules of a text plan; false (and nothing added) when a rule is
    // unknown or malformed, with `error` naming it.
    [[nodiscard]] bool addPlan(const std::string& plan, std::string* error = nullptr);
    // The forms of the text rules, as "cmd:N:KK/AA/QQ, op:HH:KK/AA/QQ, ...",
    // for a message about a plan that is wrong.
    static std::string ruleForms();

    // Called once per command, before it runs; `now` is the recorder's
    // simulated time in seconds.
    FaultDecision decide(const std::uint8_t* cdb, double now = 0.0);
    bool getConfigurationRefused();
    bool longWriteWhenFull();
    bool underrunsIgnored();
    bool answersFromWorker();
    // Whether a READ returns block `lba` corrupted.
    bool corrupts(std::uint32_t lba);
    // Whether a WRITE stores block `lba` corrupted.
    bool corruptsWrite(std::uint32_t lba);
    // True once after a load when a unit attention was asked for.
    bool takeUnitAttentionOnLoad();
    bool descriptorSense();
    // A disc was loaded at `now`; whether the drive is still becoming ready.
    void noteLoad(double now);
    bool becomingReady(double now);

private:
    struct Rule {
        enum class Kind { Nth, Opcode, WriteFrom, ReadOf, BusyOpcode, BusyEvery, LongWrite, Recovered, Deferred, Lost } kind;
        std::uint64_t value = 0;       // N, opcode or address
        Sense sense{};
        std::uint64_t armedAt = 0;
        std::uint8_t opcode = 0;       // busy, recovered, deferred and lost rules
        std::uint64_t count = 0;       // busy, recovered, lost rules: commands left, or seen
        double seconds = 0.0;          // long write: length of the span
        bool started = false;          // long write: span begun at `since`; deferred: reported
        double since = 0.0;
    };
    std::mutex mutex_;
    std::vector<Rule> rules_;
    std::uint64_t commands_ = 0;
    std::uint32_t busy_ = 0;
    bool refuseConfig_ = false;
    bool uaOnLoad_ = false;
    bool descriptor_ = false;
    double becomingReady_ = 0.0;     // seconds after a load
    double loadedAt_ = -1.0;         // last load, -1 before any
    int previousOpcode_ = -1;
    bool longWriteWhenFull_ = false;
    bool ignoreUnderruns_ = false;
    bool fromWorker_ = false;
    std::vector<std::uint32_t> corrupted_;
    std::vector<std::uint32_t> corruptedWrites_;
};

}  // namespace velk::vrec

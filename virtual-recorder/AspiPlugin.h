// The plugin face of the virtual recorder: the ASPI-style entry points that
// the engine's ASPI transport resolves in libvelk-vrec.so, and the calls
// that tell the plugin which discs to serve.
//
// One host adapter (0) holds one virtual drive per disc file, target 0, 1,
// 2, ... in the order given, each with LUN 0 only; get disk information
// answers drive letters from V onwards (drive number 21 + target, up to Z).
// Without an explicit configuration the plugin reads, on its first call:
//   VELK_VIRTUAL_DISCS       disc files, separated by ':'
//   VELK_VIRTUAL_TIME_SCALE  simulated seconds per real second (default 1)
//   VELK_VIRTUAL_CLOCK       "manual": the drives' clocks stand still but for
//                            their own waits (a WRITE waiting for room in the
//                            buffer, a long operation without Immed), and a
//                            command answered 02/04/xx (operation in
//                            progress) moves them on 5 s, as a host's poll
//                            would; simulated durations then depend on the
//                            commands alone, not on how busy the machine is
//   VELK_VIRTUAL_FAULTS      a fault plan for every drive (FaultInjector.h)
//   VELK_VIRTUAL_FAULTS_<n>  a fault plan for the drive of disc n only (0 for
//                            the first disc file), added after the common one
//   VELK_VIRTUAL_JOURNAL     a file to which every command is appended, one
//                            line each (Journal.h format), prefixed "T<target> "
// A disc file that does not exist gives a drive without a disc; one that
// exists but cannot be used (a damaged layout, a missing data file) gives the
// same and is reported on standard error, and is left as it is. A plan that
// cannot be read is reported on standard error and not applied.
//
// A plan holds failures and drive behaviours, rules separated by ',' (the
// full list is in FaultInjector.h). Those a burn meets:
//   cmd:N:KK/AA/QQ    the Nth command from now fails with that sense, e.g.
//                     cmd:40:03/0C/00 for a write error at command 40
//   busy:N            SCSI status BUSY for the next N commands
//   busy-op:2A:N      BUSY for the next N WRITEs
//   busy-every:2A:K   BUSY for every Kth WRITE, so a whole burn retries
//   long-write:S      from the first WRITE on, WRITEs answer 02/04/08 (long
//                     write in progress) for S simulated seconds
//   long-write:S:LBA  the same, from the first WRITE that reaches block LBA
//   long-write-when-full  a WRITE that finds the drive buffer full answers
//                     02/04/08 instead of waiting for room
//   write:LBA:KK/AA/QQ, read:LBA:KK/AA/QQ  WRITEs reaching LBA, READs of
//                     block LBA fail (a bad area of the disc)
//   corrupt:LBA       READs return block LBA with its bytes inverted
//   corrupt-write:LBA WRITEs store block LBA with its bytes inverted and
//                     report success (a bad block that only reading finds)
//   no-underruns      the buffer running empty is not counted (for time
//                     scales at which no host could keep a drive fed)
// Example: VELK_VIRTUAL_FAULTS_0='long-write:3,busy-every:2A:50'.
//
// Underruns: on sequential media the drive starts recording a track once its
// buffer is full (or flushed); the buffer running empty after that, before
// the next WRITE, in simulated time, is an underrun. The disc file counts
// it (vdisc show prints the count). On CD-R/RW and DVD-R/-RW without BUFE in
// page 05h the next WRITE fails with 03/0C/09; with BUFE, and always on DVD+R
// and DVD+R DL (lossless linking), the drive pauses and goes on. A WRITE the
// plan turns away (busy, long write) pauses the track too. At a high time
// scale the host is slow in simulated time: use BUFE or no-underruns. A test
// write counts its underruns but records nothing, the count included.
//
// Execute requests run in the caller's thread, one at a time per drive. One
// with a completion event returns SrbPending with the event already set, as
// a driver with nothing queued may answer; without an event the call returns
// the final status. Handing each command to a thread of the drive's own
// cost two thread wake-ups per WRITE, about as much as the WRITE itself.
// With the "async" rule a drive answers requests with an event from its
// worker thread instead: SendASPI32Command returns SrbPending at once, and
// the worker fills the request and sets the event later, as a driver with a
// queue does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "virtual-recorder/VirtualRecorder.h"

namespace velk::vrec {

// ASPI status values beyond those of ScsiRequestBlock.h.
inline constexpr std::uint8_t SrbInvalidAdapter = 0x81;
inline constexpr std::uint8_t SrbNoDevice = 0x82;
inline constexpr std::uint8_t SrbInvalidRequest = 0x80;
// First drive number of the virtual drives ('A' + 21 = 'V').
inline constexpr std::uint8_t FirstVirtualDriveNumber = 21;

// In-process access to the drive at `target` of the current configuration
// (nullptr when there is none). Valid until the next configuration.
VirtualRecorder* vrecRecorder(std::size_t target);
std::size_t vrecDriveCount();

}  // namespace velk::vrec

extern "C" {
// Serves the `count` disc files of `paths` from now on, replacing any earlier
// configuration (and ignoring the environment); `timeScale` <= 0 means 1.
// Returns the number of drives.
__attribute__((visibility("default"))) int vrecConfigure(const char* const* paths, std::size_t count,
                                                         double timeScale);
// Drops the configuration; the next call reads the environment again.
__attribute__((visibility("default"))) void vrecShutdown();
// Adds a fault plan (FaultInjector.h syntax) to the drive at `target` of the
// current configuration; counting of "cmd:N" starts now. Returns 1, or 0
// when there is no such drive or the plan is malformed (nothing added).
__attribute__((visibility("default"))) int vrecAddPlan(std::size_t target, const char* plan);
// The simulated time at which the drive at `target` answered its command
// number `index` (0 for the first, in the order of its journal lines), or -1
// when there is no such drive or command.
__attribute__((visibility("default"))) double vrecCommandSeconds(std::size_t target, std::size_t index);
__attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo();
__attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void* request);
}

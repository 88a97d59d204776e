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
//   VELK_VIRTUAL_FAULTS      a fault plan for every drive (FaultInjector.h)
//   VELK_VIRTUAL_JOURNAL     a file to which every command is appended, one
//                            line each (Journal.h format), prefixed "T<target> "
// A disc file that cannot be opened gives a drive without a disc.
//
// Execute requests with a completion event run on the drive's own worker
// thread: SendASPI32Command returns SrbPending, and the worker fills the
// request and sets the event. Without an event the request runs at once.
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
__attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo();
__attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void* request);
}

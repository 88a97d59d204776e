// Codes and callback types of the engine's public surface.
#pragma once

#include <cstdint>

namespace velk {

struct FileItem;

// Pending error codes (GetLastErrorCode). Recorder errors are reported as
// ASC * 256 + ASCQ and so are always 256 or more.
enum EngineError : std::int32_t {
    ErrNone = 0,
    ErrNotPrepared = 1,
    ErrOpenFile = 2,
    ErrCreateFile = 3,
    ErrAborted = 4,
    ErrInvalidName = 10,
    // The project's tables are full: 200,000 items or 65,000 folders.
    ErrProjectFull = 11,
    // Memory for the image header could not be had.
    ErrOutOfMemory = 12,
    // A source file became shorter between planning and reading it.
    ErrFileChanged = 13,
    // A block read back after the burn differs from what was written, or
    // cannot be read (jobs.verifyFailedBlock names it).
    ErrVerifyFailed = 14,
    // A command never reached the recorder: the host adapter or its driver
    // failed it, and the drive gave no sense data.
    ErrTransportFailure = 15,
};

inline constexpr int MaxItems = 200000;
inline constexpr int MaxFolders = 65000;
inline constexpr int MaxNameLength = 98;

// What the engine is doing (GetJobState).
enum JobState : std::int32_t {
    JobIdle = 0,
    JobWriting = 1,
    JobErasing = 2,
    JobFormatting = 3,
    JobClosing = 4,
    JobPlanning = 5,
    JobAborted = 6,
    JobImporting = 7,
    JobWriteFailed = 8,
    // The written blocks are being read back and compared.
    JobVerifying = 9,
};

// Medium code from the recorder's current profile.
enum DiscType : std::uint8_t {
    DiscNone = 0,
    DiscCdRom = 1,
    DiscCdR = 2,
    DiscCdRw = 3,
    DiscDvdRom = 4,
    DiscDvdR = 5,
    DiscDvdRam = 6,
    DiscDvdRwRestricted = 8,
    DiscDvdRwSequential = 9,
    DiscDvdPlusRw = 10,
    DiscDvdPlusR = 11,
    DiscDvdPlusRDualLayer = 12,
    DiscDdcdRom = 15,
    DiscDdcdR = 16,
    DiscDdcdRw = 17,
};

// Called once on the job's own thread when a job ends; failed is 1 on failure.
using CompletionCallback = void (*)(std::int32_t failed, void* context);

// Produces the bytes of a virtual file during a burn: it must write exactly
// *count bytes of the item's data, starting at `offset`, to `destination`.
using ChunkDataCallback = std::int32_t (*)(FileItem* item, std::uint32_t offset,
                                           std::uint8_t* destination, std::uint32_t* count,
                                           void* context);

}  // namespace velk

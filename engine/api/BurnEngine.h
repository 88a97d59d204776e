// The engine's one public object. Every operation returns 1/0 (or an item
// handle / null) and leaves the reason of a failure for GetLastErrorCode; no
// exception crosses this surface. Plain text operations take UTF-8, the W
// forms UTF-16. Several engines may live in one process.
#pragma once

#include <cstdint>

#include "engine/core/EngineTypes.h"
#include "platform/FindData.h"

namespace velk {

struct ImageProject;
struct RecorderDevice;
struct FolderNode;

using ItemHandle = void*;

class BurnEngine {
public:
    BurnEngine();
    virtual ~BurnEngine();
    BurnEngine(const BurnEngine&) = delete;
    BurnEngine& operator=(const BurnEngine&) = delete;

    // Recorder list and selection.
    int Initialise(int forceAspi, const char* aspiLibraryPath, int reserved,
                   const char* traceLogPath);
    std::uint8_t GetDeviceCount();
    const char* GetDeviceName(int index);
    int SelectByIndex(int index);
    int SelectByLetter(char letter);
    int CanWrite();
    int QueryCapability(int code);

    // Medium and drive.
    int TestUnitReady();
    int CheckUnit();
    int LoadMedium();
    int Eject();
    int LockMedium();
    int UnlockMedium();
    int SetSpeeds(std::uint16_t readSpeed, std::uint16_t writeSpeed);
    std::uint16_t GetReadSpeed();
    std::uint16_t GetWriteSpeed();
    std::uint16_t GetMaxReadSpeed();
    std::uint16_t GetMaxWriteSpeed();
    std::uint16_t GetMaxWriteSpeedCurrent();
    DiscType GetDiscType();
    int CanErase();
    int IsDiscWritable();
    int GetFreeBlocks();
    int GetDiscCapacity();
    std::uint8_t GetSessionCount();
    std::uint32_t GetIsoVolumeSize();
    int GetDriveBufferSize();
    int GetDriveBufferUsed();

    // Device switches: each setter stores the value and returns it.
    int SetTestWrite(int value);
    int GetTestWrite();
    int SetUnderrunProtection(int value);
    int GetUnderrunProtection();
    int SetPerformOpc(int value);
    int GetPerformOpc();
    int SetCloseDisc(int value);
    int GetCloseDisc();

    // Project content.
    int ResetProject();
    int ResetProjectEx(int longNames, int reserved);
    ItemHandle AddFile(const char* treePath, const char* sourcePath);
    ItemHandle AddFileW(const char16_t* treePath, const char16_t* sourcePath);
    ItemHandle AddFileAs(const char* treePath, const char* sourcePath, const char* longName,
                         const char* shortName);
    ItemHandle AddFileAsW(const char16_t* treePath, const char16_t* sourcePath,
                          const char16_t* longName, const char16_t* shortName);
    ItemHandle AddDirectory(const char* treePath, const char* sourcePath, const char* mask,
                            int recursive, int keepPath);
    ItemHandle AddDirectoryW(const char16_t* treePath, const char16_t* sourcePath,
                             const char16_t* mask, int recursive, int keepPath);
    ItemHandle CreateFolder(const char* treePath, const char* name);
    ItemHandle CreateFolderW(const char16_t* treePath, const char16_t* name);
    ItemHandle AddVirtualFile(const char* treePath, platform::FindDataA record,
                              ChunkDataCallback callback, void* context);
    ItemHandle AddVirtualFileW(const char16_t* treePath, platform::FindData record,
                               ChunkDataCallback callback, void* context);
    int SetVolumeLabel(const char* label);
    int SetVolumeLabelW(const char16_t* label);
    const char* GetVolumeLabel();
    const char16_t* GetVolumeLabelW();
    int SetJoliet(int value);
    int GetJoliet();
    int SetUdfBridge(int value);
    int GetUdfBridge();
    int SetReplaceExisting(int value);
    int GetReplaceExisting();
    int SetBootImage(const char* path);
    const char* GetBootImage();
    int ImportSession(int session, const char* treePath);
    int ImportSessionW(int session, const char16_t* treePath);
    int GetFileCount();
    int GetDirectoryCount();
    int PrepareImage();
    int GetImageBlocks();

    // Jobs and progress.
    int StartBurn(CompletionCallback callback, void* context);
    int StartBurnFromImage(const char* imagePath, CompletionCallback callback, void* context);
    int StartWriteImage(const char* imagePath, CompletionCallback callback, void* context);
    int StartErase(int mode, CompletionCallback callback, void* context);
    void SetCloseOnly();
    void Abort();
    int GetJobState();
    int GetBlocksWritten();
    // Verification after the burn: every block the burn wrote is read back
    // from the medium and compared with a digest taken as it was sent. While
    // it runs GetJobState is JobVerifying and GetBlocksWritten counts the
    // blocks verified, from 0 again; a mismatch or an unreadable block fails
    // the job with ErrVerifyFailed naming the first bad block. 0 after every
    // project reset.
    int SetVerify(int value);
    int GetVerify();
    int GetBlocksVerified();
    int SetBufferSize(int bytes);
    int GetBufferSize();
    int GetBufferFill();
    const char* GetVersion();

    // Errors.
    int GetLastErrorCode();
    const char* GetLastErrorText();
    const char16_t* GetLastErrorTextW();
    // The system's reason for the last file operation that failed in a job
    // (opening, reading or writing a source, the image file or its output)
    // or in AddDirectory (a folder it cannot read, a path too long): its
    // error number (0 when none failed) and its text ("No space left on
    // device"). Not cleared on read; a job clears it when it starts.
    int GetLastSystemError();
    const char* GetLastSystemErrorText();

    // The engine's two records, for the jobs, the tools and the tests.
    ImageProject& project() { return *project_; }
    RecorderDevice& device() { return *device_; }

private:
    void Bind();

    ImageProject* project_;
    RecorderDevice* device_;
    char systemErrorText_[256] = {};
};

}  // namespace velk

#include "engine/api/BurnEngine.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/api/ErrorTexts.h"
#include "engine/core/TraceLog.h"
#include "engine/device/DeviceOperations.h"
#include "engine/image/ImageOperations.h"
#include "engine/image/ImageProject.h"
#include "engine/image/SourceTree.h"
#include "engine/image/VolumeLabels.h"
#include "engine/jobs/JobOperations.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace velk {
namespace {

constexpr int DefaultBufferSize = 33554432;
constexpr int MinBufferSize = 2097152;
// Larger rings gain nothing and would exhaust memory on a small machine.
constexpr int MaxBufferSize = 655360000;

std::u16string wide(const char* text) { return platform::toUtf16(text ? text : ""); }
std::u16string_view view(const char16_t* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

}  // namespace

BurnEngine::BurnEngine() : project_(createProject().release()), device_(createDevice()) {
    Bind();
}

BurnEngine::~BurnEngine() {
    // A job thread still running would outlive the records it works on: stop
    // it and let it end first.
    JobFields& jobs = project_->jobs;
    if (jobs.runningThreads.load() > 0) {
        jobs.stopRequested = 1;
        device_->eraseStop = 1;
    }
    jobs.waitForThreads();
    destroyDevice(device_);
    delete project_;
}

void BurnEngine::Bind() {
    device_->underrunProtection = 1;
    device_->adapterId = device_->targetId = device_->lun = 127;
    device_->driveLetter = 127;
    device_->closeAfterCommand = 1;
    project_->device = device_;
    project_->jobs.chunkCount = 0;
    resetProject(*project_, 0, 0);
    const std::uint8_t jolietEscape[3] = {0x25, 0x2F, 0x45};
    const std::uint8_t secondEscape[3] = {0x25, 0x2F, 0x40};
    std::copy(std::begin(jolietEscape), std::end(jolietEscape), project_->jolietEscape);
    std::copy(std::begin(secondEscape), std::end(secondEscape), project_->secondEscape);
    // The recorder list is built now; an empty list shows through GetDeviceCount.
    (void)device::Initialise(*device_, 0, nullptr, 0, nullptr);
    project_->jobs.bufferSize = DefaultBufferSize;
}

// Recorder list and selection.
int BurnEngine::Initialise(int forceAspi, const char* aspiLibraryPath, int reserved,
                           const char* traceLogPath) {
    return device::Initialise(*device_, forceAspi, aspiLibraryPath, reserved, traceLogPath);
}
std::uint8_t BurnEngine::GetDeviceCount() { return device::GetDeviceCount(*device_); }
const char* BurnEngine::GetDeviceName(int index) { return device::GetDeviceName(*device_, index); }
int BurnEngine::SelectByIndex(int index) { return device::SelectByIndex(*device_, index); }
int BurnEngine::SelectByLetter(char letter) { return device::SelectByLetter(*device_, letter); }
int BurnEngine::CanWrite() { return device::CanWrite(*device_); }
int BurnEngine::QueryCapability(int code) { return device::QueryCapability(*device_, code); }

// Medium and drive.
int BurnEngine::TestUnitReady() { return device::TestUnitReady(*device_); }
int BurnEngine::CheckUnit() { return device::CheckUnit(*device_); }
int BurnEngine::LoadMedium() { return device::LoadMedium(*device_); }
int BurnEngine::Eject() { return device::Eject(*device_); }
int BurnEngine::LockMedium() { return device::LockMedium(*device_); }
int BurnEngine::UnlockMedium() { return device::UnlockMedium(*device_); }
int BurnEngine::SetSpeeds(std::uint16_t readSpeed, std::uint16_t writeSpeed) {
    return device::SetSpeeds(*device_, readSpeed, writeSpeed);
}
std::uint16_t BurnEngine::GetReadSpeed() { return device::GetReadSpeed(*device_); }
std::uint16_t BurnEngine::GetWriteSpeed() { return device::GetWriteSpeed(*device_); }
std::uint16_t BurnEngine::GetMaxReadSpeed() { return device::GetMaxReadSpeed(*device_); }
std::uint16_t BurnEngine::GetMaxWriteSpeed() { return device::GetMaxWriteSpeed(*device_); }
std::uint16_t BurnEngine::GetMaxWriteSpeedCurrent() {
    return device::GetMaxWriteSpeedCurrent(*device_);
}
DiscType BurnEngine::GetDiscType() { return device::GetDiscType(*device_); }
int BurnEngine::CanErase() { return device::CanErase(*device_); }
int BurnEngine::IsDiscWritable() { return device::IsDiscWritable(*device_); }
int BurnEngine::GetFreeBlocks() { return device::GetFreeBlocks(*device_); }
int BurnEngine::GetDiscCapacity() { return device::GetDiscCapacity(*device_); }
std::uint8_t BurnEngine::GetSessionCount() { return device::GetSessionCount(*device_); }
std::uint32_t BurnEngine::GetIsoVolumeSize() { return device::GetIsoVolumeSize(*device_); }
int BurnEngine::GetDriveBufferSize() { return static_cast<int>(device_->bufferLength.load()); }
int BurnEngine::GetDriveBufferUsed() { return static_cast<int>(device::GetDriveBufferUsed(*device_)); }

// Device switches.
int BurnEngine::SetTestWrite(int value) { return device_->testWrite = value; }
int BurnEngine::GetTestWrite() { return device_->testWrite; }
int BurnEngine::SetUnderrunProtection(int value) { return device_->underrunProtection = value; }
int BurnEngine::GetUnderrunProtection() { return device_->underrunProtection; }
int BurnEngine::SetPerformOpc(int value) { return device_->performOpc = value; }
int BurnEngine::GetPerformOpc() { return device_->performOpc; }
int BurnEngine::SetCloseDisc(int value) { return device_->closeDisc = value; }
int BurnEngine::GetCloseDisc() { return device_->closeDisc; }

// Project content.
int BurnEngine::ResetProject() {
    project_->jobs.verifyOn = 0;
    return resetProject(*project_, 0, 0);
}
int BurnEngine::ResetProjectEx(int longNames, int reserved) {
    project_->jobs.verifyOn = 0;
    return resetProject(*project_, longNames, reserved);
}
// The 8-bit forms keep the source path's own bytes, so a name that is not
// valid UTF-8 can still be opened.
ItemHandle BurnEngine::AddFile(const char* treePath, const char* sourcePath) {
    return addFileBytes(*project_, wide(treePath), sourcePath ? std::string_view(sourcePath) : std::string_view(), 0);
}
ItemHandle BurnEngine::AddFileW(const char16_t* treePath, const char16_t* sourcePath) {
    return addFile(*project_, view(treePath), view(sourcePath), 1);
}
ItemHandle BurnEngine::AddFileAs(const char* treePath, const char* sourcePath,
                                 const char* longName, const char* shortName) {
    return addFileAs(*project_, wide(treePath), wide(sourcePath), wide(longName), wide(shortName), 0);
}
ItemHandle BurnEngine::AddFileAsW(const char16_t* treePath, const char16_t* sourcePath,
                                  const char16_t* longName, const char16_t* shortName) {
    return addFileAs(*project_, view(treePath), view(sourcePath), view(longName), view(shortName), 1);
}
ItemHandle BurnEngine::AddDirectory(const char* treePath, const char* sourcePath,
                                    const char* mask, int recursive, int keepPath) {
    return addDirectoryBytes(*project_, wide(treePath), sourcePath ? std::string_view(sourcePath) : std::string_view(),
                             wide(mask), recursive, keepPath, 0);
}
ItemHandle BurnEngine::AddDirectoryW(const char16_t* treePath, const char16_t* sourcePath,
                                     const char16_t* mask, int recursive, int keepPath) {
    return addDirectory(*project_, view(treePath), view(sourcePath), view(mask), recursive,
                        keepPath, 1);
}
ItemHandle BurnEngine::CreateFolder(const char* treePath, const char* name) {
    return createFolder(*project_, wide(treePath), wide(name));
}
ItemHandle BurnEngine::CreateFolderW(const char16_t* treePath, const char16_t* name) {
    return createFolder(*project_, view(treePath), view(name));
}
ItemHandle BurnEngine::AddVirtualFile(const char* treePath, platform::FindDataA record,
                                      ChunkDataCallback callback, void* context) {
    return addVirtualFile(*project_, wide(treePath), platform::widen(record), callback, context);
}
ItemHandle BurnEngine::AddVirtualFileW(const char16_t* treePath, platform::FindData record,
                                       ChunkDataCallback callback, void* context) {
    return addVirtualFile(*project_, view(treePath), record, callback, context);
}
int BurnEngine::SetVolumeLabel(const char* label) { return setVolumeLabel(*project_, label); }
int BurnEngine::SetVolumeLabelW(const char16_t* label) { return setVolumeLabelW(*project_, label); }
const char* BurnEngine::GetVolumeLabel() { return project_->volumeLabel; }
const char16_t* BurnEngine::GetVolumeLabelW() { return project_->volumeLabelW; }
int BurnEngine::SetJoliet(int value) { return project_->jolietOn = value; }
int BurnEngine::GetJoliet() { return project_->jolietOn; }
int BurnEngine::SetUdfBridge(int value) { return project_->udfOn = value; }
int BurnEngine::GetUdfBridge() { return project_->udfOn; }
int BurnEngine::SetReplaceExisting(int value) { return project_->replaceExisting = value; }
int BurnEngine::GetReplaceExisting() { return project_->replaceExisting; }
int BurnEngine::SetBootImage(const char* path) { return image::SetBootImage(*project_, path); }
const char* BurnEngine::GetBootImage() { return image::GetBootImage(*project_); }
int BurnEngine::ImportSession(int session, const char* treePath) {
    return image::ImportSession(*project_, session, wide(treePath));
}
int BurnEngine::ImportSessionW(int session, const char16_t* treePath) {
    return image::ImportSession(*project_, session, view(treePath));
}
int BurnEngine::GetFileCount() { return project_->itemCount(); }
int BurnEngine::GetDirectoryCount() { return project_->folderCount(); }
int BurnEngine::PrepareImage() { return image::PrepareImage(*project_); }
int BurnEngine::GetImageBlocks() { return static_cast<int>(project_->plan.imageBlocks); }

// Jobs and progress.
int BurnEngine::StartBurn(CompletionCallback callback, void* context) {
    return jobs::StartBurn(*project_, *device_, callback, context);
}
int BurnEngine::StartBurnFromImage(const char* imagePath, CompletionCallback callback,
                                   void* context) {
    return jobs::StartBurnFromImage(*project_, *device_, imagePath, callback, context);
}
int BurnEngine::StartWriteImage(const char* imagePath, CompletionCallback callback, void* context) {
    return jobs::StartWriteImage(*project_, *device_, imagePath, callback, context);
}
int BurnEngine::StartErase(int mode, CompletionCallback callback, void* context) {
    return jobs::StartErase(*project_, *device_, mode, callback, context);
}
void BurnEngine::SetCloseOnly() { jobs::SetCloseOnly(*project_); }

void BurnEngine::Abort() {
    if (project_->jobs.jobState.load() == JobIdle) return;
    project_->pendingError = ErrAborted;
    project_->jobs.jobState = JobAborted;
    project_->jobs.stopRequested = 1;
}

int BurnEngine::GetJobState() {
    std::uint8_t erase = device_->eraseState.load();
    if (erase != 0) return erase;
    return project_->jobs.jobState.load();
}

int BurnEngine::GetBlocksWritten() { return static_cast<int>(project_->jobs.blocksWritten.load()); }
int BurnEngine::SetVerify(int value) { return project_->jobs.verifyOn = value; }
int BurnEngine::GetVerify() { return project_->jobs.verifyOn; }
int BurnEngine::GetBlocksVerified() { return static_cast<int>(project_->jobs.blocksVerified.load()); }

int BurnEngine::SetBufferSize(int bytes) {
    int stored = std::clamp(bytes, MinBufferSize, MaxBufferSize);
    project_->jobs.bufferSize = stored;
    return stored;
}

int BurnEngine::GetBufferSize() { return project_->jobs.bufferSize.load(); }

int BurnEngine::GetBufferFill() {
    std::uint64_t fill = static_cast<std::uint64_t>(std::max(0, project_->jobs.chunkCount.load())) * ChunkBytes;
    std::uint64_t size = static_cast<std::uint32_t>(project_->jobs.bufferSize.load());
    return static_cast<int>(std::min(fill, size));
}

const char* BurnEngine::GetVersion() { return trace::versionText(); }

// Errors.
int BurnEngine::GetLastErrorCode() { return takeLastErrorCode(*project_, *device_); }
const char* BurnEngine::GetLastErrorText() {
    return formatErrorText(GetLastErrorCode(), *project_, *device_);
}
const char16_t* BurnEngine::GetLastErrorTextW() {
    return formatErrorTextW(GetLastErrorCode(), *project_, *device_);
}
int BurnEngine::GetLastSystemError() { return project_->jobs.lastSystemError.load(); }
const char* BurnEngine::GetLastSystemErrorText() {
    int code = project_->jobs.lastSystemError.load();
    std::string text = code != 0 ? platform::systemErrorText(code) : std::string();
    std::snprintf(systemErrorText_, sizeof systemErrorText_, "%s", text.c_str());
    return systemErrorText_;
}

}  // namespace velk

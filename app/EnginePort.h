// The engine operations the main panel calls, as one small interface. The
// application forwards every one of them to the process's BurnEngine
// (BurnEnginePort); the controller's tests put a scripted engine in its place.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/EngineTypes.h"

namespace velk {
class BurnEngine;
}

namespace velk::app {

class EnginePort {
public:
    virtual ~EnginePort() = default;
    virtual int GetDeviceCount() = 0;
    virtual std::string GetDeviceName(int index) = 0;
    virtual int SelectByIndex(int index) = 0;
    virtual int CanWrite() = 0;
    virtual int Eject() = 0;
    virtual int LoadMedium() = 0;
    virtual int GetFreeBlocks() = 0;
    virtual int TestUnitReady() = 0;
    virtual int ResetProject() = 0;
    virtual int ImportSession(int session, const std::string& treePath) = 0;
    virtual int SetVolumeLabel(const std::string& label) = 0;
    virtual int SetUdfBridge(int value) = 0;
    virtual int SetVerify(int value) = 0;
    virtual int GetJobState() = 0;
    virtual bool AddDirectory(const std::string& treePath, const std::string& sourcePath,
                              const std::string& mask, int recursive, int keepPath) = 0;
    virtual bool AddFile(const std::string& treePath, const std::string& sourcePath) = 0;
    virtual int PrepareImage() = 0;
    // May take minutes (a format); the panel calls it off the window's thread.
    virtual int StartBurn(CompletionCallback callback, void* context) = 0;
    virtual int CanErase() = 0;
    virtual int StartErase(int mode, CompletionCallback callback, void* context) = 0;
    virtual void Abort() = 0;
    virtual std::uint32_t GetImageBlocks() = 0;
    virtual std::uint32_t GetBlocksWritten() = 0;
    virtual int GetBufferSize() = 0;
    virtual int GetBufferFill() = 0;
    virtual int GetDriveBufferSize() = 0;
    virtual int GetDriveBufferUsed() = 0;
    // Reads and clears the pending error; empty when there was none.
    virtual std::string TakeErrorText() = 0;
};

class BurnEnginePort final : public EnginePort {
public:
    explicit BurnEnginePort(BurnEngine& engine) : engine_(engine) {}
    int GetDeviceCount() override;
    std::string GetDeviceName(int index) override;
    int SelectByIndex(int index) override;
    int CanWrite() override;
    int Eject() override;
    int LoadMedium() override;
    int GetFreeBlocks() override;
    int TestUnitReady() override;
    int ResetProject() override;
    int ImportSession(int session, const std::string& treePath) override;
    int SetVolumeLabel(const std::string& label) override;
    int SetUdfBridge(int value) override;
    int SetVerify(int value) override;
    int GetJobState() override;
    bool AddDirectory(const std::string& treePath, const std::string& sourcePath, const std::string& mask,
                      int recursive, int keepPath) override;
    bool AddFile(const std::string& treePath, const std::string& sourcePath) override;
    int PrepareImage() override;
    int StartBurn(CompletionCallback callback, void* context) override;
    int CanErase() override;
    int StartErase(int mode, CompletionCallback callback, void* context) override;
    void Abort() override;
    std::uint32_t GetImageBlocks() override;
    std::uint32_t GetBlocksWritten() override;
    int GetBufferSize() override;
    int GetBufferFill() override;
    int GetDriveBufferSize() override;
    int GetDriveBufferUsed() override;
    std::string TakeErrorText() override;

private:
    BurnEngine& engine_;
};

}  // namespace velk::app

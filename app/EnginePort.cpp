#include "app/EnginePort.h"

#include "engine/api/BurnEngine.h"
#include "engine/api/ErrorTexts.h"

namespace velk::app {

int BurnEnginePort::GetDeviceCount() { return engine_.GetDeviceCount(); }
std::string BurnEnginePort::GetDeviceName(int index) {
    const char* name = engine_.GetDeviceName(index);
    return name ? name : "";
}
int BurnEnginePort::SelectByIndex(int index) { return engine_.SelectByIndex(index); }
int BurnEnginePort::CanWrite() { return engine_.CanWrite(); }
int BurnEnginePort::Eject() { return engine_.Eject(); }
int BurnEnginePort::LoadMedium() { return engine_.LoadMedium(); }
int BurnEnginePort::GetFreeBlocks() { return engine_.GetFreeBlocks(); }
int BurnEnginePort::TestUnitReady() { return engine_.TestUnitReady(); }
int BurnEnginePort::ResetProject() { return engine_.ResetProject(); }
int BurnEnginePort::ImportSession(int session, const std::string& treePath) {
    return engine_.ImportSession(session, treePath.c_str());
}
int BurnEnginePort::SetVolumeLabel(const std::string& label) { return engine_.SetVolumeLabel(label.c_str()); }
int BurnEnginePort::SetUdfBridge(int value) { return engine_.SetUdfBridge(value); }
int BurnEnginePort::SetVerify(int value) { return engine_.SetVerify(value); }
int BurnEnginePort::GetJobState() { return engine_.GetJobState(); }
bool BurnEnginePort::AddDirectory(const std::string& treePath, const std::string& sourcePath,
                                  const std::string& mask, int recursive, int keepPath) {
    return engine_.AddDirectory(treePath.c_str(), sourcePath.c_str(), mask.c_str(), recursive, keepPath) != nullptr;
}
bool BurnEnginePort::AddFile(const std::string& treePath, const std::string& sourcePath) {
    return engine_.AddFile(treePath.c_str(), sourcePath.c_str()) != nullptr;
}
int BurnEnginePort::PrepareImage() { return engine_.PrepareImage(); }
int BurnEnginePort::StartBurn(CompletionCallback callback, void* context) {
    return engine_.StartBurn(callback, context);
}
int BurnEnginePort::CanErase() { return engine_.CanErase(); }
int BurnEnginePort::StartErase(int mode, CompletionCallback callback, void* context) {
    return engine_.StartErase(mode, callback, context);
}
void BurnEnginePort::Abort() { engine_.Abort(); }
std::uint32_t BurnEnginePort::GetImageBlocks() { return static_cast<std::uint32_t>(engine_.GetImageBlocks()); }
std::uint32_t BurnEnginePort::GetBlocksWritten() { return static_cast<std::uint32_t>(engine_.GetBlocksWritten()); }
int BurnEnginePort::GetBufferSize() { return engine_.GetBufferSize(); }
int BurnEnginePort::GetBufferFill() { return engine_.GetBufferFill(); }
int BurnEnginePort::GetDriveBufferSize() { return engine_.GetDriveBufferSize(); }
int BurnEnginePort::GetDriveBufferUsed() { return engine_.GetDriveBufferUsed(); }
std::string BurnEnginePort::TakeErrorText() {
    // GetLastErrorText words "no error" as a message of its own; the panel
    // shows nothing then.
    int code = engine_.GetLastErrorCode();
    if (code == ErrNone) return {};
    return formatErrorText(code, engine_.project(), engine_.device());
}

}  // namespace velk::app

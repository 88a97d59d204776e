#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace velk::platform {

void* loadLibrary(const std::string& path) {
    if (path.empty()) return nullptr;
    return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findSymbol(void* library, const char* name) {
    if (!library || !name) return nullptr;
    return ::dlsym(library, name);
}

std::string lastLibraryError() {
    const char* text = ::dlerror();
    return text ? std::string(text) : std::string();
}

}  // namespace velk::platform

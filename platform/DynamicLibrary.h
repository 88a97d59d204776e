// Loading a shared library at run time and resolving its entry points
// (dlopen / dlsym). A loaded library is never unloaded by the engine.
#pragma once

#include <string>

namespace velk::platform {

// nullptr when the library cannot be loaded.
void* loadLibrary(const std::string& path);
// nullptr when the library has no such symbol.
void* findSymbol(void* library, const char* name);
// The loader's text for the last failure, empty when there is none.
std::string lastLibraryError();

}  // namespace velk::platform

#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

namespace velk::platform {
namespace {

// The process's umask, read without changing it (changing it would race
// with other threads creating files).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

}  // namespace

PathKind pathKind(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return PathKind::Missing;
    if (S_ISREG(info.st_mode)) return PathKind::Regular;
    if (S_ISDIR(info.st_mode)) return PathKind::Directory;
    return PathKind::Other;
}

std::string resolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return path;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::FILE* createTempBeside(const std::string& target, std::string& tempPath) {
    std::string::size_type slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = folder + "." + name + ".velk-XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) return nullptr;
    struct stat existing {};
    mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~currentUmask());
    (void)::fchmod(fd, mode);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        int error = errno;
        ::close(fd);
        ::unlink(pattern.c_str());
        errno = error;
        return nullptr;
    }
    tempPath = pattern;
    return file;
}

bool replaceFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool flushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    return ::fsync(::fileno(file)) == 0 || errno == EINVAL;  // pipes and devices cannot sync
}

int lastSystemError() { return errno; }

std::string systemErrorText(int code) {
    char buffer[256];
    // GNU strerror_r returns the text (possibly not in the buffer).
    return ::strerror_r(code, buffer, sizeof buffer);
}

void ignoreFileSizeSignal() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

}  // namespace velk::platform

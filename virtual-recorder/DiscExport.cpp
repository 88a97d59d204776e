// The export writes through POSIX calls: a temporary file beside the target,
// synced and renamed over it, and the device and inode of the files it must
// not overwrite.
#include "virtual-recorder/DiscExport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace velk::vrec {

namespace {

void setError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

std::string errnoText(const std::string& path) { return path + ": " + std::strerror(errno); }

bool sameFile(const struct stat& a, const std::string& path) {
    struct stat b {};
    return ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::uint32_t recordedSessions(const DiscLayout& layout) {
    if (!layout.sequential()) return layout.hasData() ? 1 : 0;
    const bool openHasData = !layout.finalized && layout.lastSessionState() == SessionState::Incomplete;
    return layout.closedSessions + (openHasData ? 1 : 0);
}

std::uint32_t sessionStart(const DiscLayout& layout, std::uint32_t session) {
    if (!layout.sequential()) return 0;
    const std::uint32_t wanted = session == 0 ? recordedSessions(layout) : session;
    std::optional<std::uint32_t> start;
    for (const auto& t : layout.tracks) {
        if (t.session == wanted) start = std::min(start.value_or(t.start), t.start);
    }
    return start.value_or(0);
}

std::uint32_t exportBlockCount(const DiscLayout& layout, std::uint32_t session, ExportExtent extent) {
    const std::uint32_t recorded = recordedSessions(layout);
    if (session > recorded) return 0;
    // "The last" is the last one holding data: the empty session a closed
    // one opens lies behind the run-out, and would add its blocks as zeros.
    const std::uint32_t end = layout.sessionEnd(layout.sequential() && session == 0 ? recorded : session);
    const std::uint32_t first = extent == ExportExtent::SessionOnly ? sessionStart(layout, session) : 0;
    return end > first ? end - first : 0;
}

bool exportImage(const DiscStore& disc, std::uint32_t session, const std::string& imagePath, std::string* error,
                 ExportExtent extent) {
    const DiscLayout& layout = disc.layout();
    const std::uint32_t first = extent == ExportExtent::SessionOnly ? sessionStart(layout, session) : 0;
    const std::uint32_t blocks = exportBlockCount(layout, session, extent);
    if (blocks == 0) {
        setError(error, "the session holds no data");
        return false;
    }
    // An existing target that is not a regular file (a FIFO, a device) is
    // written as it is; a regular one is replaced only by a complete image.
    // "-" is standard output.
    const bool toStdout = imagePath == "-";
    struct stat target {};
    const bool exists = toStdout ? ::fstat(STDOUT_FILENO, &target) == 0 : ::stat(imagePath.c_str(), &target) == 0;
    if (exists && (sameFile(target, disc.path()) || sameFile(target, disc.path() + ".data") ||
                   (!layout.imagePath.empty() && sameFile(target, layout.imagePath)))) {
        setError(error, imagePath + ": is the disc's own file");
        return false;
    }
    const bool direct = toStdout || (exists && !S_ISREG(target.st_mode));
    std::string tmp;
    int fd = -1;
    if (toStdout) {
        fd = ::dup(STDOUT_FILENO);
    } else if (direct) {
        fd = ::open(imagePath.c_str(), O_WRONLY | O_CLOEXEC);
    } else {
        tmp = imagePath + ".XXXXXX";
        fd = ::mkostemp(tmp.data(), O_CLOEXEC);
        if (fd >= 0) ::fchmod(fd, 0644);
    }
    if (fd < 0) {
        setError(error, errnoText(imagePath));
        return false;
    }
    const auto failWith = [&](const std::string& text) {
        setError(error, text);
        ::close(fd);
        if (!direct) ::unlink(tmp.c_str());
        return false;
    };
    constexpr std::uint32_t kChunk = 256;
    std::vector<std::uint8_t> buffer(std::size_t{kChunk} * 2048);
    const std::uint32_t end = first + blocks;
    for (std::uint32_t lba = first; lba < end; lba += kChunk) {
        const std::uint32_t count = std::min(kChunk, end - lba);
        if (!disc.readBlocks(lba, count, buffer.data())) {
            return failWith(errnoText(layout.readOnly() ? layout.imagePath : disc.path() + ".data"));
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!layout.isReadable(lba + i)) std::fill_n(buffer.begin() + std::size_t{i} * 2048, 2048, 0);
        }
        if (!writeAll(fd, buffer.data(), std::size_t{count} * 2048)) return failWith(errnoText(imagePath));
    }
    if (!direct && ::fsync(fd) != 0) return failWith(errnoText(imagePath));
    if (::close(fd) != 0) {
        if (!direct) ::unlink(tmp.c_str());
        setError(error, errnoText(imagePath));
        return false;
    }
    if (!direct && ::rename(tmp.c_str(), imagePath.c_str()) != 0) {
        setError(error, errnoText(imagePath));
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace velk::vrec

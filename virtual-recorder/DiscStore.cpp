// POSIX file calls (pread/pwrite on a sparse file, fdatasync, rename) are
// used directly: the recorder is a stand-alone library and its crash safety
// rests on exactly these calls.
#include "virtual-recorder/DiscStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace velk::vrec {

namespace {

constexpr std::uint32_t kBlock = 2048;
constexpr const char* kMagic = "velk-virtual-disc 1";

void setError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

std::string errnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool syncDirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    ::fsync(fd);
    ::close(fd);
    return true;
}

}  // namespace

DiscStore::~DiscStore() {
    if (dataFd_ >= 0) ::close(dataFd_);
}

std::string DiscStore::layoutText(const DiscLayout& d) {
    std::ostringstream out;
    out << kMagic << '\n';
    out << "medium " << d.info().name << '\n';
    out << "capacity " << d.capacity << '\n';
    out << "formatted " << d.formattedBlocks << '\n';
    out << "finalized " << (d.finalized ? 1 : 0) << '\n';
    out << "closed-sessions " << d.closedSessions << '\n';
    out << "minimally-blanked " << (d.minimallyBlanked ? 1 : 0) << '\n';
    out << "underruns " << d.underruns << '\n';
    if (!d.imagePath.empty()) out << "image " << d.imagePath << '\n';
    out << "# track number session start nwa size reserved closed fixed-packet packet-size\n";
    for (const auto& t : d.tracks) {
        out << "track " << t.number << ' ' << t.session << ' ' << t.start << ' ' << t.nwa << ' ' << t.size << ' '
            << (t.reserved ? 1 : 0) << ' ' << (t.closed ? 1 : 0) << ' ' << (t.fixedPacket ? 1 : 0) << ' '
            << t.packetSize << '\n';
    }
    return out.str();
}

std::optional<DiscLayout> DiscStore::parseLayout(const std::string& text, std::string* error) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) {
        setError(error, "not a virtual disc file");
        return std::nullopt;
    }
    DiscLayout d;
    d.tracks.clear();
    bool haveMedium = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        bool ok = true;
        if (key == "medium") {
            std::string name;
            fields >> name;
            const auto kind = mediumFromName(name);
            ok = kind.has_value();
            if (ok) d.medium = *kind;
            haveMedium = ok;
        } else if (key == "capacity") {
            ok = static_cast<bool>(fields >> d.capacity);
        } else if (key == "formatted") {
            ok = static_cast<bool>(fields >> d.formattedBlocks);
        } else if (key == "finalized") {
            int v = 0;
            ok = static_cast<bool>(fields >> v);
            d.finalized = v != 0;
        } else if (key == "closed-sessions") {
            ok = static_cast<bool>(fields >> d.closedSessions);
        } else if (key == "minimally-blanked") {
            int v = 0;
            ok = static_cast<bool>(fields >> v);
            d.minimallyBlanked = v != 0;
        } else if (key == "underruns") {
            ok = static_cast<bool>(fields >> d.underruns);
        } else if (key == "image") {
            std::getline(fields >> std::ws, d.imagePath);
        } else if (key == "track") {
            Track t;
            int reserved = 0, closed = 0, fixed = 0;
            ok = static_cast<bool>(fields >> t.number >> t.session >> t.start >> t.nwa >> t.size >> reserved >>
                                   closed >> fixed >> t.packetSize);
            t.reserved = reserved != 0;
            t.closed = closed != 0;
            t.fixedPacket = fixed != 0;
            ok = ok && t.nwa >= t.start;
            d.tracks.push_back(t);
        } else {
            ok = false;
        }
        if (!ok) {
            setError(error, "malformed line in virtual disc file: " + line);
            return std::nullopt;
        }
    }
    if (!haveMedium || d.capacity == 0) {
        setError(error, "virtual disc file names no medium or capacity");
        return std::nullopt;
    }
    for (const auto& t : d.tracks) {
        if (t.nwa > d.capacity) {
            setError(error, "track beyond the disc's capacity in virtual disc file");
            return std::nullopt;
        }
    }
    return d;
}

bool DiscStore::openData(std::string* error) {
    if (layout_.readOnly()) {
        dataFd_ = ::open(layout_.imagePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (dataFd_ < 0) setError(error, errnoText("cannot open image", layout_.imagePath));
    } else {
        const std::string data = path_ + ".data";
        dataFd_ = ::open(data.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (dataFd_ < 0) setError(error, errnoText("cannot open", data));
    }
    return dataFd_ >= 0;
}

std::unique_ptr<DiscStore> DiscStore::create(const std::string& path, MediumKind kind, std::uint32_t capacity,
                                             std::string* error) {
    if (mediumInfo(kind).recording == Recording::ReadOnly) {
        setError(error, "a read-only disc needs an image file");
        return nullptr;
    }
    std::unique_ptr<DiscStore> store(new DiscStore);
    store->path_ = path;
    store->layout_ = DiscLayout::fresh(kind, capacity);
    ::unlink((path + ".data").c_str());
    if (!store->openData(error)) return nullptr;
    if (!store->save(error)) return nullptr;
    return store;
}

std::unique_ptr<DiscStore> DiscStore::createPressed(const std::string& path, MediumKind kind,
                                                    const std::string& imagePath, std::string* error) {
    if (mediumInfo(kind).recording != Recording::ReadOnly) {
        setError(error, "only CD-ROM and DVD-ROM discs are made from an image");
        return nullptr;
    }
    struct stat st {};
    if (::stat(imagePath.c_str(), &st) != 0) {
        setError(error, errnoText("cannot read", imagePath));
        return nullptr;
    }
    const std::uint64_t blocks = (static_cast<std::uint64_t>(st.st_size) + kBlock - 1) / kBlock;
    if (blocks == 0 || blocks > 0xFFFFFFFFu) {
        setError(error, "image file is empty or too large: " + imagePath);
        return nullptr;
    }
    std::unique_ptr<DiscStore> store(new DiscStore);
    store->path_ = path;
    store->layout_ = DiscLayout::pressed(kind, static_cast<std::uint32_t>(blocks), imagePath);
    if (!store->openData(error)) return nullptr;
    if (!store->save(error)) return nullptr;
    return store;
}

std::unique_ptr<DiscStore> DiscStore::open(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setError(error, errnoText("cannot open", path));
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto layout = parseLayout(text.str(), error);
    if (!layout) return nullptr;
    std::unique_ptr<DiscStore> store(new DiscStore);
    store->path_ = path;
    store->layout_ = std::move(*layout);
    if (!store->openData(error)) return nullptr;
    return store;
}

bool DiscStore::save(std::string* error) {
    if (dataFd_ >= 0 && !layout_.readOnly() && ::fdatasync(dataFd_) != 0) {
        setError(error, errnoText("cannot sync", path_ + ".data"));
        return false;
    }
    const std::string tmp = path_ + ".tmp";
    const std::string text = layoutText(layout_);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        setError(error, errnoText("cannot write", tmp));
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            setError(error, errnoText("cannot write", tmp));
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || ::rename(tmp.c_str(), path_.c_str()) != 0) {
        setError(error, errnoText("cannot replace", path_));
        return false;
    }
    syncDirectoryOf(path_);
    return true;
}

bool DiscStore::readBlocks(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) const {
    std::size_t total = std::size_t{count} * kBlock;
    std::memset(out, 0, total);
    off_t offset = static_cast<off_t>(lba) * kBlock;
    std::size_t done = 0;
    while (done < total) {
        const ssize_t n = ::pread(dataFd_, out + done, total - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // beyond the end of the sparse file: zeros
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool DiscStore::writeBlocks(std::uint32_t lba, std::uint32_t count, const std::uint8_t* data) {
    if (layout_.readOnly()) return false;
    const std::size_t total = std::size_t{count} * kBlock;
    const off_t offset = static_cast<off_t>(lba) * kBlock;
    std::size_t done = 0;
    while (done < total) {
        const ssize_t n = ::pwrite(dataFd_, data + done, total - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool DiscStore::discardData() {
    if (layout_.readOnly()) return false;
    return ::ftruncate(dataFd_, 0) == 0;
}

std::optional<Sense> DiscStore::writeSessionDirect(std::span<const std::uint8_t> data, bool appendable,
                                                   std::uint32_t overwriteAt) {
    const auto blocks = static_cast<std::uint32_t>((data.size() + kBlock - 1) / kBlock);
    std::vector<std::uint8_t> padded(std::size_t{blocks} * kBlock, 0);
    std::memcpy(padded.data(), data.data(), data.size());
    std::uint32_t lba = overwriteAt;
    if (layout_.sequential()) {
        const Track* t = layout_.invisibleTrack();
        if (t == nullptr) return sense::InvalidAddressForWrite;
        lba = t->nwa;
    }
    if (auto refusal = layout_.checkWrite(lba, blocks)) return refusal;
    if (!writeBlocks(lba, blocks, padded.data())) return sense::WriteError;
    layout_.recordWrite(lba, blocks, {});
    if (layout_.sequential()) {
        if (auto refusal = layout_.closeSession(appendable)) return refusal;
    }
    if (!save()) return sense::WriteError;
    return std::nullopt;
}

}  // namespace velk::vrec

// POSIX file calls (pread/pwrite on a sparse file, fdatasync, rename) are
// used directly: the recorder is a stand-alone library and its crash safety
// rests on exactly these calls.
#include "virtual-recorder/DiscStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace velk::vrec {

namespace {

constexpr std::uint32_t kBlock = 2048;
constexpr std::size_t kPageBytes = 4096;
constexpr const char* kMagic = "velk-virtual-disc 2";
constexpr const char* kEnd = "end";

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
    out << "tray " << (d.trayOpen ? "open" : "closed") << '\n';
    if (!d.imagePath.empty()) out << "image " << d.imagePath << '\n';
    out << "# track number session start nwa size reserved closed fixed-packet packet-size\n";
    for (const auto& t : d.tracks) {
        out << "track " << t.number << ' ' << t.session << ' ' << t.start << ' ' << t.nwa << ' ' << t.size << ' '
            << (t.reserved ? 1 : 0) << ' ' << (t.closed ? 1 : 0) << ' ' << (t.fixedPacket ? 1 : 0) << ' '
            << t.packetSize << '\n';
    }
    // The last line: a file without it was cut short.
    out << kEnd << '\n';
    return out.str();
}

namespace {

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; in >> field;) fields.push_back(field);
    return fields;
}

// A block count or number as the writer writes it: decimal digits only, no
// sign, within 32 bits. Stream extraction would take "-1" as 4294967295.
bool parseNumber(const std::string& text, std::uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const unsigned long long n = std::stoull(text);
    if (n > 0xFFFFFFFFull) return false;
    value = static_cast<std::uint32_t>(n);
    return true;
}

bool parseFlag(const std::string& text, bool& value) {
    if (text != "0" && text != "1") return false;
    value = text == "1";
    return true;
}

// What makes a layout one the recorder can work on: tracks numbered from 1
// in order of their place on the disc, none beyond the capacity or over
// another, sessions in order, and the fields that go together agreeing.
std::optional<std::string> layoutFault(const DiscLayout& d) {
    if (d.capacity == 0) return "the capacity is 0";
    if (d.formattedBlocks > d.capacity) return "more blocks formatted than the disc holds";
    if (d.readOnly() != !d.imagePath.empty()) {
        return d.readOnly() ? "a pressed disc names no image file" : "only a pressed disc names an image file";
    }
    if (d.tracks.empty()) return "the disc has no track";
    if (d.closedSessions > d.tracks.back().session) return "more sessions closed than the tracks hold";
    if (d.finalized && d.sequential() && d.closedSessions == 0) return "a finalised disc without a session";
    std::uint64_t previousEnd = 0;
    std::uint32_t previousSession = 1;
    for (std::size_t i = 0; i < d.tracks.size(); ++i) {
        const Track& t = d.tracks[i];
        const std::string which = "track " + std::to_string(t.number);
        if (t.number != i + 1) return which + " is out of order";
        if (t.session == 0 || t.session < previousSession) return which + ": its session is out of order";
        if (d.sequential() && t.session > d.closedSessions + 1) return which + ": its session is out of order";
        if (t.nwa < t.start) return which + ": its next writable block lies before its start";
        if (t.nwa > d.capacity) return which + " ends beyond the disc's capacity";
        const std::uint64_t end = (t.closed || t.reserved) ? std::uint64_t{t.start} + t.size : t.nwa;
        if (end > d.capacity) return which + " ends beyond the disc's capacity";
        if (t.start < previousEnd) return which + " overlaps the track before it";
        if (t.reserved && t.nwa > end) return which + " holds more than it reserves";
        previousEnd = end;
        previousSession = t.session;
    }
    return std::nullopt;
}

}  // namespace

std::optional<DiscLayout> DiscStore::parseLayout(const std::string& text, std::string* error) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) {
        // The first format had no end line and no tray state: its files
        // cannot be told from cut ones.
        setError(error, line == "velk-virtual-disc 1" ? "a disc file of an earlier format; make it again with vdisc create"
                                                      : "not a virtual disc file");
        return std::nullopt;
    }
    DiscLayout d;
    d.tracks.clear();
    std::vector<std::string> seen;
    bool ended = false;
    for (int number = 2; std::getline(in, line); ++number) {
        if (ended) {
            setError(error, "line " + std::to_string(number) + " follows the end line");
            return std::nullopt;
        }
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> fields = splitFields(line);
        const std::string key = fields.empty() ? std::string() : fields[0];
        const auto value = [&](std::size_t i) -> const std::string& {
            static const std::string none;
            return i < fields.size() ? fields[i] : none;
        };
        if (key != "track") {
            if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
                setError(error, "line " + std::to_string(number) + " repeats \"" + key + "\"");
                return std::nullopt;
            }
            seen.push_back(key);
        }
        // Every line but a track and an image path holds its key and one value.
        bool ok = fields.size() == 2;
        if (key == kEnd) {
            ok = fields.size() == 1 && line == kEnd;
            ended = true;
        } else if (key == "medium") {
            const auto kind = mediumFromName(value(1));
            ok = ok && kind.has_value();
            if (ok) d.medium = *kind;
        } else if (key == "capacity") {
            ok = ok && parseNumber(value(1), d.capacity);
        } else if (key == "formatted") {
            ok = ok && parseNumber(value(1), d.formattedBlocks);
        } else if (key == "finalized") {
            ok = ok && parseFlag(value(1), d.finalized);
        } else if (key == "closed-sessions") {
            ok = ok && parseNumber(value(1), d.closedSessions);
        } else if (key == "minimally-blanked") {
            ok = ok && parseFlag(value(1), d.minimallyBlanked);
        } else if (key == "underruns") {
            ok = ok && parseNumber(value(1), d.underruns);
        } else if (key == "tray") {
            ok = ok && (value(1) == "open" || value(1) == "closed");
            d.trayOpen = value(1) == "open";
        } else if (key == "image") {
            d.imagePath = line.size() > 6 ? line.substr(6) : std::string();
            ok = line.compare(0, 6, "image ") == 0 && !d.imagePath.empty();
        } else if (key == "track") {
            Track t;
            ok = fields.size() == 10 && parseNumber(fields[1], t.number) && parseNumber(fields[2], t.session) &&
                 parseNumber(fields[3], t.start) && parseNumber(fields[4], t.nwa) &&
                 parseNumber(fields[5], t.size) && parseFlag(fields[6], t.reserved) &&
                 parseFlag(fields[7], t.closed) && parseFlag(fields[8], t.fixedPacket) &&
                 parseNumber(fields[9], t.packetSize);
            d.tracks.push_back(t);
        } else {
            ok = false;
        }
        if (!ok) {
            setError(error, "line " + std::to_string(number) + " is malformed: \"" + line + "\"");
            return std::nullopt;
        }
    }
    if (!ended) {
        setError(error, "the file is cut short (it has no end line)");
        return std::nullopt;
    }
    for (const char* key : {"medium", "capacity", "formatted", "finalized", "closed-sessions", "minimally-blanked",
                            "underruns", "tray"}) {
        if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
            setError(error, std::string("the file has no \"") + key + "\" line");
            return std::nullopt;
        }
    }
    if (auto fault = layoutFault(d)) {
        setError(error, "inconsistent layout: " + *fault);
        return std::nullopt;
    }
    return d;
}

bool DiscStore::openData(bool create, std::string* error) {
    if (layout_.readOnly()) {
        dataFd_ = ::open(layout_.imagePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (dataFd_ < 0) setError(error, errnoText("cannot open the image", layout_.imagePath));
    } else {
        // An existing disc without its data file has lost its blocks: refuse
        // it rather than make an empty one that reads as zeros.
        // A new disc gets a new data file: one that was there (a link, a
        // file shared with another name) is unlinked, never truncated.
        const std::string data = path_ + ".data";
        if (create) ::unlink(data.c_str());
        const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
        dataFd_ = ::open(data.c_str(), flags, 0644);
        // A disc the user may only read (a shared or write-protected copy)
        // can still be looked at and exported; writing it then fails.
        if (dataFd_ < 0 && !create && (errno == EACCES || errno == EROFS || errno == EPERM)) {
            dataFd_ = ::open(data.c_str(), O_RDONLY | O_CLOEXEC);
        }
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
    if (!store->openData(true, error)) return nullptr;
    if (!store->save(error)) return nullptr;
    return store;
}

std::unique_ptr<DiscStore> DiscStore::createPressed(const std::string& path, MediumKind kind,
                                                    const std::string& imagePath, std::string* error) {
    if (mediumInfo(kind).recording != Recording::ReadOnly) {
        setError(error, "only CD-ROM and DVD-ROM discs are made from an image");
        return nullptr;
    }
    // The disc file may be used from another folder: keep where the image is,
    // not how it was named from here.
    if (imagePath.find('\n') != std::string::npos) {
        setError(error, "an image path with a line break cannot be kept in a disc file");
        return nullptr;
    }
    std::error_code failed;
    const std::string image = std::filesystem::absolute(imagePath, failed).lexically_normal().string();
    struct stat st {};
    if (failed || ::stat(image.c_str(), &st) != 0) {
        setError(error, errnoText("cannot read", imagePath));
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, imagePath + ": not a regular file");
        return nullptr;
    }
    const std::uint64_t blocks = (static_cast<std::uint64_t>(st.st_size) + kBlock - 1) / kBlock;
    if (blocks == 0 || blocks > 0xFFFFFFFFu) {
        setError(error, imagePath + ": the image is empty or too large");
        return nullptr;
    }
    std::unique_ptr<DiscStore> store(new DiscStore);
    store->path_ = path;
    store->layout_ = DiscLayout::pressed(kind, static_cast<std::uint32_t>(blocks), image);
    if (!store->openData(false, error)) return nullptr;
    if (!store->save(error)) return nullptr;
    return store;
}

namespace {

// Larger than any layout the recorder writes: a file beyond it is something else.
constexpr std::size_t kLayoutLimit = 4u * 1024 * 1024;

bool readLayoutFile(const std::string& path, std::string& text, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setError(error, errnoText("cannot open", path));
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            setError(error, errnoText("cannot read", path));
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kLayoutLimit) break;
    }
    ::close(fd);
    return true;
}

}  // namespace

std::unique_ptr<DiscStore> DiscStore::open(const std::string& path, std::string* error) {
    std::string text;
    if (!readLayoutFile(path, text, error)) return nullptr;
    std::string why;
    auto layout = text.size() > kLayoutLimit ? std::nullopt : parseLayout(text, &why);
    if (!layout) {
        setError(error, path + ": " + (why.empty() ? std::string("not a virtual disc file") : why));
        return nullptr;
    }
    std::unique_ptr<DiscStore> store(new DiscStore);
    store->path_ = path;
    store->layout_ = std::move(*layout);
    store->savedText_ = std::move(text);
    if (!store->openData(false, error)) return nullptr;
    return store;
}

bool DiscStore::save(std::string* error) {
    if (dataDirty_ && dataFd_ >= 0 && !layout_.readOnly()) {
        if (::fdatasync(dataFd_) != 0) {
            setError(error, errnoText("cannot sync", path_ + ".data"));
            return false;
        }
        dataDirty_ = false;
    }
    // Nothing changed: the file stays as it is, so a program that only looks
    // at a disc never rewrites it.
    std::string text = layoutText(layout_);
    if (text == savedText_) return true;
    const std::string tmp = path_ + ".tmp";
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
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        setError(error, errnoText("cannot write", tmp));
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path_.c_str()) != 0) {
        setError(error, errnoText("cannot replace", path_));
        ::unlink(tmp.c_str());
        return false;
    }
    syncDirectoryOf(path_);
    savedText_ = std::move(text);
    return true;
}

bool DiscStore::readBlocks(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) const {
    std::size_t total = std::size_t{count} * kBlock;
    off_t offset = static_cast<off_t>(lba) * kBlock;
    std::size_t done = 0;
    while (done < total) {
        const ssize_t n = ::pread(dataFd_, out + done, total - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // beyond the end of the sparse file: zeros
        done += static_cast<std::size_t>(n);
    }
    std::memset(out + done, 0, total - done);
    return true;
}

bool DiscStore::writeBlocks(std::uint32_t lba, std::uint32_t count, const std::uint8_t* data) {
    if (layout_.readOnly()) return false;
    const std::size_t total = std::size_t{count} * kBlock;
    const off_t offset = static_cast<off_t>(lba) * kBlock;
    std::size_t done = 0;
    while (done < total) {
        // The first page goes on its own, as stdio splits the image job's
        // writes. A whole 64 KiB write at a 64 KiB boundary lets the kernel
        // give it one large page-cache folio, and on the virtual machines
        // we measure on those came from memory the host had to map again:
        // the copy into them ran up to twenty times slower, and a burn
        // took twice as long as writing the same image to a file.
        const std::size_t piece = done == 0 && total > kPageBytes ? kPageBytes : total - done;
        const ssize_t n = ::pwrite(dataFd_, data + done, piece, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        dataDirty_ = true;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool DiscStore::discardData() {
    if (layout_.readOnly()) return false;
    dataDirty_ = true;
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

#include "engine/image/SessionImport.h"

#include <array>
#include <cstring>
#include <string>
#include <unordered_set>

#include "engine/core/Media.h"
#include "engine/core/TraceLog.h"
#include "engine/device/DeviceOperations.h"
#include "engine/device/MmcCommands.h"
#include "engine/device/RecorderClaim.h"
#include "engine/image/Endian.h"
#include "engine/image/Layout.h"
#include "engine/image/SourceTree.h"
#include "platform/DeviceNode.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace velk::image {
namespace {

// Volume descriptor fields (ECMA-119 8.4).
constexpr std::size_t DescriptorType = 0;
constexpr std::size_t DescriptorVolumeSize = 80;
constexpr std::size_t DescriptorRootRecord = 156;
constexpr std::size_t DescriptorFileStructureVersion = 881;
constexpr std::uint8_t PrimaryDescriptor = 1;
constexpr std::uint8_t SupplementaryDescriptor = 2;
constexpr std::uint8_t TerminatorDescriptor = 255;
constexpr std::uint32_t FirstDescriptorBlock = 16;
constexpr std::uint32_t DescriptorBlocks = 16;

// Directory record fields (ECMA-119 9.1).
constexpr std::size_t RecordLength = 0;
constexpr std::size_t RecordAttributeLength = 1;
constexpr std::size_t RecordExtent = 2;
constexpr std::size_t RecordDataLength = 10;
constexpr std::size_t RecordDate = 18;
constexpr std::size_t RecordFlags = 25;
constexpr std::size_t RecordIdentifierLength = 32;
constexpr std::size_t RecordIdentifier = 33;
constexpr std::size_t MinRecordLength = 34;
// A record begins below this offset: the shortest record must fit the block.
constexpr std::size_t LastRecordOffset = BlockBytes - MinRecordLength + 1;  // 2015

constexpr std::uint8_t FlagDirectory = 0x02;
constexpr std::uint8_t FlagAssociated = 0x04;
constexpr std::uint8_t FlagMultiExtent = 0x80;

enum class NameForm { Ucs2, EightBit, Primary };

struct DirectoryRecordView {
    std::uint32_t extent = 0;
    std::uint32_t dataLength = 0;
    std::uint8_t attributeBlocks = 0;
    std::uint8_t flags = 0;
    const std::uint8_t* date = nullptr;
    const std::uint8_t* identifier = nullptr;
    std::uint8_t identifierLength = 0;
};

// The record at `offset` of a directory block, when it lies whole inside the
// block; nullopt for the end of the block's records (length 0) or a record
// that cannot be sound. `length` gets the record's length (0 to end).
std::optional<DirectoryRecordView> recordAt(const std::uint8_t* block, std::size_t offset, std::size_t& length) {
    length = block[offset + RecordLength];
    if (length == 0) return std::nullopt;
    if (length < MinRecordLength || offset + length > BlockBytes) {
        length = 0;
        return std::nullopt;
    }
    const std::uint8_t* record = block + offset;
    DirectoryRecordView view;
    view.identifierLength = record[RecordIdentifierLength];
    if (view.identifierLength == 0 || RecordIdentifier + view.identifierLength > length) {
        length = 0;
        return std::nullopt;
    }
    view.extent = getLe32(record + RecordExtent);
    view.dataLength = getLe32(record + RecordDataLength);
    view.attributeBlocks = record[RecordAttributeLength];
    view.flags = record[RecordFlags];
    view.date = record + RecordDate;
    view.identifier = record + RecordIdentifier;
    return view;
}

bool isDotEntry(const DirectoryRecordView& record) {
    return record.identifierLength == 1 && (record.identifier[0] == 0 || record.identifier[0] == 1);
}

// Days from 1970-01-01 to a civil date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// The record's date (ECMA-119 9.1.5) as a file time. The offset byte is
// applied: the recorded time is local to it, and a date read without it
// would move by the offset at every new session. An impossible date gives
// the present time.
std::uint64_t recordFileTime(const std::uint8_t* date) {
    const unsigned month = date[1], day = date[2], hour = date[3], minute = date[4], second = date[5];
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return platform::currentFileTime();
    }
    int offsetQuarters = static_cast<std::int8_t>(date[6]);
    if (offsetQuarters < -48 || offsetQuarters > 52) offsetQuarters = 0;
    std::int64_t seconds = daysFromCivil(1900 + std::int64_t{date[0]}, month, day) * 86400 + hour * 3600 +
                           minute * 60 + second - offsetQuarters * 15 * 60;
    return platform::unixToFileTime(seconds, 0);
}

// The entry's name as the import adds it; empty when nothing is left of it.
std::u16string recordName(const DirectoryRecordView& record, NameForm form, bool folder) {
    std::u16string name;
    if (form == NameForm::Ucs2) {
        // An odd last byte is half a unit: left out.
        for (std::size_t i = 0; i + 1 < record.identifierLength; i += 2) {
            name.push_back(static_cast<char16_t>((record.identifier[i] << 8) | record.identifier[i + 1]));
        }
        std::size_t version = name.find(u';');
        if (version != std::u16string::npos) name.resize(version);
    } else {
        name = platform::toUtf16(std::string_view(reinterpret_cast<const char*>(record.identifier),
                                                  record.identifierLength));
        // ";" and a version number end a file identifier.
        std::size_t version = name.rfind(u';');
        if (version != std::u16string::npos &&
            name.find_first_not_of(u"0123456789", version + 1) == std::u16string::npos) {
            name.resize(version);
        }
    }
    // "NAME." is a file without an extension.
    if (!folder && name.size() > 1 && name.back() == u'.') name.pop_back();
    // A name is one path component: separators and NUL cannot be part of it.
    for (char16_t& unit : name) {
        if (unit == u'/' || unit == u'\\' || unit == 0) unit = u'_';
    }
    return name;
}

struct PendingDirectory {
    FolderNode* folder = nullptr;
    std::uint32_t extent = 0;
    std::uint32_t dataLength = 0;
    std::uint32_t depth = 0;
};

// Sections of a file recorded in several records (multi-extent) collected
// until its last one.
struct PendingSections {
    bool active = false;
    std::u16string name;
    std::uint32_t firstExtent = 0;
    std::uint32_t nextExtent = 0;
    std::uint64_t size = 0;
    bool sound = true;
};

class TreeImport {
public:
    TreeImport(ImageProject& project, const BlockReader& read, std::uint32_t volumeEnd, NameForm form,
               ImportReport& report)
        : project_(project), read_(read), volumeEnd_(volumeEnd), form_(form), report_(report) {
        budget_ = volumeEnd < MaxImportDirectoryBlocks ? volumeEnd : MaxImportDirectoryBlocks;
    }

    void run(FolderNode* target, std::uint32_t rootExtent, std::uint32_t rootLength) {
        queueDirectory(target, rootExtent, rootLength, 0);
        while (!pending_.empty() && !stopped_) {
            PendingDirectory directory = pending_.back();
            pending_.pop_back();
            importDirectory(directory);
        }
    }

private:
    bool full() const {
        return project_.itemCount() >= MaxItems || project_.folderCount() >= MaxFolders;
    }

    void stopAtLimit() {
        project_.pendingError = ErrProjectFull;
        report_.stoppedAtLimit = true;
        stopped_ = true;
        trace::write("Session import stopped: the project is full\n");
    }

    void skip(const char* why, std::u16string_view name = {}) {
        ++report_.skippedRecords;
        trace::write("Session import skips %s%s%s\n", why, name.empty() ? "" : ": ",
                     platform::toUtf8(name).c_str());
    }

    void queueDirectory(FolderNode* folder, std::uint32_t extent, std::uint32_t dataLength, std::uint32_t depth) {
        if (extent == 0 || extent >= volumeEnd_) return skip("a directory outside the volume");
        if (depth > MaxImportDepth) return skip("a directory nested too deep");
        // A directory that is entered again (a loop back to an ancestor, two
        // records of one extent) would repeat its tree.
        if (visited_.size() >= static_cast<std::size_t>(MaxFolders)) return skip("a directory beyond the folder limit");
        if (!visited_.insert(extent).second) return skip("a directory already read");
        pending_.push_back({folder, extent, dataLength, depth});
    }

    void importDirectory(const PendingDirectory& directory) {
        std::uint64_t blocks = blocksFor(directory.dataLength);
        if (blocks > volumeEnd_ - directory.extent) {
            skip("the part of a directory past the volume's end");
            blocks = volumeEnd_ - directory.extent;
        }
        std::array<std::uint8_t, BlockBytes> block;
        sections_ = PendingSections{};
        for (std::uint64_t index = 0; index < blocks && !stopped_; ++index) {
            if (budget_ == 0) {
                skip("directory blocks beyond the import's budget");
                stopped_ = true;
                break;
            }
            --budget_;
            const auto lba = static_cast<std::uint32_t>(directory.extent + index);
            if (!read_(lba, block.data())) {
                ++report_.unreadBlocks;
                trace::write("Session import cannot read block %u\n", lba);
                continue;
            }
            std::size_t offset = 0;
            std::size_t length = 0;
            while (offset < LastRecordOffset && !stopped_) {
                std::optional<DirectoryRecordView> record = recordAt(block.data(), offset, length);
                if (!record) {
                    if (length == 0 && block[offset] != 0) skip("a malformed directory record");
                    break;
                }
                offset += length;
                // "." and ".." (the first two records) name the directory and
                // its parent, never an entry.
                if (isDotEntry(*record)) continue;
                importRecord(directory, *record);
            }
        }
        if (sections_.active) skip("a file whose last section is missing", sections_.name);
    }

    void importRecord(const PendingDirectory& directory, const DirectoryRecordView& record) {
        const bool folder = (record.flags & FlagDirectory) != 0;
        if (record.flags & FlagAssociated) return skip("an associated file");
        std::u16string name = recordName(record, form_, folder);
        if (name.empty()) return skip("an entry without a name");
        if (full()) return stopAtLimit();

        platform::FindData find;
        find.attributes = folder ? platform::AttrDirectory : 0;
        platform::setFileName(find, name);
        find.lastWriteTime = find.creationTime = find.lastAccessTime = recordFileTime(record.date);

        if (folder) {
            importFolder(directory, record, find, name);
        } else {
            importFile(directory, record, find, name);
        }
    }

    void importFolder(const PendingDirectory& directory, const DirectoryRecordView& record,
                      const platform::FindData& find, const std::u16string& name) {
        if (sections_.active) skip("a file whose last section is missing", sections_.name);
        sections_ = PendingSections{};
        const std::int32_t foldersBefore = project_.folderCount();
        FolderNode* created = createFolder(project_, folderPath(directory.folder), name);
        if (!created) {
            if (full()) return stopAtLimit();
            return skip("a folder that cannot be added", name);
        }
        if (project_.folderCount() != foldersBefore && created->item) {
            const platform::LocalTime date = platform::fileTimeToLocalTime(find.lastWriteTime);
            created->item->date = date.time;
            created->item->utcOffsetMinutes = date.utcOffsetMinutes;
            ++report_.folders;
        }
        queueDirectory(created, record.extent, record.dataLength, directory.depth + 1);
    }

    void importFile(const PendingDirectory& directory, const DirectoryRecordView& record, platform::FindData find,
                    const std::u16string& name) {
        const std::uint64_t start = std::uint64_t{record.extent} + record.attributeBlocks;
        const bool more = (record.flags & FlagMultiExtent) != 0;
        if (sections_.active && !platform::equalsIgnoreCase(sections_.name, name)) {
            skip("a file whose last section is missing", sections_.name);
            sections_ = PendingSections{};
        }
        if (!sections_.active) {
            sections_.name = name;
            sections_.firstExtent = static_cast<std::uint32_t>(start);
            sections_.nextExtent = sections_.firstExtent;
            sections_.size = 0;
            sections_.sound = start <= UINT32_MAX;
        }
        // The import keeps one extent per file: its sections must follow
        // each other, every one but the last of whole blocks.
        if (start != sections_.nextExtent || (more && record.dataLength % BlockBytes != 0)) sections_.sound = false;
        sections_.size += record.dataLength;
        sections_.nextExtent = static_cast<std::uint32_t>(start + blocksFor(record.dataLength));
        if (more) {
            sections_.active = true;
            return;
        }
        PendingSections file = sections_;
        sections_ = PendingSections{};
        if (!file.sound) return skip("a file whose sections do not follow each other", name);

        std::uint32_t fixedBlock = file.firstExtent;
        if (file.size == 0) {
            // An empty file has no data to point at.
            fixedBlock = fixedBlock < volumeEnd_ ? fixedBlock : 0;
        } else {
            if (fixedBlock == 0 || fixedBlock >= volumeEnd_ || blocksFor(file.size) > volumeEnd_ - fixedBlock) {
                return skip("a file whose data lies outside the volume", name);
            }
        }
        // A file cannot take the place of a folder of the same name.
        if (findFolder(project_, folderPath(directory.folder) + name)) {
            return skip("a file named like a folder beside it", name);
        }
        find.sizeHigh = static_cast<std::uint32_t>(file.size >> 32);
        find.sizeLow = static_cast<std::uint32_t>(file.size);
        if (!insertItem(project_, directory.folder, find, {}, fixedBlock, 1)) {
            if (full()) return stopAtLimit();
            ++report_.skippedRecords;  // the insertion set pendingError (a name too long)
            return;
        }
        ++report_.files;
    }

    ImageProject& project_;
    const BlockReader& read_;
    std::uint32_t volumeEnd_;
    NameForm form_;
    ImportReport& report_;
    std::uint32_t budget_ = 0;
    bool stopped_ = false;
    std::vector<PendingDirectory> pending_;
    std::unordered_set<std::uint32_t> visited_;
    PendingSections sections_;
};

bool isDescriptor(const std::uint8_t* block, std::uint8_t type) {
    return block[DescriptorType] == type && std::memcmp(block + 1, "CD001", 5) == 0;
}

// The device node stays open across the reads; afterwards the device is as
// it was (its close-after-command setting, a node that was closed closed).
class NodeKeptOpen {
public:
    explicit NodeKeptOpen(RecorderDevice& device)
        : device_(device), closeAfterCommand_(device.closeAfterCommand), wasOpen_(device.deviceHandle >= 0) {
        device.closeAfterCommand = 0;
    }
    ~NodeKeptOpen() {
        device_.closeAfterCommand = closeAfterCommand_;
        if (!wasOpen_ && device_.deviceHandle >= 0 && platform::closeDeviceNode(device_.deviceHandle)) {
            device_.deviceHandle = -1;
        }
    }
    NodeKeptOpen(const NodeKeptOpen&) = delete;
    NodeKeptOpen& operator=(const NodeKeptOpen&) = delete;

private:
    RecorderDevice& device_;
    std::int32_t closeAfterCommand_;
    bool wasOpen_;
};

// Where session `session` begins by the table of contents, for a drive that
// refuses READ TRACK INFORMATION (many read-only ones do): format 1 names
// the first track of the last complete session, format 0 the start of track
// 1, which opens session 1. LBA addresses.
std::optional<std::uint32_t> tocSessionStart(RecorderDevice& device, std::uint8_t session) {
    constexpr std::uint32_t TocBytes = 12;  // the header and one track descriptor
    constexpr std::size_t LastSession = 3, DescriptorTrack = 6, DescriptorAddress = 8;
    std::array<std::uint8_t, TocBytes> toc{};
    if (mmc::ReadTocPmaAtip(device, 1, 0, 0, toc.data(), TocBytes) &&
        mmc::responseBytes(device, TocBytes) >= TocBytes && toc[LastSession] == session) {
        return getBe32(toc.data() + DescriptorAddress);
    }
    toc.fill(0);
    if (session == 1 && mmc::ReadTocPmaAtip(device, 0, 0, 1, toc.data(), TocBytes) &&
        mmc::responseBytes(device, TocBytes) >= TocBytes && toc[DescriptorTrack] == 1) {
        return getBe32(toc.data() + DescriptorAddress);
    }
    return std::nullopt;
}

BlockReader deviceReader(RecorderDevice& device) {
    return [&device](std::uint32_t lba, std::uint8_t* block) { return mmc::Read10(device, lba, 1, block) != 0; };
}

}  // namespace

ImportReport importSessionTree(ImageProject& project, const BlockReader& read, std::uint32_t sessionStart,
                               std::uint32_t discBlocks, FolderNode* target) {
    ImportReport report;
    if (!target) return report;
    std::array<std::uint8_t, BlockBytes> block;
    std::array<std::uint8_t, BlockBytes> primary;
    bool primaryFound = false;
    bool supplementaryFound = false;
    for (std::uint32_t i = 0; i < DescriptorBlocks; ++i) {
        const std::uint64_t lba = std::uint64_t{sessionStart} + FirstDescriptorBlock + i;
        if (lba > UINT32_MAX || (discBlocks != 0 && lba >= discBlocks)) break;
        block.fill(0xFF);
        if (!read(static_cast<std::uint32_t>(lba), block.data())) {
            ++report.unreadBlocks;
            continue;
        }
        if (isDescriptor(block.data(), SupplementaryDescriptor)) {
            supplementaryFound = true;
            break;
        }
        if (!primaryFound && isDescriptor(block.data(), PrimaryDescriptor)) {
            primary = block;
            primaryFound = true;
        }
        if (isDescriptor(block.data(), TerminatorDescriptor)) break;
    }
    if (!supplementaryFound) {
        if (!primaryFound) return report;
        block = primary;
        report.primaryTree = true;
    }
    NameForm form = report.primaryTree ? NameForm::Primary
                    : block[DescriptorFileStructureVersion] == 1 ? NameForm::Ucs2
                                                                 : NameForm::EightBit;
    report.jolietNames = form == NameForm::Ucs2;

    std::uint32_t volumeEnd = getLe32(block.data() + DescriptorVolumeSize);
    if (discBlocks != 0 && (volumeEnd == 0 || volumeEnd > discBlocks)) volumeEnd = discBlocks;
    if (volumeEnd <= std::uint64_t{sessionStart} + FirstDescriptorBlock) {
        trace::write("Session import: the volume at %u has no room for its tree\n", sessionStart);
        return report;
    }
    report.volumeEnd = volumeEnd;
    const std::uint8_t* root = block.data() + DescriptorRootRecord;
    const std::uint32_t rootExtent = getLe32(root + RecordExtent);
    const std::uint32_t rootLength = getLe32(root + RecordDataLength);
    report.descriptorFound = true;
    TreeImport(project, read, volumeEnd, form, report).run(target, rootExtent, rootLength);
    return report;
}

std::optional<std::uint32_t> sessionStartAddress(RecorderDevice& device, int session) {
    if (session < 1 || session > 255) return std::nullopt;
    const auto number = static_cast<std::uint8_t>(session);
    // One track per session is the common case: track N opens session N.
    if (mmc::ReadTrackInformation(device, number) && device.trackInfo[mmc::TrackSessionNumber] == number) {
        return mmc::trackField(device, mmc::TrackStartAddress);
    }
    // Otherwise the first track whose session is the one asked for.
    const std::uint8_t lastTrack = device::GetLastTrackNumber(device);
    for (unsigned track = 1; track <= lastTrack; ++track) {
        if (!mmc::ReadTrackInformation(device, static_cast<std::uint8_t>(track))) continue;
        if (device.trackInfo[mmc::TrackSessionNumber] == number) return mmc::trackField(device, mmc::TrackStartAddress);
    }
    if (std::optional<std::uint32_t> start = tocSessionStart(device, number)) return start;
    // A medium that grows one volume has that volume at its start.
    if (session == 1 && mediumOf(device::GetDiscType(device)).overwritable()) return 0u;
    return std::nullopt;
}

std::vector<SessionExtent> listSessions(RecorderDevice& device) {
    std::vector<SessionExtent> sessions;
    LastErrorCodeKept kept(device);
    NodeKeptOpen open(device);
    const int count = device::GetSessionCount(device);
    std::array<std::uint8_t, BlockBytes> block;
    for (int number = 1; number <= count; ++number) {
        std::optional<std::uint32_t> start = sessionStartAddress(device, number);
        if (!start) continue;
        SessionExtent extent{number, *start, 0};
        for (std::uint32_t i = 0; i < DescriptorBlocks; ++i) {
            if (!mmc::Read10(device, *start + FirstDescriptorBlock + i, 1, block.data())) continue;
            if (isDescriptor(block.data(), PrimaryDescriptor) || isDescriptor(block.data(), SupplementaryDescriptor)) {
                std::uint32_t end = getLe32(block.data() + DescriptorVolumeSize);
                extent.blocks = end > *start ? end - *start : 0;
                break;
            }
            if (isDescriptor(block.data(), TerminatorDescriptor)) break;
        }
        sessions.push_back(extent);
    }
    return sessions;
}

int ImportSession(ImageProject& project, int session, std::u16string_view treePath) {
    if (!project.device) return session;
    RecorderDevice& device = *project.device;
    if (!device::recorderSelected(device) || !device::claimRecorder(device)) return session;
    project.jobs.jobState = JobImporting;
    {
        LastErrorCodeKept kept(device);
        if (session == 0) session = device::GetSessionCount(device);
        const DiscType type = device::GetDiscType(device);
        (void)mmc::SetWriteParameters(device, device.testWrite, device.underrunProtection, 0, type);
        FolderNode* target = findFolder(project, treePath);
        if (!target) target = project.root;
        std::optional<std::uint32_t> start = sessionStartAddress(device, session);
        if (start) {
            NodeKeptOpen open(device);
            ImportReport report = importSessionTree(project, deviceReader(device), *start, 0, target);
            trace::write("Session %d imported from block %u: %u files, %u folders, %u entries skipped\n", session,
                         *start, report.files, report.folders, report.skippedRecords);
        }
    }
    project.jobs.jobState = JobIdle;
    device::releaseRecorder(device);
    return session;
}

}  // namespace velk::image

// The layout of a virtual disc: medium, capacity, formatted size, tracks and
// sessions, and the rules by which writing, reserving, closing, blanking and
// formatting change them. Pure logic without files: DiscStore keeps it on disk.
//
// Sequential media always carry one "invisible" track at the end of the open
// session while the disc is not finalised; closing a session with the
// multi-session field 11b opens a new, empty session behind a gap
// (Media.h), otherwise the disc is finalised. Overwritable media carry one
// track over the formatted area.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "virtual-recorder/Media.h"
#include "virtual-recorder/Sense.h"

namespace velk::vrec {

struct Track {
    std::uint32_t number = 1;
    std::uint32_t session = 1;
    std::uint32_t start = 0;
    std::uint32_t nwa = 0;        // first block not yet recorded
    std::uint32_t size = 0;       // closed: final size; reserved: reserved size
    bool reserved = false;
    bool closed = false;
    bool fixedPacket = false;
    std::uint32_t packetSize = 0;
};

enum class DiscStatus : std::uint8_t { Empty = 0, Incomplete = 1, Complete = 2, Other = 3 };
enum class SessionState : std::uint8_t { Empty = 0, Incomplete = 1, Complete = 3 };

// What the write parameters page says about how a track is written.
struct TrackWriteMode {
    bool fixedPacket = false;
    std::uint32_t packetSize = 0;
};

// What a CLOSE TRACK/SESSION did to the medium, which sets the time it takes.
enum class CloseWork : std::uint8_t { None, EndBackgroundFormat, Track, Session };
struct CloseOutcome {
    std::optional<Sense> refusal;
    CloseWork work = CloseWork::None;
};

// What a FORMAT UNIT did to the medium, which sets the time it takes and
// whether the recorded data goes.
enum class FormatWork : std::uint8_t { Background, WholeMedium, Quick, Grow };

class DiscLayout {
public:
    MediumKind medium = MediumKind::CdR;
    std::uint32_t capacity = 0;
    std::uint32_t formattedBlocks = 0;  // overwritable media; 0 = unformatted
    bool finalized = false;
    std::uint32_t closedSessions = 0;
    // A DVD-RW after a minimal BLANK: only disc-at-once until it is formatted.
    bool minimallyBlanked = false;
    // Times the drive buffer ran empty while a track was being written; the
    // disc keeps the count through blanking and formatting.
    std::uint32_t underruns = 0;
    // The drive's tray was left open on this disc (an eject): the next drive
    // that loads the disc file starts with its tray open, until a load.
    bool trayOpen = false;
    std::vector<Track> tracks;
    std::string imagePath;  // read-only media: the image file holding the data

    // A new disc as it comes out of its box: blank sequential media, an
    // unformatted DVD+RW, a formatted DVD-RAM or DVD-RW in restricted overwrite.
    static DiscLayout fresh(MediumKind kind, std::uint32_t capacity);
    // A pressed disc of `blocks` blocks: one closed track, one complete session.
    static DiscLayout pressed(MediumKind kind, std::uint32_t blocks, std::string imagePath);

    const MediumInfo& info() const { return mediumInfo(medium); }
    bool sequential() const { return info().recording == Recording::Sequential; }
    bool overwritable() const { return info().recording == Recording::RandomOverwrite; }
    bool readOnly() const { return info().recording == Recording::ReadOnly; }

    DiscStatus discStatus() const;
    SessionState lastSessionState() const;
    std::uint32_t sessionCount() const;
    std::uint32_t firstTrackInLastSession() const;
    std::uint32_t lastTrackInLastSession() const;
    const Track* track(std::uint32_t number) const;
    // The incomplete track at the end of the open session, if any.
    const Track* invisibleTrack() const;
    // Sizes as READ TRACK INFORMATION reports them.
    std::uint32_t reportedTrackSize(const Track& t) const;
    std::uint32_t freeBlocks(const Track& t) const;
    bool nwaValid(const Track& t) const;
    // Overwritable media: end of the highest block ever written.
    std::uint32_t recordedEnd() const;
    // Whether a READ of `lba` returns data.
    bool isReadable(std::uint32_t lba) const;
    // Highest readable block + 1 of session `session` (1-based), or of the
    // whole disc for 0.
    std::uint32_t sessionEnd(std::uint32_t session) const;
    // Any recorded block at all.
    bool hasData() const;

    // A refusal, or nothing when the write is allowed.
    std::optional<Sense> checkWrite(std::uint32_t lba, std::uint32_t blocks) const;
    void recordWrite(std::uint32_t lba, std::uint32_t blocks, TrackWriteMode mode);
    std::optional<Sense> reserveTrack(std::uint32_t blocks);
    std::optional<Sense> closeTrack(std::uint32_t number);
    // Closes the open session; `appendable` leaves room for the next one.
    std::optional<Sense> closeSession(bool appendable);
    // Blank a rewritable disc: back to a fresh sequential disc. A minimal
    // blank of a DVD-RW leaves it able to take disc-at-once only.
    std::optional<Sense> blank(bool minimal);
    // Formatted overwritable state with `blocks` blocks (0: whole capacity).
    void formatOverwritable(MediumKind kind, std::uint32_t blocks);
    // DVD+RW background format completed, DVD-RW grown: formatted size grows.
    void growFormat(std::uint32_t blocks);

    // DVD+R and DVD+R DL: no test write, lossless linking, their own close
    // functions.
    bool plusR() const { return medium == MediumKind::DvdPlusR || medium == MediumKind::DvdPlusRDl; }
    // Whether CLOSE TRACK/SESSION function `function` exists for this medium.
    bool definesCloseFunction(std::uint8_t function) const;
    // CLOSE TRACK/SESSION function `function` (one the medium defines) of
    // track `trackNumber` (FFh: the incomplete track). `nextSessionAllowed`:
    // the multi-session field of the write parameters lets another session
    // follow this one.
    [[nodiscard]] CloseOutcome close(std::uint8_t function, std::uint32_t trackNumber, bool nextSessionAllowed);
    // FORMAT UNIT with format type `type`, number of blocks `blocks` and type
    // dependent parameter `parameter`; nothing when the medium has no such
    // format (and it is left as it was).
    [[nodiscard]] std::optional<FormatWork> format(std::uint8_t type, std::uint32_t blocks, std::uint32_t parameter);

private:
    Track* openTrackAt(std::uint32_t lba);
    Track* findTrack(std::uint32_t number);
    bool openSessionHasData() const;
    void closeOneTrack(Track& t);
    void addInvisibleTrack(std::uint32_t session, std::uint32_t start);
    std::uint32_t trackEnd(const Track& t) const;
};

}  // namespace velk::vrec

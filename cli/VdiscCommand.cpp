#include "cli/VdiscCommand.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "virtual-recorder/DiscExport.h"
#include "virtual-recorder/DiscStore.h"
#include "virtual-recorder/Media.h"

namespace velk::cli {
namespace {

constexpr int kFailed = 1;

// "velk-cli: vdisc show: WHY", WHY naming the file and the reason.
[[noreturn]] void fail(const char* what, const std::string& message) {
    std::fprintf(stderr, "velk-cli: vdisc %s: %s\n", what, message.c_str());
    throw CLI::RuntimeError(kFailed);
}

const char* discStateName(const vrec::DiscLayout& d) {
    if (d.readOnly()) return "pressed (read-only)";
    if (d.overwritable()) return d.formattedBlocks != 0 ? "formatted" : "blank, unformatted";
    switch (d.discStatus()) {
    case vrec::DiscStatus::Empty:
        return "blank";
    case vrec::DiscStatus::Incomplete:
        return "appendable";
    case vrec::DiscStatus::Complete:
        return "finalised";
    case vrec::DiscStatus::Other:
        break;
    }
    return "other";
}

const char* trackStateName(const vrec::DiscLayout& d, const vrec::Track& t) {
    if (!d.sequential()) return "data";
    if (t.closed) return "closed";
    if (t.reserved) return t.nwa > t.start ? "reserved, partly written" : "reserved";
    return t.nwa > t.start ? "open" : "blank (next to write)";
}

void show(const std::string& path) {
    std::string error;
    auto disc = vrec::DiscStore::open(path, &error);
    if (!disc) fail("show", error);
    const vrec::DiscLayout& d = disc->layout();
    std::printf("disc file:  %s\n", path.c_str());
    std::printf("medium:     %s (%s, profile %04Xh)\n", d.info().name, d.info().description, d.info().profile);
    std::printf("capacity:   %u blocks\n", d.capacity);
    if (d.overwritable()) std::printf("formatted:  %u blocks\n", d.formattedBlocks);
    if (d.readOnly()) std::printf("image:      %s\n", d.imagePath.c_str());
    std::printf("state:      %s\n", discStateName(d));
    const std::uint32_t sessions = d.sequential() ? d.closedSessions : 1;
    std::printf("sessions:   %u complete%s\n", sessions,
                d.sequential() && !d.finalized ? ", next one open" : "");
    std::printf("underruns:  %u\n", d.underruns);
    std::printf("tray:       %s\n", d.trayOpen ? "open (until a load)" : "closed");
    std::printf("tracks:\n");
    std::printf("  %5s %7s %10s %10s %10s %10s  %s\n", "track", "session", "start", "end", "size", "next", "state");
    for (const auto& t : d.tracks) {
        const std::uint32_t size = d.reportedTrackSize(t);
        const std::string next = d.nwaValid(t) ? std::to_string(t.nwa) : "-";
        std::printf("  %5u %7u %10u %10u %10u %10s  %s\n", t.number, t.session, t.start, t.start + size - 1, size,
                    next.c_str(), trackStateName(d, t));
    }    // An exported image holds every block from 0 on, and a reader of it starts
    // at block 16, which is session 1: a later session is read from its own
    // start, which the reader has to be given.
    const std::uint32_t recorded = vrec::recordedSessions(d);
    if (recorded > 0) std::printf("reading an exported image (vdisc export):\n");
    for (std::uint32_t session = 1; session <= recorded; ++session) {
        const std::uint32_t start = vrec::sessionStart(d, session);
        std::printf("  session %u: blocks %u to %u; xorriso -load sbsector %u -indev IMAGE\n", session, start,
                    d.sessionEnd(session) - 1, start);
    }
}

}  // namespace

void addVdiscCommand(CLI::App& app) {
    CLI::App* vdisc = app.add_subcommand("vdisc", "Make, show and export disc files of the virtual recorder");
    vdisc->require_subcommand(1);

    struct CreateOptions {
        std::string medium;
        std::uint32_t blocks = 0;
        std::string image;
        std::string disc;
        bool force = false;
    };
    auto create = std::make_shared<CreateOptions>();
    std::vector<std::string> names;
    for (auto kind : {vrec::MediumKind::CdR, vrec::MediumKind::CdRw, vrec::MediumKind::DvdR,
                      vrec::MediumKind::DvdRwSequential, vrec::MediumKind::DvdRwRestricted, vrec::MediumKind::DvdPlusR,
                      vrec::MediumKind::DvdPlusRDl, vrec::MediumKind::DvdPlusRw, vrec::MediumKind::DvdRam,
                      vrec::MediumKind::CdRom, vrec::MediumKind::DvdRom}) {
        names.emplace_back(vrec::mediumInfo(kind).name);
    }
    CLI::App* createCommand = vdisc->add_subcommand("create", "Make a new, blank disc file");
    createCommand->add_option("--medium", create->medium, "Medium of the disc")
        ->required()
        ->check(CLI::IsMember(names));
    createCommand->add_option("--blocks", create->blocks, "Capacity in 2048-byte blocks (default: the medium's)")
        ->check(CLI::Range(1u, 0xFFFFFFFEu));
    createCommand->add_option("--image", create->image, "Image file holding a cd-rom or dvd-rom disc")
        ->check(CLI::ExistingFile);
    createCommand->add_flag("--force", create->force, "Replace an existing disc file and its data");
    createCommand->add_option("DISC", create->disc, "Disc file to make")->required();
    createCommand->callback([create] {
        const auto kind = *vrec::mediumFromName(create->medium);
        const bool pressed = vrec::mediumInfo(kind).recording == vrec::Recording::ReadOnly;
        if (pressed && create->image.empty()) throw CLI::ValidationError("--image", "cd-rom and dvd-rom need --image");
        if (!pressed && !create->image.empty()) throw CLI::ValidationError("--image", "only for cd-rom and dvd-rom");
        if (pressed && create->blocks != 0) throw CLI::ValidationError("--blocks", "not for cd-rom and dvd-rom");
        // A disc file holds recorded sessions: making a new one over it
        // throws them away, so that takes --force.
        std::error_code unused;
        const auto existing = std::filesystem::symlink_status(create->disc, unused).type();
        if (existing == std::filesystem::file_type::directory) fail("create", create->disc + ": is a folder");
        if (existing != std::filesystem::file_type::not_found && existing != std::filesystem::file_type::none &&
            !create->force) {
            fail("create", create->disc + ": already exists (--force replaces it)");
        }
        std::string error;
        auto disc = pressed ? vrec::DiscStore::createPressed(create->disc, kind, create->image, &error)
                            : vrec::DiscStore::create(create->disc, kind, create->blocks, &error);
        if (!disc) fail("create", error);
        std::printf("%s: %s, %u blocks\n", create->disc.c_str(), vrec::mediumInfo(kind).description,
                    disc->layout().capacity);
    });

    auto showDisc = std::make_shared<std::string>();
    CLI::App* showCommand = vdisc->add_subcommand("show", "Show the medium, state, sessions and tracks of a disc file");
    showCommand->add_option("DISC", *showDisc, "Disc file")->required();
    showCommand->callback([showDisc] { show(*showDisc); });

    struct ExportOptions {
        std::string disc;
        std::string image;
        std::uint32_t session = 0;
        bool sessionOnly = false;
    };
    auto exportOptions = std::make_shared<ExportOptions>();
    CLI::App* exportCommand = vdisc->add_subcommand(
        "export",
        "Write the blocks a reader of a session sees: every block from 0 to the session's end, since a later "
        "session's tree points into the earlier ones (gaps as zeros). A reader then sees session 1 unless given "
        "the session's start, which the command prints: xorriso -load sbsector START -indev IMAGE");
    exportCommand->add_option("DISC", exportOptions->disc, "Disc file")->required();
    exportCommand->add_option("-o,--output", exportOptions->image, "Image file to write (- for standard output)")
        ->required();
    exportCommand->add_option("--session", exportOptions->session, "Session number (default: the last)")
        ->check(CLI::Range(1u, 0xFFFFu));
    exportCommand->add_flag("--session-only", exportOptions->sessionOnly,
                            "Only the session's own blocks, from its start to its end; its addresses still count "
                            "from the disc's block 0, so a reader needs the session's start (isoinfo -N START)");
    exportCommand->callback([exportOptions] {
        std::string error;
        auto disc = vrec::DiscStore::open(exportOptions->disc, &error);
        if (!disc) fail("export", error);
        const std::string& name = exportOptions->disc;
        const std::uint32_t sessions = vrec::recordedSessions(disc->layout());
        const std::uint32_t wanted = exportOptions->session;
        if (sessions == 0) fail("export", name + ": the disc holds no data");
        if (wanted > sessions) {
            fail("export", name + ": no session " + std::to_string(wanted) + " (the disc holds " +
                               std::to_string(sessions) + (sessions == 1 ? " session)" : " sessions)"));
        }
        const vrec::ExportExtent extent =
            exportOptions->sessionOnly ? vrec::ExportExtent::SessionOnly : vrec::ExportExtent::FromDiscStart;
        const std::uint32_t blocks = vrec::exportBlockCount(disc->layout(), wanted, extent);
        if (blocks == 0) fail("export", name + ": session " + std::to_string(wanted) + " holds no data");
        if (!vrec::exportImage(*disc, wanted, exportOptions->image, &error, extent)) fail("export", error);
        // With the image on standard output, the summary goes to standard error.
        std::FILE* out = exportOptions->image == "-" ? stderr : stdout;
        const char* image = exportOptions->image.c_str();
        const std::uint32_t session = wanted == 0 ? sessions : wanted;
        const std::uint32_t start = vrec::sessionStart(disc->layout(), session);
        if (extent == vrec::ExportExtent::SessionOnly) {
            std::fprintf(out,
                         "%s: %u blocks, session %u alone (blocks %u to %u of the disc); its addresses count from "
                         "the disc's block 0, so a reader needs the session's start: isoinfo -N %u -i %s\n",
                         image, blocks, session, start, start + blocks - 1, start, image);
        } else if (start == 0) {
            std::fprintf(out, "%s: %u blocks, session %u starts at block 0\n", image, blocks, session);
        } else {
            std::fprintf(out,
                         "%s: %u blocks, every block from 0 to the end of session %u; it starts at block %u, "
                         "read it with: xorriso -load sbsector %u -indev %s\n",
                         image, blocks, session, start, start, image);
        }
    });
}

}  // namespace velk::cli

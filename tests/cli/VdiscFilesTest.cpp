// Virtual disc files are data too: velk-cli refuses a damaged disc file and
// leaves it as it is, only commands that change a disc write its file, and
// neither vdisc create nor vdisc export overwrites what it must not.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

const std::string FastDrive = "VELK_VIRTUAL_TIME_SCALE=1000000";

std::string contentsOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Bytes and inode: a file replaced through a rename gets a new inode even
// when its bytes come out the same.
struct FileIdentity {
    std::string bytes;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return {contentsOf(path), st.st_ino};
}

bool says(const CliRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

class VdiscFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dir_.str() + "/" + name; }

    std::string newDisc(const std::string& name, const std::string& medium = "dvd+r") {
        const std::string disc = path(name);
        const CliRun made = velkCli("vdisc create --medium " + medium + " --blocks 20000 " + shellQuoted(disc));
        EXPECT_EQ(made.status, 0) << made.output;
        return disc;
    }

    // A disc holding one session of a small folder.
    std::string burnedDisc(const std::string& name) {
        const std::string disc = newDisc(name);
        dir_.file("src/hello.txt", "hello disc\n");
        const CliRun burned = velkCli("burn --virtual " + shellQuoted(disc) + " " + shellQuoted(path("src")), FastDrive);
        EXPECT_EQ(burned.status, 0) << burned.output;
        return disc;
    }

    TempDir dir_;
};

// A damaged layout is refused by every command that opens the disc, with
// the file and the reason, and nothing writes it back "repaired".
TEST_F(VdiscFiles, ADamagedDiscFileIsRefusedAndLeftAsItIs) {
    const std::string good = contentsOf(burnedDisc("source.vdisc"));
    struct Damage {
        const char* what;
        std::string text;
        const char* reason;
    };
    std::string negative = good;
    negative.replace(negative.find("capacity 20000"), 14, "capacity -1");
    const Damage damages[] = {
        {"cut short", good.substr(0, good.size() / 2), "the file is cut short (it has no end line)"},
        {"negative capacity", negative, "line 3 is malformed: \"capacity -1\""},
        {"not a disc file", "hello\n", "not a virtual disc file"},
    };
    for (const Damage& damage : damages) {
        const std::string disc = path(std::string("damaged-") + damage.what + ".vdisc");
        std::filesystem::copy_file(path("source.vdisc.data"), disc + ".data");
        std::ofstream(disc, std::ios::binary) << damage.text;
        const FileIdentity before = identityOf(disc);
        const std::string image = path("out.iso");
        struct Command {
            std::string arguments;
            int status;  // -1: not checked here
        };
        const Command commands[] = {
            {"vdisc show " + shellQuoted(disc), 1},
            {"vdisc export " + shellQuoted(disc) + " -o " + shellQuoted(image), 1},
            // The recorder commands refuse the disc file before they start.
            {"info --virtual " + shellQuoted(disc), 1},
            {"devices --virtual " + shellQuoted(disc), 1},
            {"burn --virtual " + shellQuoted(disc) + " " + shellQuoted(path("src")), 1},
        };
        for (const Command& command : commands) {
            const CliRun run = velkCli(command.arguments, FastDrive);
            if (command.status >= 0) {
                EXPECT_EQ(run.status, command.status) << command.arguments << "\n" << run.output;
            }
            EXPECT_TRUE(says(run, disc + ": " + damage.reason)) << command.arguments << "\n" << run.output;
            EXPECT_EQ(identityOf(disc), before) << damage.what << ": " << command.arguments;
            EXPECT_FALSE(std::filesystem::exists(image)) << command.arguments;
        }
        EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(disc)), "velk-cli: vdisc show: " + disc + ": "));
    }
}

// devices and info only look: the disc file keeps its bytes and its inode.
// eject and load change the tray, which the file keeps for the next command.
TEST_F(VdiscFiles, LookingLeavesTheFileAndTheTrayStateIsKept) {
    const std::string disc = burnedDisc("looked-at.vdisc");
    const FileIdentity before = identityOf(disc);
    const std::string virtualDisc = " --virtual " + shellQuoted(disc);
    for (const char* command : {"devices", "info"}) {
        const CliRun run = velkCli(command + virtualDisc, FastDrive);
        EXPECT_EQ(run.status, 0) << command << "\n" << run.output;
        EXPECT_EQ(identityOf(disc), before) << command;
    }
    EXPECT_TRUE(says(velkCli("info" + virtualDisc, FastDrive), "ready: 1"));

    const CliRun ejected = velkCli("eject" + virtualDisc, FastDrive);
    ASSERT_EQ(ejected.status, 0) << ejected.output;
    EXPECT_EQ(ejected.output, "ejected\n");
    EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(disc)), "tray:       open"));
    for (int command = 0; command < 2; ++command) {
        const CliRun info = velkCli("info" + virtualDisc, FastDrive);
        EXPECT_TRUE(says(info, "ready: 0")) << info.output;
    }
    const CliRun loaded = velkCli("load" + virtualDisc, FastDrive);
    ASSERT_EQ(loaded.status, 0) << loaded.output;
    EXPECT_EQ(loaded.output, "loaded: DVD+R, appendable\n");
    EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(disc)), "tray:       closed"));
    const CliRun info = velkCli("info" + virtualDisc, FastDrive);
    EXPECT_TRUE(says(info, "ready: 1")) << info.output;
    EXPECT_FALSE(std::filesystem::exists(disc + ".tmp"));
}

// load says what the tray brought in: the medium and its state, or no disc.
TEST_F(VdiscFiles, LoadSaysWhatIsInTheTray) {
    const struct {
        std::string disc;
        const char* says;
    } cases[] = {
        {newDisc("blank.vdisc"), "loaded: DVD+R, blank\n"},
        {newDisc("blank-cd.vdisc", "cd-rw"), "loaded: CD-RW, blank\n"},
        {path("missing.vdisc"), "loaded: no disc\n"},
    };
    for (const auto& c : cases) {
        const CliRun loaded = velkCli("load --virtual " + shellQuoted(c.disc), FastDrive);
        EXPECT_EQ(loaded.status, 0) << c.disc << "\n" << loaded.output;
        EXPECT_EQ(loaded.output, c.says) << c.disc;
    }
}

TEST_F(VdiscFiles, CreateReplacesADiscOnlyWithForce) {
    const std::string disc = burnedDisc("kept.vdisc");
    const FileIdentity layout = identityOf(disc);
    const FileIdentity data = identityOf(disc + ".data");
    const CliRun refused = velkCli("vdisc create --medium cd-r " + shellQuoted(disc));
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_TRUE(says(refused, "velk-cli: vdisc create: " + disc + ": already exists (--force replaces it)"))
        << refused.output;
    EXPECT_EQ(identityOf(disc), layout);
    EXPECT_EQ(identityOf(disc + ".data"), data);

    const CliRun forced = velkCli("vdisc create --force --medium cd-r " + shellQuoted(disc));
    EXPECT_EQ(forced.status, 0) << forced.output;
    const CliRun shown = velkCli("vdisc show " + shellQuoted(disc));
    EXPECT_TRUE(says(shown, "CD-R")) << shown.output;
    EXPECT_TRUE(says(shown, "state:      blank")) << shown.output;
    EXPECT_EQ(std::filesystem::file_size(disc + ".data"), 0u);
}

// A pressed disc made from a relative image name is usable from any folder.
TEST_F(VdiscFiles, APressedDiscNamesItsImageByAbsolutePath) {
    dir_.file("work/pressed.iso", std::string(8 * 2048, 'p'));
    const std::string disc = path("rom.vdisc");
    const CliRun made = velkCli("vdisc create --medium dvd-rom --image pressed.iso " + shellQuoted(disc),
                                "cd " + shellQuoted(path("work")) + " &&");
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string image = std::filesystem::canonical(path("work/pressed.iso")).string();
    EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(disc)), "image:      " + image + "\n"));
    const CliRun exported = velkCli("vdisc export " + shellQuoted(disc) + " -o " + shellQuoted(path("copy.iso")));
    EXPECT_EQ(exported.status, 0) << exported.output;
    EXPECT_EQ(contentsOf(path("copy.iso")), contentsOf(image));
    // "-" is standard output, which then holds the image alone (the summary
    // goes to standard error).
    const CliRun piped = velkCli("vdisc export " + shellQuoted(disc) + " -o - | cat > " + shellQuoted(path("piped.iso")));
    EXPECT_EQ(piped.status, 0) << piped.output;
    EXPECT_EQ(contentsOf(path("piped.iso")), contentsOf(image));
}

// An export that cannot be made exits 1, says why, and leaves an existing
// file of the target's name, and the disc's own files, as they were.
TEST_F(VdiscFiles, ExportRefusalsLeaveEveryFileAsItWas) {
    const std::string disc = burnedDisc("one-session.vdisc");
    const std::string blank = newDisc("blank.vdisc");
    const std::string kept = dir_.file("kept.iso", "an earlier image");
    struct Case {
        std::string arguments;
        std::string reason;
    };
    const Case cases[] = {
        {shellQuoted(disc) + " --session 2 -o " + shellQuoted(kept),
         disc + ": no session 2 (the disc holds 1 session)"},
        {shellQuoted(blank) + " -o " + shellQuoted(kept), blank + ": the disc holds no data"},
        {shellQuoted(disc) + " -o " + shellQuoted(disc), disc + ": is the disc's own file"},
        {shellQuoted(disc) + " -o " + shellQuoted(disc + ".data"), disc + ".data: is the disc's own file"},
        {shellQuoted(disc) + " -o " + shellQuoted(path("no/such/folder.iso")),
         path("no/such/folder.iso") + ": No such file or directory"},
    };
    const FileIdentity layout = identityOf(disc);
    const FileIdentity data = identityOf(disc + ".data");
    for (const Case& c : cases) {
        const CliRun run = velkCli("vdisc export " + c.arguments);
        EXPECT_EQ(run.status, 1) << c.arguments << "\n" << run.output;
        EXPECT_TRUE(says(run, "velk-cli: vdisc export: " + c.reason)) << c.arguments << "\n" << run.output;
        EXPECT_EQ(contentsOf(kept), "an earlier image");
        EXPECT_EQ(identityOf(disc), layout);
        EXPECT_EQ(identityOf(disc + ".data"), data);
    }
    // The one session it has, over the old image; no temporary file stays.
    const CliRun run = velkCli("vdisc export " + shellQuoted(disc) + " --session 1 -o " + shellQuoted(kept));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(contentsOf(kept).substr(16 * 2048 + 1, 5), "CD001");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) left.push_back(entry.path().string());
    for (const std::string& name : left) EXPECT_EQ(name.find("kept.iso."), std::string::npos) << name;
}

}  // namespace
}  // namespace velk::testing

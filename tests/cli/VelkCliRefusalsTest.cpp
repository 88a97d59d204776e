// Nothing lost, nothing destroyed: for each way a source tree or an output
// can go wrong, velk-cli's exit code, the line that names the file and the
// reason, and what is left on disk (no partial image, the old image intact,
// the inputs intact). One row per case; rows that need root (a small
// tmpfs) or a user that root's file access does not cover are skipped
// where that cannot be had.
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t NobodyId = 65534;
const std::string OldImage = "the old image";

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

// The Joliet paths of an image, one a line.
std::string listing(const std::string& image) {
    std::FILE* pipe = ::popen(("isoinfo -J -f -i " + shellQuoted(image) + " 2>/dev/null").c_str(), "r");
    std::string text;
    char buffer[1024];
    std::size_t n;
    while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    if (pipe) ::pclose(pipe);
    return text;
}

// velk-cli run by a user that cannot read what mode 000 forbids: "nobody"
// when the tests run as root (root reads everything), else the user itself.
CliRun velkCliUnprivileged(const std::string& arguments) {
    if (::geteuid() != 0) return velkCli(arguments);
    int out[2];
    if (::pipe(out) != 0) return {};
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(out[0]);
        ::close(out[1]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0) ::_exit(126);
        std::string command = std::string(VELK_BINARY_DIR) + "/cli/velk-cli " + arguments;
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    CliRun run;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int raw = 0;
    ::waitpid(child, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

// What one case works in: a source folder, and an output folder that holds
// an old image.
struct Fixture {
    TempDir dir;
    std::string src = dir.folder("src");
    std::string out = dir.folder("out");
    std::string image = out + "/img.iso";
    std::string skip;         // set by an arrangement that cannot be made here
    std::string environment;  // shell commands before velk-cli
    bool unprivileged = false;
    std::function<void()> cleanUp;

    std::string file(const std::string& relative, const std::string& content = "") {
        return dir.file(relative, content);
    }
    void link(const std::string& target, const std::string& relative) {
        fs::create_symlink(target, dir.path() / relative);
    }
    // Everyone may enter the fixture and write the output folder.
    void openToEveryone() {
        fs::permissions(dir.path(), fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
        fs::permissions(out, fs::perms::all);
        fs::permissions(image, fs::perms::all);
        unprivileged = true;
    }
};

struct Case {
    const char* name;
    // Builds the case and returns velk-cli's arguments; "image -q -o IMAGE
    // SRC" unless it says otherwise.
    std::function<std::string(Fixture&)> arrange;
    int status;
    // Lines (or parts of lines) the output must hold; {dir} stands for the
    // fixture's folder.
    std::vector<std::string> says;
    // The old image must be left as it was, and nothing beside it.
    bool keepsOldImage;
    std::function<void(Fixture&, const CliRun&)> check;
};

std::string imageOf(Fixture& f, const std::string& sources, const std::string& extra = "") {
    return "image -q " + extra + (extra.empty() ? "" : " ") + "-o " + shellQuoted(f.image) + " " + sources;
}

// Folders of 90-character names nested until the path from the fixture is
// over 4096 bytes, made step by step below one another (no single call
// could take the whole path); the deepest holds a file.
std::string makeDeepTree(Fixture& f) {
    const std::string component(90, 'd');
    int fd = ::open(f.src.c_str(), O_RDONLY | O_DIRECTORY);
    std::size_t length = f.src.size();
    while (fd >= 0 && length <= 4200) {
        if (::mkdirat(fd, component.c_str(), 0755) != 0) break;
        int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        length += component.size() + 1;
    }
    if (fd >= 0) {
        int file = ::openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0644);
        if (file >= 0) ::close(file);
        ::close(fd);
    }
    if (length <= 4200) f.skip = "cannot make the deep folders";
    // The ordinary removal works with whole paths; rm takes them apart.
    f.cleanUp = [src = f.src] { (void)std::system(("rm -rf " + shellQuoted(src)).c_str()); };
    return imageOf(f, shellQuoted(f.src));
}

const Case Cases[] = {
    {"FailingJobKeepsTheOldImage",
     [](Fixture& f) {
         f.file("src/big.bin", std::string(1 << 20, 'b'));
         // A file-size limit of 100 KiB fails the write part way.
         f.environment = "ulimit -f 200;";
         return imageOf(f, shellQuoted(f.src));
     },
     1, {"velk-cli: image: Error creating file \"{dir}/out/img.iso\": File too large"}, true, nullptr},
    {"OutputIsOneOfTheSources",
     [](Fixture& f) {
         std::string notes = f.file("src/notes.txt", "my notes");
         return "image -o " + shellQuoted(notes) + " " + shellQuoted(notes);
     },
     1, {"velk-cli: image: {dir}/src/notes.txt: the output is one of the sources"}, true,
     [](Fixture& f, const CliRun&) { EXPECT_EQ(contentsOf(f.src + "/notes.txt"), "my notes"); }},
    {"OutputInsideTheSourceFolder",
     [](Fixture& f) {
         f.file("src/a.txt", "alpha");
         f.image = f.src + "/img.iso";
         // The first run meets no image; the second must leave its own
         // old copy out.
         CliRun first = velkCli(imageOf(f, shellQuoted(f.src)));
         EXPECT_EQ(first.status, 0) << first.output;
         return imageOf(f, shellQuoted(f.src));
     },
     0, {"velk-cli: {dir}/src/img.iso: warning: left out: it is the image being written"}, false,
     [](Fixture& f, const CliRun&) {
         std::string files = listing(f.image);
         EXPECT_NE(files.find("/a.txt"), std::string::npos) << files;
         EXPECT_EQ(files.find("img.iso"), std::string::npos) << files;
         EXPECT_EQ(namesIn(f.src).size(), 2u) << "a temporary file was left beside the image";
         EXPECT_EQ(contentsOf(f.src + "/a.txt"), "alpha");
     }},
    {"BurnToAVirtualDiscInsideTheSourceFolder",
     [](Fixture& f) {
         f.file("src/a.txt", "alpha");
         const std::string disc = f.src + "/disc.vdisc";
         CliRun made = velkCli("vdisc create --medium dvd+r " + shellQuoted(disc));
         EXPECT_EQ(made.status, 0) << made.output;
         f.environment = "VELK_VIRTUAL_TIME_SCALE=1000000";
         return "burn -q --virtual " + shellQuoted(disc) + " " + shellQuoted(f.src);
     },
     0,
     {"velk-cli: {dir}/src/disc.vdisc: warning: left out: it is the virtual disc being written",
      "velk-cli: {dir}/src/disc.vdisc.data: warning: left out: it is the virtual disc being written"},
     false,
     [](Fixture& f, const CliRun&) {
         const std::string exported = f.dir.str() + "/exported.iso";
         CliRun run = velkCli("vdisc export -o " + shellQuoted(exported) + " " + shellQuoted(f.src + "/disc.vdisc"));
         ASSERT_EQ(run.status, 0) << run.output;
         EXPECT_EQ(listing(exported), "/a.txt\n");
     }},
    {"FileShorterThanPlanned",
     [](Fixture& f) {
         f.file("src/a.txt", "alpha");
         // A sysfs attribute says 4096 bytes and reads a few: the same as a
         // file that shrank between the plan and the read, without a race.
         const std::string shrinking = "/sys/devices/system/cpu/online";
         struct stat info {};
         if (::stat(shrinking.c_str(), &info) != 0 || info.st_size != 4096) f.skip = "no sysfs attribute to read";
         return imageOf(f, shellQuoted(f.src) + " " + shrinking);
     },
     1, {"velk-cli: image: File changed while it was read \"/sys/devices/system/cpu/online\""}, true, nullptr},
    {"UnreadableFile",
     [](Fixture& f) {
         f.file("src/a.txt", "alpha");
         fs::permissions(f.file("src/secret.txt", "secret"), fs::perms::none);
         f.openToEveryone();
         return imageOf(f, shellQuoted(f.src));
     },
     1, {"velk-cli: image: Error opening file \"{dir}/src/secret.txt\": Permission denied"}, true, nullptr},
    {"UnreadableFolder",
     [](Fixture& f) {
         f.file("src/a.txt", "alpha");
         f.file("src/locked/b.txt", "beta");
         fs::permissions(f.src + "/locked", fs::perms::none);
         f.openToEveryone();
         return imageOf(f, shellQuoted(f.src));
     },
     1, {"velk-cli: {dir}/src/locked: cannot read folder: Permission denied"}, true, nullptr},
    {"FolderThatCannotBeSearched",
     [](Fixture& f) {
         f.file("src/listed/b.txt", "beta");
         fs::permissions(f.src + "/listed", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         f.openToEveryone();
         return imageOf(f, shellQuoted(f.src));
     },
     1, {"velk-cli: {dir}/src/listed: cannot read folder: Permission denied"}, true, nullptr},
    {"PathOver4096Bytes", makeDeepTree, 1,
     {"velk-cli: {dir}/src/" + std::string(90, 'd') + "/",
      ": cannot read: File name too long (the system takes paths of at most 4096 bytes)"},
     true, nullptr},
    {"NamesOver98CharactersAreAllListed",
     [](Fixture& f) {
         f.file("src/ok.txt", "ok");
         f.file("src/" + std::string(99, 'a') + ".txt");
         f.file("src/sub/" + std::string(100, 'b'));
         // Inside a folder whose own name is too long, too.
         f.file("src/" + std::string(99, 'c') + "/" + std::string(120, 'e') + ".txt");
         return imageOf(f, shellQuoted(f.src));
     },
     1,
     {"velk-cli: {dir}/src/" + std::string(99, 'a') + ".txt: name too long: names on the disc are at most 98 characters",
      "velk-cli: {dir}/src/sub/" + std::string(100, 'b') + ": name too long",
      "velk-cli: {dir}/src/" + std::string(99, 'c') + ": name too long",
      "velk-cli: {dir}/src/" + std::string(99, 'c') + "/" + std::string(120, 'e') + ".txt: name too long"},
     true, nullptr},
    {"ANameOver98CharactersIsRefusedWithLongNamesToo",
     [](Fixture& f) {
         f.file("src/" + std::string(100, 'n') + ".txt", "long");
         return imageOf(f, shellQuoted(f.src), "--long-names");
     },
     1,
     {"velk-cli: {dir}/src/" + std::string(100, 'n') +
      ".txt: name too long: names on the disc are at most 98 characters, with --long-names too; rename it to "
      "keep it on the disc"},
     true, nullptr},
    // A fault plan the virtual recorder cannot read stops the command before
    // any drive is set up, and says which rules there are.
    {"AnUnknownFaultRuleIsAUsageError",
     [](Fixture& f) {
         f.file("src/a.txt", "alpha");
         const std::string disc = f.dir.str() + "/blank.vdisc";
         EXPECT_EQ(velkCli("vdisc create --medium dvd+r --blocks 5000 " + shellQuoted(disc)).status, 0);
         f.environment = "VELK_VIRTUAL_FAULTS='no-underruns, bogus:1'";
         return "burn -q --virtual " + shellQuoted(disc) + " " + shellQuoted(f.src);
     },
     2,
     {"velk-cli: burn: VELK_VIRTUAL_FAULTS: unknown fault rule: bogus:1; the rules are: cmd:N:KK/AA/QQ, "
      "op:HH:KK/AA/QQ, ",
      ", busy-every:HH:K, long-write:S[:LBA], long-write-when-full, no-underruns, no-config, ua-on-load, async\n"},
     true,
     [](Fixture& f, const CliRun&) {
         EXPECT_NE(velkCli("vdisc show " + shellQuoted(f.dir.str() + "/blank.vdisc")).output.find("state:      blank"),
                   std::string::npos);
     }},
    {"AMalformedRuleInOneDrivesPlanIsAUsageError",
     [](Fixture& f) {
         const std::string disc = f.dir.str() + "/blank.vdisc";
         EXPECT_EQ(velkCli("vdisc create --medium cd-r --blocks 5000 " + shellQuoted(disc)).status, 0);
         f.environment = "VELK_VIRTUAL_FAULTS_0=busy:many";
         return "info --virtual " + shellQuoted(disc);
     },
     2, {"velk-cli: info: VELK_VIRTUAL_FAULTS_0: malformed fault rule: busy:many; the rules are: cmd:N:KK/AA/QQ"},
     true, nullptr},
    {"LinksThatLoopDangleOrPointAtASpecialFile",
     [](Fixture& f) {
         f.file("src/a.txt", "alpha");
         f.file("src/sub/b.txt", "beta");
         f.link("nowhere", "src/dangling");
         f.link("loop", "src/loop");
         f.link("..", "src/sub/up");
         EXPECT_EQ(::mkfifo((f.src + "/fifo").c_str(), 0644), 0);
         f.link("fifo", "src/to-fifo");
         return imageOf(f, shellQuoted(f.src));
     },
     0,
     {"velk-cli: {dir}/src/dangling: warning: left out: the symbolic link points at nothing (nowhere)",
      "velk-cli: {dir}/src/loop: warning: left out: the symbolic link loops",
      "velk-cli: {dir}/src/sub/up: warning: left out: it leads back to {dir}/src, a folder it is in (a loop)",
      "velk-cli: {dir}/src/to-fifo: warning: left out: the symbolic link points at a FIFO, not a regular file",
      "velk-cli: {dir}/src/fifo: skipped: a FIFO is not a regular file"},
     false,
     [](Fixture& f, const CliRun&) {
         EXPECT_EQ(listing(f.image), "/sub\n/a.txt\n/sub/b.txt\n");
     }},
    {"NoFollowLinksLeavesEveryLinkOut",
     [](Fixture& f) {
         f.file("src/a.txt", "alpha");
         f.file("src/sub/b.txt", "beta");
         f.link("a.txt", "src/link.txt");
         f.link("sub", "src/dirlink");
         f.link(f.src + "/a.txt", "given.txt");
         return imageOf(f, shellQuoted(f.src) + " " + shellQuoted(f.dir.str() + "/given.txt"), "--no-follow-links");
     },
     0,
     {"velk-cli: {dir}/src/link.txt: warning: left out: it is a symbolic link (--no-follow-links)",
      "velk-cli: {dir}/src/dirlink: warning: left out: it is a symbolic link (--no-follow-links)",
      "velk-cli: {dir}/given.txt: warning: left out: it is a symbolic link (--no-follow-links)"},
     false,
     [](Fixture& f, const CliRun&) {
         EXPECT_EQ(listing(f.image), "/sub\n/a.txt\n/sub/b.txt\n");
     }},
    {"HelpSaysLinksAreFollowed", [](Fixture&) { return std::string("image --help"); }, 0,
     {"symbolic links are followed unless --no-follow-links", "--no-follow-links"}, false, nullptr},
    {"FileThenFolderOfTheSameName",
     [](Fixture& f) {
         f.file("a/x", "file");
         f.file("b/data/x/f.txt", "in the folder");
         return imageOf(f, shellQuoted(f.dir.str() + "/a/x") + " " + shellQuoted(f.dir.str() + "/b/data"));
     },
     0,
     {"velk-cli: {dir}/b/data/x: on the disc as \\x (2): its name is taken in that folder by {dir}/a/x"},
     false,
     [](Fixture& f, const CliRun&) {
         // Joliet tells "x." (the file) from "x" (the folder), UDF would not.
         std::string files = listing(f.image);
         EXPECT_NE(files.find("/x (2)/f.txt"), std::string::npos) << files;
     }},
    {"FolderThenFileOfTheSameName",
     [](Fixture& f) {
         f.file("c/d.txt/q.txt", "in the folder");
         f.file("a/d.txt", "file");
         return imageOf(f, shellQuoted(f.dir.str() + "/c") + " " + shellQuoted(f.dir.str() + "/a/d.txt"));
     },
     0, {"velk-cli: {dir}/a/d.txt: on the disc as \\d (2).txt: its name is taken in that folder by {dir}/c/d.txt"},
     false, nullptr},
    {"FullDisk",
     [](Fixture& f) {
         f.file("src/big.bin", std::string(1 << 20, 'b'));
         if (::geteuid() != 0) {
             f.skip = "a tmpfs is mounted only as root";
         } else if (::mount("tmpfs", f.out.c_str(), "tmpfs", 0, "size=256k") != 0) {
             f.skip = "cannot mount a tmpfs here";
         } else {
             f.cleanUp = [out = f.out] { (void)::umount2(out.c_str(), MNT_DETACH); };
             f.file("out/img.iso", OldImage);
         }
         return imageOf(f, shellQuoted(f.src));
     },
     1, {"velk-cli: image: Error creating file \"{dir}/out/img.iso\": No space left on device"}, true, nullptr},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class VelkCliRefusalsTest : public ::testing::TestWithParam<Case> {};

std::string withDir(std::string text, const std::string& dir) {
    for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir);
    return text;
}

TEST_P(VelkCliRefusalsTest, ExitMessageAndFilesLeft) {
    const Case& c = GetParam();
    Fixture f;
    f.file("out/img.iso", OldImage);
    std::string arguments = c.arrange(f);
    struct CleanUp {
        Fixture& f;
        ~CleanUp() {
            if (f.cleanUp) f.cleanUp();
        }
    } cleanUp{f};
    if (!f.skip.empty()) GTEST_SKIP() << f.skip;
    CliRun run;
    if (f.unprivileged) {
        run = velkCliUnprivileged(arguments);
        if (run.status == 126 || run.status == 127) GTEST_SKIP() << "velk-cli cannot be run as nobody: " << run.output;
    } else {
        run = velkCli(arguments, f.environment);
    }
    EXPECT_EQ(run.status, c.status) << run.output;
    for (const std::string& line : c.says) {
        EXPECT_NE(run.output.find(withDir(line, f.dir.str())), std::string::npos)
            << "missing: " << withDir(line, f.dir.str()) << "\n" << run.output;
    }
    // Every line names what it is about in the one form.
    for (std::size_t start = 0; start < run.output.size() && c.status != 0;) {
        std::size_t end = run.output.find('\n', start);
        std::string line = run.output.substr(start, end - start);
        EXPECT_EQ(line.rfind("velk-cli: ", 0), 0u) << line;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (c.keepsOldImage) {
        EXPECT_EQ(contentsOf(f.out + "/img.iso"), OldImage);
        EXPECT_EQ(namesIn(f.out), std::vector<std::string>{"img.iso"}) << "a partial image was left";
    }
    if (c.check) c.check(f, run);
}

INSTANTIATE_TEST_SUITE_P(Cases, VelkCliRefusalsTest, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velk::testing

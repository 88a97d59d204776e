// velk-cli burn, burn-image, erase and close on virtual discs: what reaches
// the disc, the disc's state afterwards, the exit codes and every refusal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

// Simulated time runs this much faster than the wall clock, so that a burn
// at the medium's speed takes no time worth waiting for.
const std::string FastDrive = "VELK_VIRTUAL_TIME_SCALE=1000000";

// Start of the last track that holds data, from the track table of vdisc show.
std::uint32_t lastSessionStart(const std::string& shown) {
    static const std::regex track(R"(\n\s+\d+\s+\d+\s+(\d+)\s+\d+\s+(\d+)\s+\S+\s+(closed|open|data))");
    std::uint32_t start = 0;
    for (auto it = std::sregex_iterator(shown.begin(), shown.end(), track); it != std::sregex_iterator(); ++it) {
        start = static_cast<std::uint32_t>(std::stoul((*it)[1]));
    }
    return start;
}

std::string contentsOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class VelkCliBurnTest : public ::testing::Test {
protected:
    std::string path(const std::string& relative) const { return dir_.str() + "/" + relative; }

    // A blank disc file of `medium` (a vdisc create name).
    std::string newDisc(const std::string& medium, const std::string& name, int blocks = 0) {
        std::string disc = path(name);
        std::string size = blocks > 0 ? " --blocks " + std::to_string(blocks) : "";
        CliRun made = velkCli("vdisc create --medium " + medium + size + " " + shellQuoted(disc));
        EXPECT_EQ(made.status, 0) << made.output;
        return disc;
    }

    // A folder with what trips burners up: nesting, a non-ASCII name, an
    // empty file, and a file of several 64 KiB chunks that ends mid-block.
    std::string sourceTree() {
        dir_.file("src/readme.txt", "hello disc\n");
        dir_.file("src/empty.dat", "");
        dir_.file("src/deep/er/nested.txt", "nested");
        dir_.file("src/Grüße/straße.txt", "umlauts");
        std::string big;
        for (int i = 0; i < 300000; ++i) big += static_cast<char>('a' + i * 7 % 26);
        dir_.file("src/big.bin", big);
        return path("src");
    }

    CliRun run(const std::string& arguments, const std::string& environment = FastDrive) {
        return velkCli(arguments, environment);
    }

    std::string show(const std::string& disc) {
        CliRun shown = velkCli("vdisc show " + shellQuoted(disc));
        EXPECT_EQ(shown.status, 0) << shown.output;
        return shown.output;
    }

    // Exports the disc's last session and has xorriso extract its files. The
    // export keeps block N of the disc at block N, so a later session is read
    // from its own start, as a drive's reader would.
    std::string exportAndExtract(const std::string& disc, const std::string& name) {
        std::string load;
        if (std::uint32_t start = lastSessionStart(show(disc)); start != 0) {
            load = " -load sbsector " + std::to_string(start);
        }
        std::string image = path(name + ".iso");
        CliRun exported = velkCli("vdisc export -o " + shellQuoted(image) + " " + shellQuoted(disc));
        EXPECT_EQ(exported.status, 0) << exported.output;
        std::string out = path(name);
        std::string command = "xorriso -abort_on FAILURE" + load + " -indev " + shellQuoted(image) +
                              " -osirrox on -extract / " + shellQuoted(out) + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << "xorriso could not read " << image;
        return out;
    }

    TempDir dir_;
};

// Every file below `source` is in `copy` with the same bytes.
void expectSameFiles(const std::filesystem::path& source, const std::filesystem::path& copy) {
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(source)) {
        std::filesystem::path other = copy / std::filesystem::relative(entry.path(), source);
        if (entry.is_directory()) {
            EXPECT_TRUE(std::filesystem::is_directory(other)) << other;
            continue;
        }
        ++files;
        ASSERT_TRUE(std::filesystem::exists(other)) << other;
        EXPECT_EQ(contentsOf(entry.path()), contentsOf(other)) << other;
    }
    EXPECT_GT(files, 0);
}

bool says(const CliRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

TEST_F(VelkCliBurnTest, BurnsAFolderToADvdPlusRInTwoSessionsThenRefusesTheFinalisedDisc) {
    std::string source = sourceTree();
    std::string disc = newDisc("dvd+r", "disc.vdisc");

    CliRun first = run("burn --virtual " + shellQuoted(disc) + " --label FIRST " + shellQuoted(source));
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_TRUE(std::regex_search(first.output, std::regex(R"(burned \d+ blocks .* lowest ring buffer fill)")))
        << first.output;
    EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(disc)), "appendable"));
    expectSameFiles(source, exportAndExtract(disc, "first"));

    dir_.file("second/added.txt", "second session");
    CliRun second = run("burn --close --virtual " + shellQuoted(disc) + " " + shellQuoted(path("second")));
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(disc)), "finalised"));
    expectSameFiles(path("second"), exportAndExtract(disc, "after"));

    CliRun refused = run("burn --virtual " + shellQuoted(disc) + " " + shellQuoted(source));
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_TRUE(says(refused, "velk-cli: burn: the DVD+R in the recorder is finalised and cannot be written"))
        << refused.output;
}

// The summary gives the writing speed and the whole time, says "not
// measured" where a fill was never measured, and counts this burn's
// underruns, not the disc's (the disc file already holds 3 here; the plan
// keeps this burn from adding any, whatever the host's pace).
TEST_F(VelkCliBurnTest, TheSummaryCountsThisBurnsUnderruns) {
    std::string disc = newDisc("dvd+r", "counted.vdisc");
    std::string layout = contentsOf(disc);
    ASSERT_NE(layout.find("underruns 0\n"), std::string::npos) << layout;
    layout.replace(layout.find("underruns 0\n"), 12, "underruns 3\n");
    std::ofstream(disc, std::ios::binary | std::ios::trunc) << layout;
    dir_.file("small/a.txt", "alpha");

    CliRun burned = run("burn -q --virtual " + shellQuoted(disc) + " " + shellQuoted(path("small")),
                        FastDrive + " VELK_VIRTUAL_FAULTS=no-underruns");
    ASSERT_EQ(burned.status, 0) << burned.output;
    EXPECT_TRUE(std::regex_search(burned.output,
                                  std::regex(R"(burned \d+ blocks \([\d.]+ MB\): [\d.]+ MB/s writing \([\d.]+x\), )"
                                             R"([\d.]+ s in all; lowest ring buffer fill (\d+%|not measured), )"
                                             R"(lowest drive buffer fill (\d+%|not measured); 0 underruns\n)")))
        << burned.output;
    EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(disc)), "underruns:  3\n"));

    // A test write records nothing, so its underruns are not known.
    std::string cd = newDisc("cd-r", "tested.vdisc");
    CliRun tested = run("burn -q --test --virtual " + shellQuoted(cd) + " " + shellQuoted(path("small")));
    ASSERT_EQ(tested.status, 0) << tested.output;
    EXPECT_TRUE(says(tested, "test-wrote ")) << tested.output;
    EXPECT_FALSE(says(tested, "underrun")) << tested.output;
}

// A plain reader of an exported image sees session 1; the start that show
// and export print (xorriso -load sbsector N) is what reads a later session.
// --session-only writes that session's blocks alone.
TEST_F(VelkCliBurnTest, ExportsSayWhereALaterSessionStarts) {
    std::string source = sourceTree();
    std::string disc = newDisc("dvd+r", "two.vdisc");
    ASSERT_EQ(run("burn -q --virtual " + shellQuoted(disc) + " " + shellQuoted(source)).status, 0);
    dir_.file("second/added.txt", "second session");
    ASSERT_EQ(run("burn -q --virtual " + shellQuoted(disc) + " " + shellQuoted(path("second"))).status, 0);

    std::smatch second;
    std::string shown = show(disc);
    EXPECT_TRUE(std::regex_search(shown, std::regex(R"(\n  session 1: blocks 0 to \d+; )"
                                                    R"(xorriso -load sbsector 0 -indev IMAGE\n)")))
        << shown;
    ASSERT_TRUE(std::regex_search(shown, second,
                                  std::regex(R"(\n  session 2: blocks (\d+) to (\d+); xorriso -load sbsector (\d+) )")))
        << shown;
    const std::uint32_t start = static_cast<std::uint32_t>(std::stoul(second[1]));
    const std::uint32_t last = static_cast<std::uint32_t>(std::stoul(second[2]));
    ASSERT_GT(start, 0u);
    EXPECT_EQ(second[3], second[1]);

    std::string image = path("two.iso");
    CliRun exported = velkCli("vdisc export -o " + shellQuoted(image) + " " + shellQuoted(disc));
    ASSERT_EQ(exported.status, 0) << exported.output;
    const std::string command = "xorriso -load sbsector " + std::to_string(start) + " -indev " + image;
    EXPECT_TRUE(says(exported, "read it with: " + command + "\n")) << exported.output;
    EXPECT_EQ(std::filesystem::file_size(image), (last + 1) * 2048ull);

    auto holdsAdded = [&](const std::string& load, const std::string& name) {
        std::string out = path(name);
        std::string extract = "xorriso -abort_on FAILURE" + load + " -indev " + shellQuoted(image) +
                              " -osirrox on -extract / " + shellQuoted(out) + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(extract.c_str()), 0) << extract;
        return std::filesystem::exists(out + "/added.txt");
    };
    EXPECT_FALSE(holdsAdded("", "plain")) << "a plain reader sees session 2";
    EXPECT_TRUE(holdsAdded(" -load sbsector " + std::to_string(start), "loaded"));

    // Standard output: the image there, the start on standard error.
    std::string piped = path("piped.iso");
    std::string messages = path("messages.txt");
    CliRun toStdout = velkCli("vdisc export -o - " + shellQuoted(disc) + " 2>" + shellQuoted(messages) + " | cat >" +
                              shellQuoted(piped));
    ASSERT_EQ(toStdout.status, 0) << toStdout.output;
    EXPECT_TRUE(contentsOf(piped) == contentsOf(image)) << "the image on standard output differs";
    EXPECT_NE(contentsOf(messages).find("xorriso -load sbsector " + std::to_string(start)), std::string::npos)
        << contentsOf(messages);

    std::string alone = path("alone.iso");
    CliRun sessionOnly = velkCli("vdisc export --session-only -o " + shellQuoted(alone) + " " + shellQuoted(disc));
    ASSERT_EQ(sessionOnly.status, 0) << sessionOnly.output;
    EXPECT_TRUE(says(sessionOnly, "isoinfo -N " + std::to_string(start) + " -i " + alone)) << sessionOnly.output;
    EXPECT_TRUE(contentsOf(alone) == contentsOf(image).substr(std::size_t{start} * 2048)) << "not the session's blocks";
}

TEST_F(VelkCliBurnTest, TestWriteAtFourTimesLeavesTheDiscAsItWas) {
    std::string source = sourceTree();
    struct Case {
        const char* medium;
        const char* speedBytes;  // SET CD SPEED write speed: 4 x 176.4 kB/s on CD, 4 x 1385 on DVD
    } cases[] = {{"cd-r", "FF FF 02 C2"}, {"dvd-r", "FF FF 15 A4"}};
    for (const Case& c : cases) {
        std::string disc = newDisc(c.medium, std::string(c.medium) + ".vdisc");
        std::string journal = path(std::string(c.medium) + ".journal");
        std::string before = show(disc);
        CliRun tested = run("burn --test --speed 4 --virtual " + shellQuoted(disc) + " " + shellQuoted(source),
                            FastDrive + " VELK_VIRTUAL_JOURNAL=" + shellQuoted(journal));
        EXPECT_EQ(tested.status, 0) << c.medium << "\n" << tested.output;
        EXPECT_TRUE(says(tested, "test-wrote")) << tested.output;
        EXPECT_EQ(show(disc), before) << c.medium;
        EXPECT_NE(contentsOf(journal).find(std::string("T0 BB 00 ") + c.speedBytes), std::string::npos) << c.medium;
    }
}

// A test write to a blank sequential DVD-RW failed with Hardware Error 8450:
// the writer took the disc for overwritable and wrote address 0 twice.
TEST_F(VelkCliBurnTest, TestWriteToABlankSequentialDvdRwNoLongerFailsWithHardwareError8450) {
    std::string source = sourceTree();
    std::string disc = newDisc("dvd-rw", "dvd-rw.vdisc");
    std::string before = show(disc);
    CliRun tested = run("burn --test --virtual " + shellQuoted(disc) + " " + shellQuoted(source));
    EXPECT_EQ(tested.status, 0) << tested.output;
    EXPECT_TRUE(says(tested, "test-wrote")) << tested.output;
    EXPECT_EQ(show(disc), before);
}

TEST_F(VelkCliBurnTest, BurnImageWritesTheImageFromBlockZero) {
    std::string source = sourceTree();
    std::string image = path("made.iso");
    ASSERT_EQ(velkCli("image -q -o " + shellQuoted(image) + " " + shellQuoted(source)).status, 0);
    std::string disc = newDisc("cd-r", "cd.vdisc");

    CliRun burned = run("burn-image " + shellQuoted(image) + " --virtual " + shellQuoted(disc));
    ASSERT_EQ(burned.status, 0) << burned.output;
    expectSameFiles(source, exportAndExtract(disc, "fromimage"));

    // The disc now holds a session: another image would not start at 0.
    CliRun again = run("burn-image " + shellQuoted(image) + " --virtual " + shellQuoted(disc));
    EXPECT_EQ(again.status, 1) << again.output;
    EXPECT_TRUE(says(again, "velk-cli: burn-image: the CD-R in the recorder is not blank")) << again.output;
}

TEST_F(VelkCliBurnTest, EraseBlanksARewritableDisc) {
    std::string source = sourceTree();
    for (const char* mode : {"", "--full "}) {
        std::string disc = newDisc("cd-rw", std::string("rw") + (*mode ? "full" : "quick") + ".vdisc");
        ASSERT_EQ(run("burn --virtual " + shellQuoted(disc) + " " + shellQuoted(source)).status, 0);
        ASSERT_FALSE(says(velkCli("vdisc show " + shellQuoted(disc)), "state:      blank"));
        CliRun erased = run(std::string("erase ") + mode + "--virtual " + shellQuoted(disc));
        EXPECT_EQ(erased.status, 0) << erased.output;
        EXPECT_TRUE(says(erased, *mode ? "erased the CD-RW (full)" : "erased the CD-RW (quick)")) << erased.output;
        EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(disc)), "state:      blank"));
    }
}

TEST_F(VelkCliBurnTest, FailedJobsExitOneWithTheReasonAndCloseMendsAnOpenSession) {
    std::string source = sourceTree();
    std::string disc = newDisc("dvd+r", "faulty.vdisc");

    // Every WRITE from block 64 on fails with a write error (03/0C/00).
    CliRun broken = run("burn --virtual " + shellQuoted(disc) + " " + shellQuoted(source),
                        FastDrive + " VELK_VIRTUAL_FAULTS=write:64:03/0C/00");
    EXPECT_EQ(broken.status, 1) << broken.output;
    EXPECT_TRUE(says(broken, "velk-cli: burn: Hardware Error 3072")) << broken.output;
    show(disc);  // still a readable disc file

    // Every CLOSE TRACK/SESSION refused: the data is written, the session open.
    std::string open = newDisc("dvd+r", "open.vdisc");
    CliRun unclosed = run("burn --virtual " + shellQuoted(open) + " " + shellQuoted(source),
                          FastDrive + " VELK_VIRTUAL_FAULTS=op:5B:05/24/00");
    EXPECT_EQ(unclosed.status, 1) << unclosed.output;
    EXPECT_TRUE(says(unclosed, "velk-cli: burn: Hardware Error")) << unclosed.output;

    CliRun closed = run("close --virtual " + shellQuoted(open));
    ASSERT_EQ(closed.status, 0) << closed.output;
    EXPECT_TRUE(says(closed, "closed the DVD+R")) << closed.output;
    EXPECT_TRUE(says(velkCli("vdisc show " + shellQuoted(open)), "appendable"));
    expectSameFiles(source, exportAndExtract(open, "closed"));
}

TEST_F(VelkCliBurnTest, CtrlCStopsTheBurnAndClosesWhatWasWritten) {
    std::string file = dir_.file("large.bin", std::string(40 << 20, 'L'));
    std::string disc = newDisc("dvd+r", "aborted.vdisc");
    std::string journal = path("journal.txt");
    std::string out = path("out.txt");
    // At 1x on a clock ten times the wall clock's the burn takes some 3 s;
    // it is stopped as soon as the journal shows the first WRITE.
    std::string command = "VELK_VIRTUAL_TIME_SCALE=10 VELK_VIRTUAL_JOURNAL=" + shellQuoted(journal) + " " +
                          VELK_BINARY_DIR + "/cli/velk-cli burn --speed 1 --virtual " + shellQuoted(disc) + " " +
                          shellQuoted(file) + " >" + shellQuoted(out) + " 2>&1 & echo $!; wait $!; echo $?";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    std::string pid = std::to_string(std::stol(line));

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (contentsOf(journal).find("T0 2A ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    // Twice: the second must neither kill the program nor cut the closing short.
    std::string interrupt = "kill -INT " + pid + "; kill -INT " + pid;
    EXPECT_EQ(std::system(interrupt.c_str()), 0);
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    ::pclose(pipe);

    std::string said = contentsOf(out);
    EXPECT_EQ(std::stoi(line), 1) << said;
    EXPECT_NE(said.find("velk-cli: burn: stopping"), std::string::npos) << said;
    EXPECT_NE(said.find("velk-cli: burn: Aborted by user"), std::string::npos) << said;
    std::string shown = show(disc);
    EXPECT_NE(shown.find("appendable"), std::string::npos) << shown;
    std::smatch first;
    ASSERT_TRUE(std::regex_search(shown, first, std::regex(R"(\n\s+1\s+1\s+0\s+\d+\s+(\d+)\s+\S+\s+closed)")))
        << shown;
    EXPECT_LT(std::stoul(first[1]), (40u << 20) / 2048 / 2) << shown;
}

TEST_F(VelkCliBurnTest, RefusesBeforeStarting) {
    dir_.file("one.txt", "1");
    std::string file = shellQuoted(path("one.txt"));
    std::string big = shellQuoted(dir_.file("big.bin", std::string(1 << 20, 'x')));
    std::string missing = shellQuoted(path("missing.vdisc"));  // a drive with no disc
    std::string cdr = shellQuoted(newDisc("cd-r", "cdr.vdisc"));
    std::string dvdr = shellQuoted(newDisc("dvd+r", "dvdr.vdisc"));
    std::string dvdrw = shellQuoted(newDisc("dvd+rw", "dvdrw.vdisc"));
    std::string tiny = shellQuoted(newDisc("dvd+r", "tiny.vdisc", 200));
    std::string pressedImage = path("pressed.iso");
    ASSERT_EQ(velkCli("image -q -o " + shellQuoted(pressedImage) + " " + file).status, 0);
    std::string pressed = path("pressed.vdisc");
    ASSERT_EQ(velkCli("vdisc create --medium cd-rom --image " + shellQuoted(pressedImage) + " " +
                      shellQuoted(pressed))
                  .status,
              0);
    pressed = shellQuoted(pressed);

    struct Case {
        std::string arguments;
        std::string says;
    } cases[] = {
        {"burn --virtual " + missing + " " + file, "velk-cli: burn: no disc in the recorder"},
        {"burn-image " + file + " --virtual " + missing, "velk-cli: burn-image: no disc in the recorder"},
        {"erase --virtual " + missing, "velk-cli: erase: no disc in the recorder"},
        {"close --virtual " + missing, "velk-cli: close: no disc in the recorder"},
        {"burn --virtual " + pressed + " " + file, "velk-cli: burn: the disc is a CD-ROM, which is read-only"},
        {"erase --virtual " + pressed, "velk-cli: erase: a CD-ROM cannot be erased (read-only)"},
        {"erase --virtual " + cdr, "velk-cli: erase: a CD-R cannot be erased (write-once)"},
        {"erase --virtual " + dvdr, "velk-cli: erase: a DVD+R cannot be erased (write-once)"},
        {"burn --virtual " + tiny + " " + big, "velk-cli: burn: the image needs "},
        {"burn-image " + big + " --virtual " + tiny, "velk-cli: burn-image: "},
        {"burn --test --virtual " + dvdr + " " + file, "velk-cli: burn: a DVD+R cannot be test-written"},
        {"burn --test --virtual " + dvdrw + " " + file, "velk-cli: burn: a DVD+RW cannot be test-written"},
        {"close --virtual " + cdr, "velk-cli: close: the CD-R in the recorder is blank; there is nothing to close"},
        {"burn-image " + shellQuoted(path("nothing.iso")) + " --virtual " + cdr,
         "velk-cli: burn-image: " + path("nothing.iso") + ": No such file or directory"},
        {"burn --device 3 --virtual " + cdr + " " + file, "velk-cli: burn: no recorder 3"},
        {"erase --trace /nonexistent-velk/trace.log --virtual " + cdr,
         "velk-cli: erase: /nonexistent-velk/trace.log: cannot open the trace log"},
        {"burn-image " + shellQuoted(dir_.file("empty.iso")) + " --virtual " + cdr,
         "velk-cli: burn-image: " + path("empty.iso") + ": the image file is empty"},
        {"burn --virtual " + cdr + " " + shellQuoted(path("absent")), "no such file or folder"},
    };
    for (const Case& c : cases) {
        CliRun refused = run(c.arguments);
        EXPECT_EQ(refused.status, 1) << c.arguments << "\n" << refused.output;
        EXPECT_TRUE(says(refused, c.says)) << c.arguments << "\n" << refused.output;
    }

    // Too large: both block counts are named, and the disc is left alone.
    std::string before = show(path("tiny.vdisc"));
    const std::string tooLarge[] = {"burn --virtual " + tiny + " " + big, "burn-image " + big + " --virtual " + tiny};
    for (const std::string& arguments : tooLarge) {
        std::smatch numbers;
        CliRun refused = run(arguments);
        ASSERT_TRUE(std::regex_search(refused.output, numbers,
                                      std::regex(R"(needs (\d+) blocks but the disc has only (\d+) free blocks)")))
            << refused.output;
        EXPECT_GT(std::stoul(numbers[1]), std::stoul(numbers[2]));
        EXPECT_LE(std::stoul(numbers[2]), 200u);
    }
    EXPECT_EQ(show(path("tiny.vdisc")), before);
}

TEST_F(VelkCliBurnTest, NoRecorderAndUsageErrors) {
    dir_.file("one.txt", "1");
    std::string file = shellQuoted(path("one.txt"));
    std::string cdr = shellQuoted(newDisc("cd-r", "cdr.vdisc"));

    CliRun noPlugin = run("burn --virtual " + cdr + " " + file, "VELK_VIRTUAL_RECORDER_LIBRARY=/nonexistent/libx.so");
    EXPECT_EQ(noPlugin.status, 1) << noPlugin.output;
    EXPECT_TRUE(says(noPlugin, "velk-cli: burn: the virtual recorder (/nonexistent/libx.so) cannot be used"));

    // Without --virtual only the machine's own drives count; most build
    // machines have none, and then every recording command says so.
    if (velkCli("devices").status == 1) {
        const std::string commands[] = {"burn " + file, "burn-image " + file, "erase", "close"};
        for (const std::string& arguments : commands) {
            CliRun none = run(arguments);
            EXPECT_EQ(none.status, 1) << arguments << "\n" << none.output;
            EXPECT_TRUE(says(none, ": no recorder found")) << arguments << "\n" << none.output;
        }
    }

    const std::string usageErrors[] = {
        "burn --virtual " + cdr,           "burn --speed -1 --virtual " + cdr + " " + file,
        "burn --speed fast --virtual " + cdr + " " + file, "burn-image --virtual " + cdr,
        "erase --quick --virtual " + cdr,  "close --full --virtual " + cdr,
    };
    for (const std::string& arguments : usageErrors) {
        CliRun usage = run(arguments);
        EXPECT_EQ(usage.status, 2) << arguments << "\n" << usage.output;
    }
}

}  // namespace
}  // namespace velk::testing

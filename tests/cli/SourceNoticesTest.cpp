// What velk-cli says about the sources it puts on a disc: renamed case
// twins, names that are not UTF-8, skipped special files, volume labels
// that a tree cannot hold whole, and the default label.
#include "cli/SourceNotices.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "platform/Time.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

using cli::defaultVolumeLabel;
using cli::sourceNoticeLine;
using cli::volumeLabelForms;

// Everything a function prints to a FILE*, read back.
template <typename Print>
std::string printed(Print print) {
    std::FILE* out = std::tmpfile();
    print(out);
    std::rewind(out);
    std::string text;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
    std::fclose(out);
    return text;
}

TEST(SourceNoticesTest, OneLinePerNotice) {
    struct Case {
        SourceNotice notice;
        const char* line;
    } cases[] = {
        {{SourceNoticeKind::Renamed, "/src/index.html", u"\\index (2).html", ""},
         "velk-cli: /src/index.html: on the disc as \\index (2).html: its name is taken in that "
         "folder (letter case is not told apart)"},
        {{SourceNoticeKind::Renamed, "/b/x", u"\\x (2)", "", "/a/x"},
         "velk-cli: /b/x: on the disc as \\x (2): its name is taken in that folder by /a/x"},
        // Invalid bytes are shown escaped, the disc name with U+FFFD.
        {{SourceNoticeKind::InvalidName, "/src/caf\xE9.txt", u"\\caf\uFFFD.txt", ""},
         "velk-cli: /src/caf\\xE9.txt: name is not valid UTF-8; on the disc as \\caf\xEF\xBF\xBD.txt"},
        {{SourceNoticeKind::SpecialFile, "/src/pipe", u"", "FIFO"},
         "velk-cli: /src/pipe: skipped: a FIFO is not a regular file"},
        {{SourceNoticeKind::Excluded, "/src/img.iso", u"", "it is the image being written"},
         "velk-cli: /src/img.iso: warning: left out: it is the image being written"},
        {{SourceNoticeKind::LinkLoop, "/src/sub/up", u"", "/src"},
         "velk-cli: /src/sub/up: warning: left out: it leads back to /src, a folder it is in (a loop)"},
        {{SourceNoticeKind::LinkLoop, "/src/self", u"", ""},
         "velk-cli: /src/self: warning: left out: the symbolic link loops"},
        {{SourceNoticeKind::Vanished, "/src/tmp.txt", u"", ""},
         "velk-cli: /src/tmp.txt: warning: left out: it was removed while its folder was read"},
        {{SourceNoticeKind::UnreadableFolder, "/src/locked", u"\\locked\\", "", "", EACCES},
         "velk-cli: /src/locked: cannot read folder: Permission denied"},
        // Only the path's own limit gets a word on it.
        {{SourceNoticeKind::Unreadable, "/src/deep", u"", "", "", ENAMETOOLONG},
         "velk-cli: /src/deep: cannot read: File name too long (the system takes paths of at most 4096 bytes)"},
        {{SourceNoticeKind::Unreadable, "/src/link", u"", "", "", EACCES},
         "velk-cli: /src/link: cannot read: Permission denied"},
    };
    for (const Case& c : cases) EXPECT_EQ(sourceNoticeLine(c.notice), c.line);
}

TEST(SourceNoticesTest, EngineNoticesArePrintedAndSpecialFilesAreNoFailure) {
    TempDir dir;
    dir.file("a/Readme.txt", "1");
    dir.file("b/README.TXT", "2");
    std::string fifo = dir.str() + "/pipe";
    ASSERT_EQ(std::system(("mkfifo " + shellQuoted(fifo)).c_str()), 0);
    BurnEngine engine;
    ASSERT_NE(engine.AddFile("\\", (dir.str() + "/a/Readme.txt").c_str()), nullptr);
    ASSERT_NE(engine.AddFile("\\", (dir.str() + "/b/README.TXT").c_str()), nullptr);
    EXPECT_EQ(engine.AddFile("\\", fifo.c_str()), nullptr);
    EXPECT_TRUE(cli::skippedAsSpecialFile(engine, fifo));
    EXPECT_FALSE(cli::skippedAsSpecialFile(engine, dir.str() + "/a/Readme.txt"));
    std::string text = printed([&](std::FILE* out) { cli::printSourceNotices(engine, out); });
    EXPECT_EQ(text, "velk-cli: " + dir.str() + "/b/README.TXT: on the disc as \\README (2).TXT: its name "
                    "is taken in that folder by " + dir.str() + "/a/Readme.txt (letter case is not told apart)\n"
                    "velk-cli: " + fifo + ": skipped: a FIFO is not a regular file\n");
}

TEST(SourceNoticesTest, DefaultLabelIsTheOneFoldersNameElseTheDate) {
    TempDir dir;
    std::string folder = dir.folder("Holiday Photos");
    std::string file = dir.file("notes.txt");
    const platform::SystemTime today = platform::fileTimeToLocal(platform::currentFileTime());
    char date[32];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u", unsigned{today.year}, unsigned{today.month},
                  unsigned{today.day});
    struct Case {
        std::vector<std::string> paths;
        std::string label;
    } cases[] = {
        {{folder}, "Holiday Photos"},
        {{folder + "/"}, "Holiday Photos"},
        {{folder + "/."}, "Holiday Photos"},
        {{file}, date},
        {{folder, file}, date},
        {{"/"}, date},
    };
    for (const Case& c : cases) EXPECT_EQ(defaultVolumeLabel(c.paths), c.label) << c.paths[0];
}

TEST(SourceNoticesTest, WhatEachTreeKeepsOfALabel) {
    struct Case {
        std::string label;
        const char* iso;
        const char* joliet;
        const char* udf;
        int warnings;
    } cases[] = {
        {"Backup", "BACKUP", "Backup", "Backup", 0},
        {"Fifteen chars!!", "FIFTEEN CHARS!!", "Fifteen chars!!", "Fifteen chars!!", 0},
        {"Sixteen chars!!!", "SIXTEEN CHARS!!!", "Sixteen chars!!!", "Sixteen chars!!", 1},
        {"Family holiday pictures, summer 2009", "FAMILY HOLIDAY PICTURES, SUMMER ",
         "Family holiday p", "Family holiday ", 3},
        // A character is never cut: U+1F600 is two units, four bytes.
        {"fourteen chars\U0001F600", "FOURTEEN CHARS\xF0\x9F\x98\x80", "fourteen chars\xF0\x9F\x98\x80",
         "fourteen chars", 1},
    };
    for (const Case& c : cases) {
        cli::VolumeLabelForms forms = volumeLabelForms(c.label);
        EXPECT_EQ(forms.iso, c.iso) << c.label;
        EXPECT_EQ(forms.joliet, c.joliet) << c.label;
        EXPECT_EQ(forms.udf, c.udf) << c.label;
        std::string text = printed([&](std::FILE* out) { cli::warnVolumeLabel(c.label, out); });
        int lines = 0;
        for (char ch : text) lines += ch == '\n';
        EXPECT_EQ(lines, c.warnings) << text;
    }
    std::string text = printed([](std::FILE* out) { cli::warnVolumeLabel("Sixteen chars!!!", out); });
    EXPECT_EQ(text, "velk-cli: volume label \"Sixteen chars!!!\": UDF keeps 15 characters: \"Sixteen chars!!\"\n");
}

TEST(SourceNoticesTest, TreeCommandSaysWhatItRenamedAndSkipped) {
    TempDir dir;
    dir.file("src/Index.html", "I");
    dir.file("src/index.html", "i");
    ASSERT_EQ(std::system(("mkfifo " + shellQuoted(dir.str() + "/src/pipe")).c_str()), 0);
    CliRun run = velkCli("tree " + shellQuoted(dir.str() + "/src") + " " + shellQuoted(dir.str() + "/src/pipe"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("velk-cli: " + dir.str() + "/src/index.html: on the disc as \\index (2).html"),
              std::string::npos) << run.output;
    EXPECT_NE(run.output.find("velk-cli: " + dir.str() + "/src/pipe: skipped: a FIFO is not a regular file\n"
                              "velk-cli: " + dir.str() + "/src/pipe: skipped"),
              std::string::npos) << run.output;
    EXPECT_NE(run.output.find("index (2).html  [iso INDEX~2.HTM"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("pipe  ["), std::string::npos) << run.output;
}

// A name that is not UTF-8 is written (the producer opens the file by its
// own bytes) and warned about; the image carries the bytes.
TEST(SourceNoticesTest, ImageOfANameThatIsNotUtf8) {
    TempDir dir;
    dir.file("src/caf\xE9.txt", "latin-1 name\n");
    std::string image = dir.str() + "/out.iso";
    CliRun run = velkCli("image -q -o " + shellQuoted(image) + " " + shellQuoted(dir.str() + "/src"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("velk-cli: " + dir.str() + "/src/caf\\xE9.txt: name is not valid UTF-8; on "
                              "the disc as \\caf\xEF\xBF\xBD.txt"),
              std::string::npos)
        << run.output;
    std::string command = "7zz e -so -tudf " + shellQuoted(image) + " 'caf\xEF\xBF\xBD.txt' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string content;
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) content.append(buffer, n);
    ::pclose(pipe);
    EXPECT_EQ(content, "latin-1 name\n");
}

}  // namespace
}  // namespace velk::testing

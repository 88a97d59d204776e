// velk-cli --json on virtual discs: stdout holds one object and nothing
// else, valid against docs/velk-cli.schema.json (checked by Python's
// jsonschema through tests/cli/check_json.py), with the numbers the text
// output gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

const std::string FastDrive = "VELK_VIRTUAL_TIME_SCALE=1000000";

std::string contentsOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int shellStatus(const std::string& command) {
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

struct JsonRun {
    int status = -1;
    std::string json;      // stdout
    std::string messages;  // stderr
    std::string problems;  // what the checker found; empty when valid
};

class VelkCliJsonTest : public ::testing::Test {
protected:
    std::string path(const std::string& relative) const { return dir_.str() + "/" + relative; }

    std::string newDisc(const std::string& medium, const std::string& name) {
        CliRun made = velkCli("vdisc create --medium " + medium + " " + shellQuoted(path(name)));
        EXPECT_EQ(made.status, 0) << made.output;
        return path(name);
    }

    // Runs `velk-cli COMMAND --json ARGUMENTS` with stdout and stderr apart, and
    // checks stdout against the schema's object for `command`.
    JsonRun runJson(const std::string& command, const std::string& arguments) {
        const std::string out = path("stdout.json"), err = path("stderr.txt");
        JsonRun run;
        run.status = shellStatus(FastDrive + " " + std::string(VELK_BINARY_DIR) + "/cli/velk-cli " + command + " --json " +
                                 arguments + " >" + shellQuoted(out) + " 2>" + shellQuoted(err));
        run.json = contentsOf(out);
        run.messages = contentsOf(err);
        const std::string report = path("check.txt");
        const int checked = shellStatus("python3 " + std::string(VELK_SOURCE_DIR) + "/tests/cli/check_json.py " +
                                        std::string(VELK_SOURCE_DIR) + "/docs/velk-cli.schema.json " + command +
                                        " <" + shellQuoted(out) + " >" + shellQuoted(report) + " 2>&1");
        if (checked != 0) run.problems = "checker exit " + std::to_string(checked) + ": " + contentsOf(report);
        return run;
    }

    TempDir dir_;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(VelkCliJsonTest, EveryCommandPrintsOneObjectTheSchemaAccepts) {
    dir_.file("src/readme.txt", "hello disc\n");
    dir_.file("src/deep/nested.txt", "nested");
    dir_.file("src/Grüße.txt", "umlauts");
    const std::string disc = newDisc("dvd+r", "disc.vdisc");
    const std::string onDisc = "--virtual " + shellQuoted(disc);

    JsonRun devices = runJson("devices", onDisc);
    EXPECT_EQ(devices.status, 0) << devices.messages;
    EXPECT_EQ(devices.problems, "") << devices.json;
    EXPECT_TRUE(has(devices.json, R"({"index":0,"name":")")) << devices.json;

    JsonRun blank = runJson("info", onDisc);
    EXPECT_EQ(blank.status, 0) << blank.messages;
    EXPECT_EQ(blank.problems, "") << blank.json;
    EXPECT_TRUE(has(blank.json, R"("disc":{"type":)")) << blank.json;
    EXPECT_TRUE(has(blank.json, R"("name":"DVD+R"},"session_count":0,"sessions":[],"writable":true)")) << blank.json;

    JsonRun first = runJson("burn", onDisc + " --label FIRST --verify " + shellQuoted(path("src")));
    ASSERT_EQ(first.status, 0) << first.messages;
    EXPECT_EQ(first.problems, "") << first.json;
    EXPECT_TRUE(has(first.json, R"({"command":"burn","test":false,"medium":"DVD+R","blocks":)")) << first.json;
    EXPECT_FALSE(has(first.json, R"("verified_blocks":null)")) << "--verify was given: " << first.json;

    // The second session's "appending" line goes to stderr, stdout keeps
    // the object alone.
    dir_.file("more/added.txt", "second session");
    JsonRun second = runJson("burn", onDisc + " " + shellQuoted(path("more")));
    ASSERT_EQ(second.status, 0) << second.messages;
    EXPECT_EQ(second.problems, "") << second.json;
    EXPECT_TRUE(has(second.messages, "appending session 2")) << second.messages;
    EXPECT_TRUE(has(second.json, R"("verified_blocks":null})")) << second.json;

    JsonRun info = runJson("info", onDisc);
    EXPECT_EQ(info.problems, "") << info.json;
    EXPECT_TRUE(has(info.json, R"("session_count":2,"sessions":[{"number":1,"start":0,"blocks":)")) << info.json;

    JsonRun ls = runJson("ls", onDisc + " --session 1");
    EXPECT_EQ(ls.status, 0) << ls.messages;
    EXPECT_EQ(ls.problems, "") << ls.json;
    EXPECT_TRUE(has(ls.json, R"({"command":"ls","session":1,"entries":[)")) << ls.json;
    EXPECT_TRUE(has(ls.json, R"({"path":"/deep/","type":"folder","size":0,"date":")")) << ls.json;
    EXPECT_TRUE(has(ls.json, R"({"path":"/readme.txt","type":"file","size":11,"date":")")) << ls.json;
    EXPECT_TRUE(has(ls.json, R"({"path":"/Grüße.txt","type":"file","size":7,)")) << ls.json;

    JsonRun same = runJson("compare", onDisc + " --session 1 " + shellQuoted(path("src")));
    EXPECT_EQ(same.status, 0) << same.messages;
    EXPECT_EQ(same.problems, "") << same.json;
    EXPECT_TRUE(has(same.json, R"("session":1,"identical":true,"matching":3,"differing":[],)")) << same.json;

    // One file changed in length, one in content, one gone, one new: each
    // in its own list, and the exit status says they differ.
    dir_.file("src/readme.txt", "hello disc, longer now\n");
    dir_.file("src/deep/nested.txt", "NESTED");
    std::filesystem::remove(path("src/Grüße.txt"));
    dir_.file("src/new.txt", "new");
    JsonRun changed = runJson("compare", onDisc + " --session 1 " + shellQuoted(path("src")));
    EXPECT_EQ(changed.status, 1) << changed.messages;
    EXPECT_EQ(changed.problems, "") << changed.json;
    EXPECT_TRUE(has(changed.json, R"("identical":false,"matching":0,"differing":[)")) << changed.json;
    EXPECT_TRUE(has(changed.json, R"({"path":"/deep/nested.txt","reason":"contents differ from byte 0",)"
                                  R"("disc_bytes":6,"folder_bytes":6})"))
        << changed.json;
    EXPECT_TRUE(has(changed.json, R"({"path":"/readme.txt","reason":"11 bytes on the disc, 23 in the folder",)"
                                  R"("disc_bytes":11,"folder_bytes":23})"))
        << changed.json;
    EXPECT_TRUE(has(changed.json, R"("missing_on_disc":["/new.txt"],"only_on_disc":["/Grüße.txt"]})")) << changed.json;
}

TEST_F(VelkCliJsonTest, BurnImageGivesTheBurnSummaryAndAFailurePrintsNoObject) {
    dir_.file("src/a.txt", "alpha");
    const std::string image = path("a.iso");
    CliRun made = velkCli("image -q -o " + shellQuoted(image) + " " + shellQuoted(path("src")));
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string disc = newDisc("cd-r", "cd.vdisc");

    JsonRun burned = runJson("burn-image", "--virtual " + shellQuoted(disc) + " --test " + shellQuoted(image));
    ASSERT_EQ(burned.status, 0) << burned.messages;
    EXPECT_EQ(burned.problems, "") << burned.json;
    EXPECT_TRUE(has(burned.json, R"({"command":"burn-image","test":true,"medium":"CD-R","blocks":)")) << burned.json;

    // A disc that cannot take the image: the reason on stderr, stdout empty.
    const std::string pressed = path("rom.vdisc");
    ASSERT_EQ(velkCli("vdisc create --medium cd-rom --image " + shellQuoted(image) + " " + shellQuoted(pressed)).status,
              0);
    JsonRun refused = runJson("burn-image", "--virtual " + shellQuoted(pressed) + " " + shellQuoted(image));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.json, "");
    EXPECT_TRUE(has(refused.messages, "read-only")) << refused.messages;
}

}  // namespace
}  // namespace velk::testing

// ./run.sh as a new user meets it, without a real build: a copy of the
// script runs in a folder of its own with cmake, dpkg-query and xorriso
// replaced by small scripts, and velk-cli by one that a case can make fail.
// What is held: the build says what it does and shows one line per step, a
// failed build shows its end, and a failed burn leaves the last run's image.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/CliRun.h"
#include "support/TempDir.h"

namespace velk::testing {
namespace {

std::string contentsOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool says(const CliRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

// cmake --build prints what Make prints, its exit status taken from
// $BUILD_STATUS; velk-cli's burn exits with $BURN_STATUS and its export
// writes "the new image".
const char* const FakeCmake = R"(#!/bin/sh
case "$1" in
--build)
  echo "[  4%] Building CXX object CMakeFiles/velk_platform.dir/platform/Text.cpp.o"
  echo "In file included from somewhere.h:1:"
  echo "[ 50%] Built target velk_platform"
  echo "[100%] Linking CXX executable velk-cli"
  [ "${BUILD_STATUS:-0}" -eq 0 ] || echo "engine.cpp:1: error: the build broke here"
  exit "${BUILD_STATUS:-0}" ;;
*) echo "-- Configuring done" ;;
esac
)";

const char* const FakeVelkCli = R"(#!/bin/sh
case "$1 $2" in
"vdisc create") : > "$5" ;;
"vdisc show") echo "state:      appendable" ;;
"vdisc export") printf 'the new image' > "$5"; echo "$5: 320 blocks" ;;
burn*) echo "burned 320 blocks"; exit "${BURN_STATUS:-0}" ;;
esac
)";

class RunScript : public ::testing::Test {
protected:
    RunScript() {
        std::filesystem::copy_file(std::string(VELK_SOURCE_DIR) + "/run.sh", dir_.path() / "run.sh");
        tool("bin/cmake", FakeCmake);
        tool("bin/dpkg-query", "#!/bin/sh\necho 'install ok installed'\n");
        tool("bin/apt-get", "#!/bin/sh\necho 'apt-get must not run here'; exit 1\n");
        tool("bin/xorriso", "#!/bin/sh\necho \"listing of $2\"\n");
        tool("build/run/cli/velk-cli", FakeVelkCli);
    }

    void tool(const std::string& relative, const std::string& script) {
        std::string file = dir_.file(relative, script);
        ::chmod(file.c_str(), 0755);
    }

    CliRun runScript(const std::string& environment) {
        return runShell("cd " + shellQuoted(dir_.str()) + " && PATH=" + shellQuoted(dir_.str() + "/bin") +
                        ":\"$PATH\" " + environment + " bash ./run.sh 2>&1");
    }

    std::string image() const { return dir_.str() + "/build/run/velk-demo.iso"; }

    TempDir dir_;
};

TEST_F(RunScript, TheBuildShowsItsStepsAndTheRunEndsWithTheListing) {
    CliRun first = runScript("");
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_TRUE(says(first, "this first run builds velk, which takes a few minutes; later runs take seconds"))
        << first.output;
    EXPECT_TRUE(says(first, "\n[  4%] Building CXX object CMakeFiles/velk_platform.dir/platform/Text.cpp.o\n"
                            "[ 50%] Built target velk_platform\n[100%] Linking CXX executable velk-cli\n"))
        << first.output;
    EXPECT_FALSE(says(first, "In file included from")) << "the build's other lines belong in its log";
    EXPECT_FALSE(says(first, "-- Configuring done")) << first.output;
    EXPECT_EQ(contentsOf(image()), "the new image");
    const std::string listing = "listing of build/run/velk-demo.iso\n";
    ASSERT_GE(first.output.size(), listing.size());
    EXPECT_EQ(first.output.substr(first.output.size() - listing.size()), listing) << first.output;

    // With build/run configured the line says the build is quick.
    dir_.file("build/run/CMakeCache.txt");
    CliRun later = runScript("");
    EXPECT_EQ(later.status, 0) << later.output;
    EXPECT_TRUE(says(later, "(seconds, unless the sources changed)")) << later.output;
}

TEST_F(RunScript, AFailedBurnOrBuildLeavesTheLastImage) {
    struct Case {
        const char* environment;
        const char* says;
    } cases[] = {
        {"BURN_STATUS=1", "burned 320 blocks"},
        {"BUILD_STATUS=2", "run.sh: the build failed; its last lines follow (all of it is in build/run/build.log):\n"},
    };
    for (const Case& c : cases) {
        dir_.file("build/run/velk-demo.iso", "the old image");
        CliRun failed = runScript(c.environment);
        EXPECT_NE(failed.status, 0) << c.environment << "\n" << failed.output;
        EXPECT_TRUE(says(failed, c.says)) << c.environment << "\n" << failed.output;
        EXPECT_FALSE(says(failed, "listing of")) << c.environment << "\n" << failed.output;
        EXPECT_EQ(contentsOf(image()), "the old image") << c.environment;
    }
    // The failed build's own error is shown, not only kept in the log.
    CliRun broken = runScript("BUILD_STATUS=2");
    EXPECT_TRUE(says(broken, "engine.cpp:1: error: the build broke here")) << broken.output;
}

}  // namespace
}  // namespace velk::testing

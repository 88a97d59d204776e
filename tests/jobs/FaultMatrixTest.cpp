// Fault injection along whole jobs: for each medium, the Nth command of a
// burn (and of a quick erase) fails with a write error, for every N, with
// the sense in fixed and in descriptor format. Whatever
// fails, the job never hangs or crashes, calls back at most once (exactly
// once, with failure, when a WRITE failed), leaves a disc file that opens and
// a recorder that answers the next command.
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "engine/api/BurnEngine.h"
#include "image/ImageTestSupport.h"
#include "jobs/BurnTestSupport.h"

namespace velk::testing {
namespace {

using vrec::MediumKind;
using namespace std::chrono_literals;

constexpr double MatrixScale = 10000.0;
const char* const WriteError = "03/0C/00";

struct JobRun {
    int started = 0;     // the job's start result
    int failed = -1;     // the callback's failed, -1 without a callback
    int calls = 0;
    std::size_t before = 0;  // commands before the job started
    std::vector<JournalLine> journal;
};

// One burn (or quick erase) of a small project on a fresh disc, with
// `faults` planned.
JobRun runJob(MediumKind kind, bool erase, const std::string& faults) {
    JobRun run;
    VirtualBurn burn;
    burn.makeDisc(kind);
    burn.attach(faults, MatrixScale);
    if (::testing::Test::HasFatalFailure()) return run;
    BurnEngine& engine = burn.engine;
    Completion completion;
    if (!erase) {
        engine.ResetProject();
        addVirtual(engine.project(), u"\\", u"file.bin", 100000);
        engine.PrepareImage();
    }
    run.before = burn.journalLines().size();
    run.started = erase ? engine.StartErase(1, &Completion::callback, &completion)
                        : engine.StartBurn(&Completion::callback, &completion);
    if (run.started == 1) run.failed = completion.wait(60s);
    EXPECT_TRUE(waitForJobThreads(engine.project())) << "job threads still running";
    run.calls = completion.calls();
    // The recorder still answers.
    EXPECT_EQ(engine.CheckUnit(), 1);
    EXPECT_NE(engine.GetDiscType(), DiscNone) << "the recorder lost its disc";
    run.journal = burn.journalLines();
    burn.detach();
    EXPECT_TRUE(burn.openDisc()) << "the disc file no longer opens";
    return run;
}

struct MatrixCase {
    const char* name;
    MediumKind kind;
    bool erase;
};

void PrintTo(const MatrixCase& c, std::ostream* out) { *out << c.name; }

// How the drive writes its sense: the default fixed format, or descriptors.
struct SenseFormat {
    const char* suffix;  // of the test name
    const char* plan;    // rule that goes with every run of the case
};
const SenseFormat FixedSense{"", ""};
const SenseFormat DescriptorSense{"_DescriptorSense", "sense-descriptor,"};
void PrintTo(const SenseFormat& f, std::ostream* out) { *out << (f.plan[0] ? f.plan : "fixed sense"); }

class FaultMatrixTest : public ::testing::TestWithParam<std::tuple<MatrixCase, SenseFormat>> {};

TEST_P(FaultMatrixTest, EveryCommandOfTheJobFailsOnceInTurn) {
    const MatrixCase& c = std::get<0>(GetParam());
    const std::string format = std::get<1>(GetParam()).plan;
    JobRun clean = runJob(c.kind, c.erase, format);
    ASSERT_EQ(clean.failed, 0) << "the job fails without a fault";
    const std::size_t total = clean.journal.size();
    ASSERT_GT(total, clean.before);
    for (std::size_t n = clean.before + 1; n <= total; ++n) {
        SCOPED_TRACE(::testing::Message() << "command " << n << " of " << total);
        JobRun run = runJob(c.kind, c.erase, format + "cmd:" + std::to_string(n) + ":" + WriteError);
        if (::testing::Test::HasFatalFailure()) return;
        EXPECT_LE(run.calls, 1);
        if (run.started == 1) {
            ASSERT_EQ(run.calls, 1) << "no callback";
        }
        // Which command the fault met in this run.
        for (const JournalLine& line : run.journal) {
            if (line.status.find("03/0C/00") == std::string::npos) continue;
            if (line.opcode() == 0x2A) {
                EXPECT_EQ(run.failed, 1) << "a failed WRITE was reported as success: " << line.text;
            }
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryMedium, FaultMatrixTest,
    ::testing::Combine(::testing::Values(MatrixCase{"BurnCdR", MediumKind::CdR, false}, MatrixCase{"BurnCdRw", MediumKind::CdRw, false},
                      MatrixCase{"BurnDvdR", MediumKind::DvdR, false},
                      MatrixCase{"BurnDvdRwSequential", MediumKind::DvdRwSequential, false},
                      MatrixCase{"BurnDvdRwRestricted", MediumKind::DvdRwRestricted, false},
                      MatrixCase{"BurnDvdPlusR", MediumKind::DvdPlusR, false},
                      MatrixCase{"BurnDvdPlusRDl", MediumKind::DvdPlusRDl, false},
                      MatrixCase{"BurnDvdPlusRw", MediumKind::DvdPlusRw, false},
                      MatrixCase{"BurnDvdRam", MediumKind::DvdRam, false},
                      MatrixCase{"EraseCdRw", MediumKind::CdRw, true},
                      MatrixCase{"EraseDvdRw", MediumKind::DvdRwSequential, true},
                      MatrixCase{"EraseDvdPlusRw", MediumKind::DvdPlusRw, true},
                      MatrixCase{"EraseDvdRam", MediumKind::DvdRam, true}),
                       ::testing::Values(FixedSense, DescriptorSense)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).suffix;
    });

}  // namespace
}  // namespace velk::testing

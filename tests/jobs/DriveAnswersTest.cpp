// Burns against a recorder that answers as real drives do where the virtual
// one is lenient by default: a unit attention after a load, recovered and
// deferred errors, descriptor-format sense, a drive still becoming ready.
// Each test is named after the fault it guards against.
#include <gtest/gtest.h>

#include <chrono>

#include "engine/api/BurnEngine.h"
#include "image/ImageTestSupport.h"
#include "jobs/BurnTestSupport.h"

namespace velk::testing {
namespace {

using vrec::MediumKind;

// Plans a 100,000-byte project and burns it; the callback's failed, or -1
// when the burn did not start.
int burnSmallProject(VirtualBurn& burn) {
    BurnEngine& engine = burn.engine;
    engine.ResetProject();
    addVirtual(engine.project(), u"\\", u"file.bin", 100000);
    if (engine.PrepareImage() <= 0) return -1;
    Completion completion;
    if (engine.StartBurn(&Completion::callback, &completion) != 1) return -1;
    return completion.wait();
}

// The write parameters page (05h) of each MODE SELECT in the journal.
std::vector<std::vector<std::uint8_t>> writePagesSent(const std::vector<JournalLine>& lines) {
    std::vector<std::vector<std::uint8_t>> pages;
    for (const JournalLine& line : lines) {
        if (line.opcode() != 0x55) continue;
        // "55 ... | out 60 : 00 3A ... | 00"
        std::size_t colon = line.text.find(" : ");
        if (colon == std::string::npos) continue;
        std::istringstream in(line.text.substr(colon + 3, line.text.rfind('|') - colon - 3));
        std::vector<std::uint8_t> parameters;
        for (std::string byte; in >> byte;) parameters.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
        if (parameters.size() > 10 && (parameters[8] & 0x3F) == 0x05) {
            pages.emplace_back(parameters.begin() + 8, parameters.end());
        }
    }
    return pages;
}

// Regression: the unit attention of a load was the answer to the first
// MODE SENSE of page 2Ah, so the capabilities read as none: a CD-R test
// write was refused and underrun protection never set.
TEST(UnitAttentionTest, AfterALoadACdRTestWriteIsAllowedAndPage05CarriesBufe) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::CdR);
    ASSERT_NO_FATAL_FAILURE(burn.attach("ua-on-load"));
    EXPECT_EQ(burn.engine.CanWrite(), 1);
    burn.engine.SetTestWrite(1);
    burn.engine.SetUnderrunProtection(1);
    ASSERT_EQ(burnSmallProject(burn), 0) << burn.journalText();
    std::vector<std::vector<std::uint8_t>> pages = writePagesSent(burn.journalLines());
    ASSERT_FALSE(pages.empty()) << burn.journalText();
    for (const std::vector<std::uint8_t>& page : pages) {
        EXPECT_EQ(page[2] & 0x40, 0x40) << "BUFE off in page 05h";
        EXPECT_EQ(page[2] & 0x10, 0x10) << "test write off in page 05h";
    }
}

// Regression: a recovered error (key 1) failed the WRITE it came with,
// though the drive had recorded the data.
TEST(RecoveredErrorTest, AWriteAnsweredWithARecoveredErrorIsASuccess) {
    VirtualBurn burn;
    burn.makeDisc(MediumKind::DvdPlusR);
    ASSERT_NO_FATAL_FAILURE(burn.attach("recovered:2A:2"));
    ASSERT_EQ(burnSmallProject(burn), 0) << burn.journalText();
    std::size_t recovered = 0;
    for (const JournalLine& line : burn.journalLines()) {
        if (line.status.find("01/17/01") != std::string::npos) ++recovered;
    }
    EXPECT_EQ(recovered, 1u);
}

// Regression: a deferred error arriving at a command whose answer the burn
// does not look at (a buffer poll, SYNCHRONIZE CACHE, a close) was ignored
// and the burn reported success; and sense in descriptor format was read as
// if it were fixed, so a write error carried no code and a long write in
// progress was not waited out.
TEST(SenseDataTest, DeferredErrorsAndDescriptorSenseFailTheBurnWithTheirCode) {
    struct Case {
        MediumKind kind;
        const char* faults;
        int failed;
        const char* error;  // nullptr after success
    };
    const Case cases[] = {
        {MediumKind::DvdPlusR, "deferred:2A:03/0C/00", 1, "Hardware Error 3072"},
        {MediumKind::DvdPlusR, "deferred:35:03/0C/00", 1, "Hardware Error 3072"},
        {MediumKind::CdR, "deferred:35:03/0C/00", 1, "Hardware Error 3072"},
        {MediumKind::DvdR, "deferred:2A:03/0C/00,sense-descriptor", 1, "Hardware Error 3072"},
        {MediumKind::DvdPlusR, "write:20:03/0C/00,sense-descriptor", 1, "Hardware Error 3072"},
        {MediumKind::DvdPlusR, "long-write:5,sense-descriptor", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(vrec::mediumInfo(c.kind).name) + " " + c.faults);
        VirtualBurn burn;
        burn.makeDisc(c.kind);
        ASSERT_NO_FATAL_FAILURE(burn.attach(c.faults));
        (void)burn.engine.GetLastErrorCode();
        ASSERT_EQ(burnSmallProject(burn), c.failed) << burn.journalText();
        if (c.error) {
            EXPECT_STREQ(burn.engine.GetLastErrorText(), c.error);
        }
    }
}

// Regression: a drive that answers "becoming ready" (02/04/01) just after a
// load made the burn find no disc.
TEST(BecomingReadyTest, ABurnJustAfterALoadWaitsForTheDrive) {
    // 25 simulated seconds are 250 ms here: longer than the set-up takes.
    constexpr double Scale = 100.0;
    VirtualBurn burn;
    burn.makeDisc(MediumKind::DvdPlusR);
    ASSERT_NO_FATAL_FAILURE(burn.attach("becoming-ready:25", Scale));
    ASSERT_EQ(burnSmallProject(burn), 0) << burn.journalText();
    std::vector<JournalLine> lines = burn.journalLines();
    ASSERT_FALSE(lines.empty());
    bool waited = false;
    for (const JournalLine& line : lines) waited = waited || line.status.find("02/04/01") != std::string::npos;
    EXPECT_TRUE(waited) << "the drive was ready before the burn began: the test shows nothing";
}

}  // namespace
}  // namespace velk::testing

#include "engine/api/BurnEngine.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/device/RecorderDevice.h"
#include "engine/image/ImageProject.h"
#include "support/TempDir.h"

namespace velk {
namespace {

TEST(BurnEngineTest, DefaultsAfterConstruction) {
    BurnEngine engine;
    EXPECT_EQ(engine.GetBufferSize(), 33554432);
    EXPECT_EQ(engine.GetUdfBridge(), 1);
    EXPECT_EQ(engine.GetJoliet(), 1);
    EXPECT_EQ(engine.GetUnderrunProtection(), 1);
    EXPECT_EQ(engine.GetJobState(), JobIdle);
    EXPECT_EQ(engine.GetTestWrite(), 0);
    EXPECT_EQ(engine.GetPerformOpc(), 0);
    EXPECT_EQ(engine.GetCloseDisc(), 0);
    EXPECT_EQ(engine.GetReplaceExisting(), 0);
    EXPECT_EQ(engine.GetFileCount(), 0);
    EXPECT_EQ(engine.GetDirectoryCount(), 1);  // the root
    EXPECT_EQ(engine.GetBufferFill(), 0);
    EXPECT_EQ(engine.device().closeAfterCommand, 1);
    EXPECT_EQ(engine.project().root->isoName, "ROOT_DIR");
    const std::uint8_t* escape = engine.project().jolietEscape;
    EXPECT_EQ(std::string(escape, escape + 3), "%/E");
    const std::uint8_t* second = engine.project().secondEscape;
    EXPECT_EQ(std::string(second, second + 3), "%/@");
}

TEST(BurnEngineTest, SeveralEnginesInOneProcessAreIndependent) {
    BurnEngine first;
    BurnEngine second;
    first.SetJoliet(0);
    first.CreateFolder("\\", "Only here");
    EXPECT_EQ(second.GetJoliet(), 1);
    EXPECT_EQ(second.GetDirectoryCount(), 1);
    EXPECT_EQ(first.GetDirectoryCount(), 2);
}

TEST(BurnEngineTest, BufferSizeIsClamped) {
    struct Case {
        int requested;
        int stored;
    } cases[] = {
        {1000, 2097152},      {-5, 2097152},          {2097152, 2097152},
        {2097153, 2097153},   {655360000, 655360000}, {655360001, 655360000},
        {2147483647, 655360000},
    };
    BurnEngine engine;
    for (const Case& c : cases) {
        EXPECT_EQ(engine.SetBufferSize(c.requested), c.stored) << c.requested;
        EXPECT_EQ(engine.GetBufferSize(), c.stored) << c.requested;
    }
}

TEST(BurnEngineTest, BufferFillNeverExceedsTheBufferSize) {
    BurnEngine engine;
    engine.project().jobs.chunkCount = 100;
    EXPECT_EQ(engine.GetBufferFill(), 100 * 65536);
    engine.SetBufferSize(2097152);  // lowered while chunks are queued
    EXPECT_EQ(engine.GetBufferFill(), 2097152);
    engine.project().jobs.chunkCount = 0;
}

TEST(BurnEngineTest, AbortWithoutAJobChangesNothing) {
    BurnEngine engine;
    engine.Abort();
    EXPECT_EQ(engine.GetJobState(), JobIdle);
    EXPECT_EQ(engine.GetLastErrorCode(), ErrNone);
    EXPECT_EQ(engine.project().jobs.stopRequested.load(), 0);
}

TEST(BurnEngineTest, AbortDuringAJobStopsItAndReportsAborted) {
    BurnEngine engine;
    engine.project().jobs.jobState = JobWriting;
    engine.Abort();
    EXPECT_EQ(engine.GetJobState(), JobAborted);
    EXPECT_EQ(engine.project().jobs.stopRequested.load(), 1);
    EXPECT_STREQ(engine.GetLastErrorText(), "Aborted by user");
    EXPECT_STREQ(engine.GetLastErrorText(), "Unknown/No Error!");
}

TEST(BurnEngineTest, EraseStateWinsOverTheProjectJobState) {
    BurnEngine engine;
    engine.project().jobs.jobState = JobPlanning;
    engine.device().eraseState = JobErasing;
    EXPECT_EQ(engine.GetJobState(), JobErasing);
    engine.device().eraseState = 0;
    EXPECT_EQ(engine.GetJobState(), JobPlanning);
}

TEST(BurnEngineTest, ProjectErrorIsReadBeforeTheHardwareError) {
    BurnEngine engine;
    engine.project().pendingError = ErrAborted;
    engine.device().lastErrorCode = 0x2400;
    EXPECT_EQ(engine.GetLastErrorCode(), ErrAborted);
    EXPECT_EQ(engine.GetLastErrorCode(), 9216);
    EXPECT_EQ(engine.GetLastErrorCode(), ErrNone);
}

TEST(BurnEngineTest, ErrorTextsInBothForms) {
    struct Case {
        int code;
        const char* narrow;
        const char16_t* wide;
    } cases[] = {
        {0, "Unknown/No Error!", u"Unknown/No Error!"},
        {1, "Data not prepared ", u"Data not prepared "},
        {2, "Error opening file \"/data/a b.txt\"", u"Error opening file \"/data/a b.txt\""},
        {3, "Error creating file \"/data/a b.txt\"", u"Error creating file \"/data/a b.txt\""},
        {4, "Aborted by user", u"Aborted by user"},
        {10, "Invalid file name \"/data/a b.txt\"", u"Invalid file name\"/data/a b.txt\""},
        {5, "Hardware Error 5", u"Hardware Error \"5\""},
        {9216, "Hardware Error 9216", u"Hardware Error \"9216\""},
    };
    BurnEngine engine;
    engine.project().errorFileName = u"/data/a b.txt";
    for (const Case& c : cases) {
        engine.project().pendingError = c.code;
        EXPECT_STREQ(engine.GetLastErrorText(), c.narrow) << c.code;
        engine.project().pendingError = c.code;
        EXPECT_EQ(std::u16string(engine.GetLastErrorTextW()), std::u16string(c.wide)) << c.code;
    }
}

TEST(BurnEngineTest, ProjectFullTextNamesTheLimits) {
    BurnEngine engine;
    engine.project().pendingError = ErrProjectFull;
    std::string text = engine.GetLastErrorText();
    EXPECT_NE(text.find("200000"), std::string::npos);
    EXPECT_NE(text.find("65000"), std::string::npos);
    engine.project().pendingError = ErrProjectFull;
    std::u16string wide = engine.GetLastErrorTextW();
    EXPECT_NE(wide.find(u"200000"), std::u16string::npos);
}

TEST(BurnEngineTest, LongFileNameIsCutToTheTextBuffer) {
    BurnEngine engine;
    engine.project().errorFileName = std::u16string(400, u'\u00e9');  // two bytes each in UTF-8
    engine.project().pendingError = ErrOpenFile;
    std::string text = engine.GetLastErrorText();
    EXPECT_LE(text.size(), 255u);
    // Never half a character at the cut.
    EXPECT_EQ(static_cast<unsigned char>(text.back()), 0xA9);
    engine.project().pendingError = ErrOpenFile;
    EXPECT_EQ(std::u16string(engine.GetLastErrorTextW()).size(), 255u);
}

TEST(BurnEngineTest, DeviceSwitchesStoreAndReturnTheirValue) {
    BurnEngine engine;
    EXPECT_EQ(engine.SetTestWrite(1), 1);
    EXPECT_EQ(engine.GetTestWrite(), 1);
    EXPECT_EQ(engine.SetUnderrunProtection(0), 0);
    EXPECT_EQ(engine.GetUnderrunProtection(), 0);
    EXPECT_EQ(engine.SetPerformOpc(7), 7);
    EXPECT_EQ(engine.GetPerformOpc(), 7);
    EXPECT_EQ(engine.SetCloseDisc(1), 1);
    EXPECT_EQ(engine.GetCloseDisc(), 1);
}

TEST(BurnEngineTest, VersionTextEndsWithTheBuildDate) {
    BurnEngine engine;
    std::string version = engine.GetVersion();
    EXPECT_EQ(version.rfind("1.21", 0), 0u);
    EXPECT_NE(version.find("(Date: Nov 11 2005)"), std::string::npos);
    EXPECT_EQ(version.back(), ')');
}

TEST(BurnEngineTest, OperationsOfAbsentModulesFailQuietly) {
    BurnEngine engine;
    EXPECT_EQ(engine.GetDeviceCount(), 0);
    EXPECT_EQ(engine.GetDeviceName(0), nullptr);
    EXPECT_EQ(engine.SelectByLetter(0), 0);
    EXPECT_EQ(engine.CheckUnit(), 1);
}

}  // namespace
}  // namespace velk

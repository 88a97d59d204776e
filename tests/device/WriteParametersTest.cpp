#include <gtest/gtest.h>

#include "engine/device/BigEndian.h"
#include "engine/device/MmcCommands.h"
#include "tests/device/FakeDrive.h"

namespace velk {
namespace {

using testing::FakeDrive;
using testing::Reply;
using Bytes = std::vector<std::uint8_t>;

// A MODE SENSE (10) response with page 05h: header, optional block
// descriptor, then the page with recognisable filler the composition must
// replace (except the page's last two bytes).
Bytes modeSenseWithPage5(std::uint8_t pageCodeByte, std::uint8_t pageLength, std::uint16_t blockDescriptorBytes) {
    Bytes response(8 + blockDescriptorBytes, 0);
    response[7] = static_cast<std::uint8_t>(blockDescriptorBytes);
    response[6] = static_cast<std::uint8_t>(blockDescriptorBytes >> 8);
    for (std::size_t i = 8; i < response.size(); ++i) response[i] = 0xB0;
    response.push_back(pageCodeByte);
    response.push_back(pageLength);
    for (int i = 0; i < pageLength; ++i) response.push_back(static_cast<std::uint8_t>(0xA0 + (i & 0x0F)));
    device::putBe16(response.data(), static_cast<std::uint32_t>(response.size() - 2));
    return response;
}

class WriteParametersTest : public ::testing::Test {
protected:
    testing::DevicePtr device = testing::makeDevice();

    // Runs SetWriteParameters against a drive answering `sense` and returns
    // the MODE SELECT parameter list (empty when none was sent).
    Bytes compose(const Bytes& sense, int testWrite, int underrun, int multisession, std::uint8_t discType,
                  bool bufeSupported, int* result = nullptr) {
        FakeDrive drive(*device);
        Reply reply;
        reply.data = sense;
        drive.on(0x5A, reply);
        device->capabilitiesPage[4] = bufeSupported ? 0x80 : 0x00;
        int answer = mmc::SetWriteParameters(*device, testWrite, underrun, multisession, discType);
        if (result) *result = answer;
        const testing::SentCommand* select = drive.last(0x55);
        if (!select) return {};
        const testing::SentCommand* senseSent = drive.last(0x5A);
        EXPECT_EQ(senseSent->cdb[2], 0x05);  // current values of page 05h
        EXPECT_EQ(senseSent->dataLength, 512u);
        EXPECT_EQ(select->cdb[1], 0x10);
        return select->dataOut;
    }
};

TEST_F(WriteParametersTest, PageBytesForEveryDiscTypeAndOption) {
    struct Case {
        std::uint8_t discType;
        int testWrite, multisession, underrun;
        bool bufeSupported;
        std::uint8_t p2, p3, p5;
        std::uint32_t packet;
    };
    const Case cases[] = {
        // The common cases: no test write, underrun protection on and supported.
        {DiscCdRom, 0, 1, 1, true, 0x41, 0xC4, 0, 0},
        {DiscCdR, 0, 1, 1, true, 0x41, 0xC4, 0, 0},
        {DiscCdRw, 0, 1, 1, true, 0x41, 0xC4, 0, 0},
        {DiscCdR, 0, 0, 1, true, 0x41, 0x04, 0, 0},
        {DiscDvdR, 0, 1, 1, true, 0x60, 0xE5, 16, 16},
        {DiscDvdR, 0, 0, 1, true, 0x60, 0xE5, 16, 16},
        {DiscDvdRwSequential, 0, 1, 1, true, 0x60, 0xC5, 16, 16},
        {DiscDvdRwSequential, 0, 0, 1, true, 0x60, 0xC5, 16, 16},
        {DiscDvdPlusRw, 0, 1, 1, true, 0x62, 0xC4, 16, 0},
        {DiscDvdPlusR, 0, 1, 1, true, 0x62, 0xE4, 16, 16},
        {DiscDvdPlusR, 0, 0, 1, true, 0x62, 0x04, 0, 0},
        {DiscDvdPlusRDualLayer, 0, 1, 1, true, 0x62, 0xC4, 0, 0},
        // The other types and switches.
        {DiscDvdRwRestricted, 0, 0, 1, true, 0x60, 0xC5, 16, 16},
        {DiscDvdPlusRw, 0, 0, 1, true, 0x62, 0x04, 16, 0},
        {DiscDvdPlusRDualLayer, 0, 0, 1, true, 0x62, 0x04, 0, 0},
        {DiscDdcdR, 0, 1, 1, true, 0x42, 0xC5, 0, 0},
        {DiscDdcdRw, 0, 0, 1, true, 0x42, 0x05, 0, 0},
        {DiscDvdRam, 0, 1, 1, true, 0x41, 0xC4, 0, 0},
        {DiscNone, 0, 0, 1, true, 0x41, 0x04, 0, 0},
        // Test write: the test bit, and the multi-session field left at 00b
        // except on DVD-R / DVD-RW (open while the disc is not to be closed) and
        // DVD+R DL (from the flag).
        {DiscCdR, 1, 1, 1, true, 0x51, 0x04, 0, 0},
        {DiscDvdR, 1, 0, 1, true, 0x70, 0xE5, 16, 16},
        {DiscDvdRwSequential, 1, 1, 0, true, 0x30, 0xC5, 16, 16},
        {DiscDvdPlusRw, 1, 1, 1, true, 0x72, 0x04, 16, 0},
        {DiscDvdPlusR, 1, 1, 1, true, 0x72, 0x24, 16, 16},
        {DiscDvdPlusR, 1, 0, 0, true, 0x32, 0x04, 0, 0},
        {DiscDvdPlusRDualLayer, 1, 1, 1, true, 0x72, 0xC4, 0, 0},
        {DiscDvdPlusRDualLayer, 0, 1, 0, true, 0x22, 0xC4, 0, 0},
        // Underrun protection off, or on but not supported: no BUFE.
        {DiscCdR, 0, 1, 0, true, 0x01, 0xC4, 0, 0},
        {DiscCdR, 0, 1, 1, false, 0x01, 0xC4, 0, 0},
        {DiscDvdR, 0, 1, 1, false, 0x20, 0xE5, 16, 16},
        {DiscDvdPlusR, 0, 1, 0, true, 0x22, 0xE4, 16, 16},
    };
    Bytes sense = modeSenseWithPage5(0x05, 0x32, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << int(c.discType) << " test " << c.testWrite << " ms "
                                          << c.multisession << " underrun " << c.underrun << " bufe "
                                          << c.bufeSupported);
        Bytes sent = compose(sense, c.testWrite, c.underrun, c.multisession, c.discType, c.bufeSupported);
        ASSERT_EQ(sent.size(), sense.size());
        const std::uint8_t* page = sent.data() + 8;
        EXPECT_EQ(page[0], 0x05);
        EXPECT_EQ(page[1], 0x32);
        EXPECT_EQ(page[2], c.p2);
        EXPECT_EQ(page[3], c.p3);
        EXPECT_EQ(page[4], 0x08);
        EXPECT_EQ(page[5], c.p5);
        EXPECT_EQ(page[6], 0);
        EXPECT_EQ(page[8], 0);
        EXPECT_EQ(device::getBe32(page + 10), c.packet);
        EXPECT_EQ(device::getBe16(page + 14), 150);
        // Bytes the composition does not set are 0 up to the length byte's
        // value; the last two keep the drive's values.
        for (std::size_t i : {7u, 9u, 16u, 40u, 0x31u}) EXPECT_EQ(page[i], 0) << i;
        EXPECT_EQ(page[0x32], sense[8 + 0x32]);
        EXPECT_EQ(page[0x33], sense[8 + 0x33]);
        // The mode data length is reserved in MODE SELECT: zero, whatever
        // MODE SENSE returned; the rest of the header goes back as it came.
        EXPECT_EQ(device::getBe16(sent.data()), 0u);
        EXPECT_EQ(Bytes(sent.begin() + 2, sent.begin() + 8), Bytes(sense.begin() + 2, sense.begin() + 8));
        EXPECT_EQ(device->writeParametersPage[2], c.p2);
        EXPECT_EQ(device->writeParametersPage[3], c.p3);
    }
}

// Regression: a DVD-R(W) session was always left open for another one, so a
// burn asked to close the disc left it appendable.
TEST_F(WriteParametersTest, DvdMinusSessionsAreClosedForGoodWhenTheDiscIsClosed) {
    Bytes sense = modeSenseWithPage5(0x05, 0x32, 0);
    device->closeDisc = 1;
    EXPECT_EQ(compose(sense, 0, 1, 1, DiscDvdR, true)[8 + 3], 0x25);
    EXPECT_EQ(compose(sense, 0, 1, 0, DiscDvdRwSequential, true)[8 + 3], 0x05);
    device->closeDisc = 0;
    EXPECT_EQ(compose(sense, 0, 1, 0, DiscDvdR, true)[8 + 3], 0xE5);
}

// Regression: a drive that sets the PS bit (page byte 85h) and sends no block
// descriptor had its page looked for 8 bytes too far on.
TEST_F(WriteParametersTest, PageWithSaveableBitIsFoundAfterTheHeader) {
    Bytes sense = modeSenseWithPage5(0x85, 0x32, 0);
    Bytes sent = compose(sense, 0, 1, 1, DiscCdR, true);
    ASSERT_EQ(sent.size(), 8u + 0x34u);
    EXPECT_EQ(sent[8], 0x05);
    EXPECT_EQ(sent[9], 0x32);
    EXPECT_EQ(sent[10], 0x41);
    EXPECT_EQ(sent[11], 0xC4);
}

TEST_F(WriteParametersTest, PageIsFoundAfterTheBlockDescriptorsTheHeaderAnnounces) {
    for (std::uint16_t descriptors : {8, 16}) {
        SCOPED_TRACE(descriptors);
        Bytes sense = modeSenseWithPage5(0x05, 0x36, descriptors);
        Bytes sent = compose(sense, 0, 1, 1, DiscDvdPlusR, true);
        std::size_t offset = 8u + descriptors;
        ASSERT_EQ(sent.size(), offset + 0x38);
        // Header (but its mode data length) and block descriptors go back as
        // the drive sent them.
        EXPECT_EQ(device::getBe16(sent.data()), 0u);
        EXPECT_EQ(Bytes(sent.begin() + 2, sent.begin() + offset), Bytes(sense.begin() + 2, sense.begin() + offset));
        EXPECT_EQ(sent[offset + 2], 0x62);
        EXPECT_EQ(sent[offset + 3], 0xE4);
    }
}

TEST_F(WriteParametersTest, NoModeSelectWhenTheResponseHoldsNoPage5) {
    struct Case {
        const char* name;
        Bytes sense;
    };
    Bytes otherPage = modeSenseWithPage5(0x2A, 0x32, 0);
    Bytes descriptorPastEnd = modeSenseWithPage5(0x05, 0x32, 0);
    descriptorPastEnd[6] = 0x02;  // 512 + 8 bytes of block descriptors
    Bytes pagePastTransfer = modeSenseWithPage5(0x05, 0x32, 0);
    pagePastTransfer[9] = 0xF0;   // page longer than what the drive sent
    const Case cases[] = {
        {"other page", otherPage},
        {"block descriptor length beyond the response", descriptorPastEnd},
        {"page length beyond the response", pagePastTransfer},
        {"header only", Bytes{0, 6, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int result = -1;
        Bytes sent = compose(c.sense, 0, 1, 1, DiscCdR, true, &result);
        EXPECT_TRUE(sent.empty());
        EXPECT_EQ(result, 0);
    }
    FakeDrive drive(*device);
    drive.on(0x5A, testing::checkCondition(5, 0x24, 0));
    EXPECT_EQ(mmc::SetWriteParameters(*device, 0, 1, 1, DiscCdR), 0);
    EXPECT_EQ(drive.opcodes(), Bytes{0x5A});
}

// A page longer than the 72-byte composition area: the composed bytes go
// over its first 72 bytes, the rest stays as the drive sent it, and nothing
// is written past the area.
TEST_F(WriteParametersTest, PageLongerThanTheCompositionAreaKeepsTheDriveBytesBeyondIt) {
    Bytes sense = modeSenseWithPage5(0x05, 0x60, 0);
    Bytes sent = compose(sense, 0, 1, 1, DiscDvdR, true);
    ASSERT_EQ(sent.size(), 8u + 0x62u);
    const std::uint8_t* page = sent.data() + 8;
    EXPECT_EQ(page[2], 0x60);
    EXPECT_EQ(page[3], 0xE5);
    for (std::size_t i = 16; i < 72; ++i) EXPECT_EQ(page[i], 0) << i;
    for (std::size_t i = 72; i < 0x62; ++i) EXPECT_EQ(page[i], sense[8 + i]) << i;
}

TEST_F(WriteParametersTest, PageBoundedByWhatThePassThroughDriverMoved) {
    FakeDrive drive(*device, FakeDrive::Transport::PassThrough);
    Reply reply;
    reply.data = modeSenseWithPage5(0x05, 0x32, 0);
    reply.transferred = 30;  // the page was cut short on the way
    drive.on(0x5A, reply);
    EXPECT_EQ(mmc::SetWriteParameters(*device, 0, 1, 1, DiscCdR), 0);
    EXPECT_EQ(drive.last(0x55), nullptr);
}

}  // namespace
}  // namespace velk

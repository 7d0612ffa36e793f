#include <common/StreamConverter.h>

#include <dravik/DataStorage.h>
#include <dravik/Error.h>
#include <dravik/Providers.h>
#include <dravik/RandomAccessFactory.h>
#include <dravik/StreamAccessFactory.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace quenza::common::test {
namespace {

using Cap = dravik::StreamAccessCapability;
using CapSet = dravik::StreamAccessCapabilitySet;

// Neither a stream nor a random access.
class OtherAccess : public dravik::DataAccess {
public:
    std::shared_ptr<dravik::DataStorage> storage() const override { return nullptr; }
    std::string resourceId() const override { return {}; }
};

class StreamConverterTest : public ::testing::Test {
protected:
    void TearDown() override { std::remove(m_path.c_str()); }
    // A stream that writes and seeks but does not read.
    std::shared_ptr<dravik::StreamAccess> writeOnlyStream()
    {
        return dravik::StreamAccessFactory::openFileWrite(m_path);
    }

    std::string m_path = ::testing::TempDir() + "stream_converter_" + std::to_string(::getpid()) + ".bin";
};

void expectInvalid(const std::shared_ptr<dravik::DataAccess>& accessor, CapSet required, const std::string& message)
{
    try {
        StreamConverter::convertInputAccessor(accessor, required);
        ADD_FAILURE() << "accepted, expected: " << message;
    } catch (const dravik::InvalidArgument& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

TEST_F(StreamConverterTest, AStreamComesBackItselfWhenItHasTheCapabilities)
{
    auto stream = dravik::StreamAccessFactory::fromBytes({1, 2, 3});
    for (CapSet required : {CapSet(), CapSet(Cap::READ), CapSet(Cap::READ_SEEK), CapSet{Cap::READ, Cap::WRITE}}) {
        EXPECT_EQ(StreamConverter::convertInputAccessor(stream, required), stream);
    }
    auto writeOnly = writeOnlyStream();
    EXPECT_EQ(StreamConverter::convertInputAccessor(writeOnly, CapSet(Cap::WRITE)), writeOnly);
}

TEST_F(StreamConverterTest, ARandomAccessIsReadThroughAStreamFromItsStart)
{
    auto random = dravik::RandomAccessFactory::fromBytes({10, 20, 30, 40});
    for (CapSet required : {CapSet(Cap::READ), CapSet(Cap::READ_SEEK)}) {
        auto stream = StreamConverter::convertInputAccessor(random, required);
        ASSERT_NE(stream, nullptr);
        EXPECT_TRUE(stream->capabilities().hasAll(required));
        EXPECT_EQ(stream->tell(), 0u);
        std::vector<uint8_t> bytes(8, 0);
        EXPECT_EQ(stream->read(bytes.size(), bytes.data()), 4u);
        bytes.resize(4);
        EXPECT_EQ(bytes, (std::vector<uint8_t>{10, 20, 30, 40}));
    }
}

TEST_F(StreamConverterTest, MissingCapabilitiesAreRejected)
{
    expectInvalid(writeOnlyStream(), CapSet(Cap::READ_SEEK), "Accessor does not support the required capabilities");
    expectInvalid(writeOnlyStream(), CapSet(Cap::READ), "Accessor does not support the required capabilities");
    // The check applies to the stream made over a random access too.
    writeOnlyStream()->write(3, "abc");
    auto readOnlyRandom = dravik::RandomAccessFactory::openFileRead(m_path);
    expectInvalid(readOnlyRandom, CapSet{Cap::READ, Cap::WRITE}, "Accessor does not support the required capabilities");
    EXPECT_NE(StreamConverter::convertInputAccessor(readOnlyRandom, CapSet(Cap::READ_SEEK)), nullptr);
}

TEST_F(StreamConverterTest, AnythingElseIsAnInvalidAccessor)
{
    expectInvalid(nullptr, CapSet(Cap::READ), "Invalid accessor");
    expectInvalid(std::make_shared<OtherAccess>(), CapSet(), "Invalid accessor");
}

TEST_F(StreamConverterTest, OutputAccessorIsTheStreamOrEmpty)
{
    auto stream = dravik::StreamAccessFactory::createInMemory();
    EXPECT_EQ(StreamConverter::convertOutputAccessor(stream), stream);
    auto writeOnly = writeOnlyStream();
    EXPECT_EQ(StreamConverter::convertOutputAccessor(writeOnly), writeOnly);
    EXPECT_EQ(StreamConverter::convertOutputAccessor(dravik::RandomAccessFactory::fromBytes({1, 2})), nullptr);
    EXPECT_EQ(StreamConverter::convertOutputAccessor(std::make_shared<OtherAccess>()), nullptr);
    EXPECT_EQ(StreamConverter::convertOutputAccessor(nullptr), nullptr);
}

} // namespace
} // namespace quenza::common::test

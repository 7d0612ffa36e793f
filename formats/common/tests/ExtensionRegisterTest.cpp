#include <common/ExtensionRegister.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/Error.h>
#include <dravik/TilingInfoExtension.h>
#include <dravik/ViewOriginExtension.h>

#include <gtest/gtest.h>

#include <memory>

namespace quenza::common::test {
namespace {

using dravik::ViewDataOrigin;

class PlainExtension : public dravik::Extension {};

TEST(ExtensionRegisterTest, ReturnsWhatWasRegisteredUnderEachId)
{
    ExtensionRegister reg;
    auto origin = std::make_shared<ViewOriginExtensionImpl>("origin", ViewDataOrigin::DRIVE);
    auto plain = std::make_shared<PlainExtension>();
    reg.add<ViewOriginExtensionImpl>(origin);
    reg.add(42, plain);
    EXPECT_EQ(reg.extensionFromId(dravik::ViewOriginExtension::EXTENSION_ID), origin);
    EXPECT_EQ(reg.extensionFromId(3), origin);
    EXPECT_EQ(reg.extensionFromId(42), plain);
}

TEST(ExtensionRegisterTest, FirstRegistrationWins)
{
    ExtensionRegister reg;
    auto first = std::make_shared<ViewOriginExtensionImpl>("first", ViewDataOrigin::DRIVE);
    auto second = std::make_shared<ViewOriginExtensionImpl>("second", ViewDataOrigin::NETWORK);
    reg.add<ViewOriginExtensionImpl>(first);
    EXPECT_NO_THROW(reg.add<ViewOriginExtensionImpl>(second));
    EXPECT_NO_THROW(reg.add(3, std::make_shared<PlainExtension>()));
    EXPECT_EQ(reg.extensionFromId(3), first);
}

TEST(ExtensionRegisterTest, UnknownIdFailsWithItsNumber)
{
    ExtensionRegister reg;
    reg.add<ViewOriginExtensionImpl>(std::make_shared<ViewOriginExtensionImpl>("o", ViewDataOrigin::DRIVE));
    for (size_t id : {size_t(0), dravik::TilingInfoExtension::EXTENSION_ID, size_t(4), size_t(123456789)}) {
        try {
            reg.extensionFromId(id);
            ADD_FAILURE() << "extension " << id << " found";
        } catch (const dravik::Error& e) {
            EXPECT_EQ(std::string(e.what()), "Extension " + std::to_string(id) + " not found");
        }
    }
}

TEST(ExtensionRegisterTest, NullExtensionIsRejectedAndLeavesTheIdFree)
{
    ExtensionRegister reg;
    try {
        reg.add(3, nullptr);
        ADD_FAILURE() << "null extension accepted";
    } catch (const dravik::InvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Extension 3 cannot be null");
    }
    EXPECT_THROW(reg.add<ViewOriginExtensionImpl>(nullptr), dravik::InvalidArgument);
    EXPECT_THROW(reg.extensionFromId(3), dravik::Error);
    auto origin = std::make_shared<ViewOriginExtensionImpl>("o", ViewDataOrigin::DRIVE);
    reg.add<ViewOriginExtensionImpl>(origin);
    EXPECT_EQ(reg.extensionFromId(3), origin);
}

} // namespace
} // namespace quenza::common::test

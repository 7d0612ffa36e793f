#include "TestSupport.h"

#include <common/ExtensionRegister.h>
#include <common/ViewOriginExtensionImpl.h>

#include <dravik/Error.h>
#include <dravik/View.h>
#include <dravik/ViewOriginExtension.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace quenza::common::test {
namespace {

using quenza::common::test::expectError;

using dravik::ViewDataOrigin;

// A view with nothing but an origin extension.
class OriginView : public dravik::View {
public:
    explicit OriginView(std::shared_ptr<dravik::ViewOriginExtension> origin)
    {
        if (origin) {
            m_extensions.add<dravik::ViewOriginExtension>(std::move(origin));
        }
    }
    explicit OriginView(ViewDataOrigin origin)
        : OriginView(std::make_shared<ViewOriginExtensionImpl>("leaf", origin))
    {
    }
    std::shared_ptr<dravik::Extension> extension(size_t id) override { return m_extensions.extensionFromId(id); }

private:
    ExtensionRegister m_extensions;
};

// An origin outside the values this code knows.
class ForeignOrigin : public dravik::ViewOriginExtension {
public:
    uint64_t uid() const override { return 0; }
    size_t parentCount() const override { return 0; }
    std::shared_ptr<dravik::ViewOriginExtension> parent(size_t /*index*/) const override { return nullptr; }
    ViewDataOrigin dataOrigin() const override { return static_cast<ViewDataOrigin>(200); }
    std::string displayName() const override { return "foreign"; }
};

TEST(ViewOriginExtensionTest, LeafReportsItsOriginAndNoParent)
{
    for (ViewDataOrigin origin : {ViewDataOrigin::UNKNOWN, ViewDataOrigin::DRIVE, ViewDataOrigin::CPU_MEMORY,
                                  ViewDataOrigin::GENERATED}) {
        ViewOriginExtensionImpl leaf("Some Extractor", origin);
        EXPECT_EQ(leaf.dataOrigin(), origin);
        EXPECT_EQ(leaf.displayName(), "Some Extractor");
        EXPECT_EQ(leaf.parentCount(), 0u);
        expectError([&] { leaf.parent(0); }, "Index out of bound");
    }
}

TEST(ViewOriginExtensionTest, DerivedOriginFollowsTheParents)
{
    struct Case {
        std::vector<ViewDataOrigin> parents;
        ViewDataOrigin expected;
    };
    const std::vector<Case> cases = {
        {{}, ViewDataOrigin::UNKNOWN},
        {{ViewDataOrigin::DRIVE}, ViewDataOrigin::DRIVE},
        {{ViewDataOrigin::UNKNOWN}, ViewDataOrigin::UNKNOWN},
        {{ViewDataOrigin::DRIVE, ViewDataOrigin::DRIVE}, ViewDataOrigin::DRIVE},
        {{ViewDataOrigin::DRIVE, ViewDataOrigin::CPU_MEMORY}, ViewDataOrigin::COMPOSITE},
        {{ViewDataOrigin::CPU_MEMORY, ViewDataOrigin::DRIVE, ViewDataOrigin::DRIVE}, ViewDataOrigin::COMPOSITE},
        {{ViewDataOrigin::NETWORK, ViewDataOrigin::NETWORK, ViewDataOrigin::NETWORK}, ViewDataOrigin::NETWORK},
        {{ViewDataOrigin::DRIVE, ViewDataOrigin::UNKNOWN}, ViewDataOrigin::COMPOSITE},
        {{ViewDataOrigin::COMPOSITE}, ViewDataOrigin::COMPOSITE},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<OriginView>> views;
        std::vector<dravik::View*> parents;
        for (ViewDataOrigin origin : c.parents) {
            views.push_back(std::make_unique<OriginView>(origin));
            parents.push_back(views.back().get());
        }
        ViewOriginExtensionImpl derived("derived", parents);
        EXPECT_EQ(derived.dataOrigin(), c.expected) << "with " << c.parents.size() << " parents, first "
                                                    << (c.parents.empty() ? "-" : dravik::toString(c.parents[0]));
        ASSERT_EQ(derived.parentCount(), c.parents.size());
        for (size_t i = 0; i < parents.size(); ++i) {
            EXPECT_EQ(derived.parent(i), parents[i]->viewOrigin());
        }
        expectError([&] { derived.parent(c.parents.size()); }, "Index out of bound");
    }
}

TEST(ViewOriginExtensionTest, SingleParentFormTakesTheParentsOrigin)
{
    OriginView parent(ViewDataOrigin::DRIVE);
    ViewOriginExtensionImpl derived("frame", &parent);
    EXPECT_EQ(derived.dataOrigin(), ViewDataOrigin::DRIVE);
    ASSERT_EQ(derived.parentCount(), 1u);
    EXPECT_EQ(derived.parent(0), parent.viewOrigin());
    EXPECT_EQ(derived.displayName(), "frame");

    // A chain: the grandparent stays reachable through the parent's extension.
    auto frameView = std::make_unique<OriginView>(std::make_shared<ViewOriginExtensionImpl>("frame", &parent));
    ViewOriginExtensionImpl grandChild("crop", frameView.get());
    EXPECT_EQ(grandChild.dataOrigin(), ViewDataOrigin::DRIVE);
    EXPECT_EQ(grandChild.parent(0)->parent(0), parent.viewOrigin());
}

TEST(ViewOriginExtensionTest, NullOrUnusableParentsAreRejected)
{
    OriginView drive(ViewDataOrigin::DRIVE);
    OriginView withoutOrigin(nullptr);
    expectError([] { ViewOriginExtensionImpl("x", static_cast<dravik::View*>(nullptr)); },
                "Parent view cannot be null");
    expectError([&] { ViewOriginExtensionImpl("x", std::vector<dravik::View*>{&drive, nullptr}); },
                "Parent view cannot be null");
    expectError([&] { ViewOriginExtensionImpl("x", &withoutOrigin); }, "Parent view has no view-origin extension");
    expectError([&] { ViewOriginExtensionImpl("x", std::vector<dravik::View*>{&drive, &withoutOrigin}); },
                "Parent view has no view-origin extension");
}

TEST(ViewOriginExtensionTest, OriginOutsideTheKnownValuesCountsAsUnknown)
{
    OriginView foreign(std::make_shared<ForeignOrigin>());
    OriginView drive(ViewDataOrigin::DRIVE);
    EXPECT_EQ(ViewOriginExtensionImpl("x", &foreign).dataOrigin(), ViewDataOrigin::UNKNOWN);
    EXPECT_EQ(ViewOriginExtensionImpl("x", std::vector<dravik::View*>{&foreign, &drive}).dataOrigin(),
              ViewDataOrigin::COMPOSITE);
}

TEST(ViewOriginExtensionTest, EveryExtensionHasItsOwnUid)
{
    OriginView parent(ViewDataOrigin::DRIVE);
    std::set<uint64_t> uids;
    for (int i = 0; i < 50; ++i) {
        uids.insert(ViewOriginExtensionImpl("leaf", ViewDataOrigin::DRIVE).uid());
        uids.insert(ViewOriginExtensionImpl("derived", &parent).uid());
    }
    EXPECT_EQ(uids.size(), 100u);
    ViewOriginExtensionImpl one("a", ViewDataOrigin::DRIVE);
    EXPECT_EQ(one.uid(), one.uid());
}

} // namespace
} // namespace quenza::common::test

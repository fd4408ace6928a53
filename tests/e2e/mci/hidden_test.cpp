// Built into a process that called mci::ExposeHiddenRegistry (the switch
// is process-wide).
#include "registry_fixture.h"

namespace mcitest {
namespace {

using ExposedTest = RegistryTest;

TEST_F(ExposedTest, HiddenNodesAreFoundListedAndDumped) {
    const mci::Node secret = At("secret");
    EXPECT_TRUE(secret.GetFlags() & mci::eHidden);
    std::string value;
    secret.Get(value, 0);
    EXPECT_EQ(value, "under the hood");
    std::vector<std::string> names;
    for (const auto& n : Root().GetNodes()) names.push_back(n.GetName());
    EXPECT_EQ(names, (std::vector<std::string>{"scalars", "arrays", "limits", "actions", "secret"}));
    EXPECT_NE(Root().DumpSubTree(-1, 0, 0).find("secret"), std::string::npos);
    EXPECT_EQ(Root().GetNodeCount(), 5u);
    EXPECT_FALSE(At("limits.inner").IsLeaf());
    EXPECT_EQ(At("limits.inner.concealed").GetFlags() & (mci::eHidden | mci::eReadable),
              static_cast<std::uint32_t>(mci::eHidden | mci::eReadable));
}

}  // namespace
}  // namespace mcitest

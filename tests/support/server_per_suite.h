#pragma once
// A test fixture with one velnor-registryd for the whole test suite: started
// before the suite's first test with the fixture tree Derived::c_tree, and
// stopped after its last. The tests of a suite share the server, so each
// test reads the values it relies on or writes them first.
#include <gtest/gtest.h>

#include <memory>

#include "support/registry_server.h"

namespace velnor::test {

template <class Derived, class Base = ::testing::Test>
class ServerPerSuite : public Base {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<RegistryServer>(FixturePath(Derived::c_tree)); }
    static void TearDownTestSuite() { s_server.reset(); }

    static inline std::unique_ptr<RegistryServer> s_server;
};

}  // namespace velnor::test

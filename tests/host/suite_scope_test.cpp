#include "host_api/suite_scope.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "standins/host_simulator/simulator.h"

namespace pyrix {

namespace {

using host_sim::Simulator;

struct TestSuite {
    int marker;
};
constexpr const char* kTestSuite = "Test Suite";

class SuiteScopeTest : public ::testing::Test {
  protected:
    Simulator host;
    TestSuite table{42};
    const SPBasicSuite* basic() { return host.in_data()->pica_basicP; }
};

TEST_F(SuiteScopeTest, AcquiresAndReleasesOnceWithSameNameAndVersion) {
    host.ProvideSuite(kTestSuite, 3, &table);
    {
        SuiteScope<TestSuite> scope(basic(), kTestSuite, 3);
        ASSERT_TRUE(scope);
        EXPECT_EQ(scope.get(), &table);
        EXPECT_EQ(scope->marker, 42);
        EXPECT_EQ(host.ReleaseCount(kTestSuite, 3), 0) << "released before the scope ended";
    }
    EXPECT_EQ(host.AcquireCount(kTestSuite, 3), 1);
    EXPECT_EQ(host.ReleaseCount(kTestSuite, 3), 1);
    EXPECT_EQ(host.Calls(), (std::vector<std::string>{"AcquireSuite(Test Suite, 3)",
                                                      "ReleaseSuite(Test Suite, 3)"}));
}

TEST_F(SuiteScopeTest, ReleasesWhenLeftByAnException) {
    host.ProvideSuite(kTestSuite, 1, &table);
    try {
        SuiteScope<TestSuite> scope(basic(), kTestSuite, 1);
        ASSERT_TRUE(scope);
        throw std::runtime_error("drawing failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(host.ReleaseCount(kTestSuite, 1), 1);
    EXPECT_TRUE(host.UnbalancedSuites().empty());
}

// The ways of not getting a suite are exercised through SetupControlsUI in parameters_test.

}  // namespace

}  // namespace pyrix

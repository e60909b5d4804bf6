#include "standins/host_simulator/simulator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using host_sim::Profile;
using host_sim::Simulator;

TEST(FrameRectTest, RoundsEachSideUpInIntegers) {
    const PF_RationalScale full = {1, 1}, half = {1, 2}, third = {1, 3};
    const auto side = [](A_long size, PF_RationalScale scale) {
        return host_sim::FrameRect(size, 1, scale, scale).right;
    };
    EXPECT_EQ(side(1920, full), 1920);
    EXPECT_EQ(side(1920, third), 640);
    EXPECT_EQ(side(1921, third), 641);
    EXPECT_EQ(side(101, half), 51);
    EXPECT_EQ(side(1, third), 1);
    EXPECT_EQ(side(0, third), 0);
    EXPECT_EQ(side(2147483647, full), 2147483647) << "no overflow on the way";
    EXPECT_EQ(side(2147483647, half), 1073741824);
    EXPECT_EQ(side(640, PF_RationalScale{1, 0}), 0) << "no division by zero";
    const PF_LRect rect = host_sim::FrameRect(1921, 1081, third, half);
    EXPECT_EQ(rect.right, 641);
    EXPECT_EQ(rect.bottom, 541);
}

TEST(SimulatorTest, LayerCheckoutAnswersTheFrameAndTheClippedRequest) {
    Simulator host;
    host.in_data()->downsample_x = {1, 2};
    host.in_data()->downsample_y = {1, 3};
    host.SetLayerSize(101, 61);
    PF_RenderRequest request{};
    request.rect = {-5, 10, 500, 500};
    PF_CheckoutResult result;
    std::memset(&result, 0x5a, sizeof result);
    const auto checkout = [&](PF_ParamIndex index) {
        return host.pre_render_callbacks()->checkout_layer(host.effect_ref(), index, 0, &request, 0,
                                                           1, 30, &result);
    };
    ASSERT_EQ(checkout(0), PF_Err_NONE);
    EXPECT_EQ(result.max_result_rect.right, 51);
    EXPECT_EQ(result.max_result_rect.bottom, 21);
    EXPECT_EQ(result.result_rect.left, 0);
    EXPECT_EQ(result.result_rect.top, 10);
    EXPECT_EQ(result.result_rect.right, 51);
    EXPECT_EQ(result.result_rect.bottom, 21);
    EXPECT_EQ(result.ref_width, 101);
    EXPECT_EQ(result.ref_height, 61);

    request.rect = {60, 0, 70, 10};  // beyond the frame: nothing of it
    ASSERT_EQ(checkout(0), PF_Err_NONE);
    EXPECT_EQ(result.result_rect.right - result.result_rect.left, 0);
    EXPECT_EQ(checkout(1), PF_Err_BAD_CALLBACK_PARAM) << "only the input layer exists";
}

TEST(SimulatorTest, RefusesASecondHostAndForeignEffectRefs) {
    Simulator host;
    EXPECT_THROW(Simulator second, std::logic_error);
    int foreign = 0;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(host.in_data()->inter.abort(reinterpret_cast<PF_ProgPtr>(&foreign)),
                 "abort called with a foreign effect_ref");
}

TEST(SimulatorTest, BooksTellWhatWasNotGivenBack) {
    Simulator host;
    PF_InData& in = *host.in_data();
    const void* suite = nullptr;
    ASSERT_EQ(in.pica_basicP->AcquireSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1, &suite), 0);
    PF_ParamDef def;
    ASSERT_EQ(in.inter.checkout_param(in.effect_ref, 1, 0, 1, 30, &def), PF_Err_NONE);
    EXPECT_EQ(host.OutstandingCheckouts(), 1);
    EXPECT_EQ(host.OutstandingSuites(), 1);
    EXPECT_EQ(host.UnbalancedSuites(),
              std::vector<std::string>{"PF Effect UI Suite/1: acquired 1, released 0"});

    in.inter.checkin_param(in.effect_ref, &def);
    in.pica_basicP->ReleaseSuite(kPFEffectUISuite, kPFEffectUISuiteVersion1);
    EXPECT_EQ(host.OutstandingCheckouts(), 0);
    EXPECT_EQ(host.OutstandingSuites(), 0);
    EXPECT_TRUE(host.UnbalancedSuites().empty());
}

TEST(SimulatorTest, FullProfileNotesWhatItDoesNotServeAndCountsHandles) {
    Simulator host(Profile::kFull);
    PF_InData& in = *host.in_data();
    EXPECT_EQ(in.utils->iterate(nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              PF_Err_INVALID_CALLBACK);
    const void* suite = nullptr;
    EXPECT_EQ(in.pica_basicP->AcquireSuite("No Such Suite", 2, &suite), host_sim::kSuiteNotFound);
    EXPECT_EQ(in.pica_basicP->AcquireSuite("No Such Suite", 2, &suite), host_sim::kSuiteNotFound);
    EXPECT_EQ(host.UnservedCalls(),
              (std::vector<std::string>{"PF_UtilCallbacks.iterate (answered 515)",
                                        "suite \"No Such Suite\" version 2 (answered 'S!Fd')"}));
    EXPECT_TRUE(host.Calls().empty()) << "a host that renders on keeps no call log";

    const long before = Simulator::OutstandingHandles();
    PF_Handle handle = in.utils->host_new_handle(8);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(in.utils->host_resize_handle(64, &handle), PF_Err_NONE);
    EXPECT_EQ(in.utils->host_get_handle_size(handle), 64u);
    EXPECT_EQ(static_cast<char*>(in.utils->host_lock_handle(handle))[63], 0) << "grown zeroed";
    EXPECT_EQ(Simulator::OutstandingHandles(), before + 1);
    in.utils->host_dispose_handle(handle);
    EXPECT_EQ(Simulator::OutstandingHandles(), before);
}

}  // namespace

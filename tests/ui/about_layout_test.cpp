// The About dialog's arithmetic, with its edge cases: colour conversion, MulDiv rounding,
// placement on the owner with clamping, button metrics per DPI and colours per item state.
#include "ui/about_layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

namespace pyrix {

namespace {

// Test names from the cases' own names.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& test) const {
        return test.param.name;
    }
};

TEST(HostChannel, ConvertsEvery16BitValueToTheNearest8BitOne) {
    for (uint32_t v = 0; v <= 0xFFFF; ++v) {
        // v / 257 is v * 255 / 65535; never exactly halfway, so any rounding agrees.
        ASSERT_EQ(HostChannelTo8Bit(static_cast<uint16_t>(v)), std::lround(v / 257.0)) << v;
    }
    EXPECT_EQ(HostChannelTo8Bit(0), 0);
    EXPECT_EQ(HostChannelTo8Bit(128), 0);
    EXPECT_EQ(HostChannelTo8Bit(129), 1);
    EXPECT_EQ(HostChannelTo8Bit(32767), 127);
    EXPECT_EQ(HostChannelTo8Bit(32768), 128);
    EXPECT_EQ(HostChannelTo8Bit(65406), 254);
    EXPECT_EQ(HostChannelTo8Bit(65407), 255);
    EXPECT_EQ(HostChannelTo8Bit(65535), 255);
}

TEST(HostChannel, ColorRefHasRedInTheLowByte) {
    EXPECT_EQ(HostColorToColorRef(65535, 0, 0), 0x000000FFu);
    EXPECT_EQ(HostColorToColorRef(0, 65535, 0), 0x0000FF00u);
    EXPECT_EQ(HostColorToColorRef(0, 0, 65535), 0x00FF0000u);
    EXPECT_EQ(HostColorToColorRef(8224, 8224, 8224), kDefaultBackgroundColor);  // 32 each
}

struct MulDivCase {
    int32_t a, b, c, expected;
};

class MulDivTest : public ::testing::TestWithParam<MulDivCase> {};

TEST_P(MulDivTest, RoundsHalfAwayFromZero) {
    const MulDivCase& t = GetParam();
    EXPECT_EQ(MulDivRounded(t.a, t.b, t.c), t.expected) << t.a << " * " << t.b << " / " << t.c;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MulDivTest,
    ::testing::Values(MulDivCase{1, 96, 96, 1}, MulDivCase{1, 144, 96, 2},
                      MulDivCase{8, 144, 96, 12}, MulDivCase{1, 120, 96, 1}, MulDivCase{3, 1, 2, 2},
                      MulDivCase{-3, 1, 2, -2}, MulDivCase{3, 1, -2, -2},
                      MulDivCase{-3, -1, -2, -2}, MulDivCase{-11, 10, 8, -14},
                      MulDivCase{11, 10, 8, 14}, MulDivCase{-12, 10, 8, -15},
                      // No intermediate overflow; a result beyond 32 bits or no divisor: -1.
                      MulDivCase{INT_MAX, INT_MAX, INT_MAX, INT_MAX}, MulDivCase{INT_MAX, 2, 1, -1},
                      MulDivCase{INT_MIN, 1, 1, -1}, MulDivCase{5, 5, 0, -1}));

TEST(TitleFont, IsAQuarterLargerInEitherSign) {
    EXPECT_EQ(TitleFontHeight(-11), -14);  // -13.75
    EXPECT_EQ(TitleFontHeight(-12), -15);
    EXPECT_EQ(TitleFontHeight(16), 20);
    EXPECT_EQ(TitleFontHeight(0), 0);
}

struct PlacementCase {
    const char* name;
    int32_t width, height;
    LayoutRect owner, work;
    LayoutPoint expected;
};

class PlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PlacementTest, CentresOnOwnerWithinWorkArea) {
    const PlacementCase& c = GetParam();
    const LayoutPoint at = PlaceDialog(c.width, c.height, c.owner, c.work);
    EXPECT_EQ(at.x, c.expected.x);
    EXPECT_EQ(at.y, c.expected.y);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementTest,
    ::testing::Values(
        PlacementCase{"Centred", 400, 200, {0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {760, 440}},
        PlacementCase{
            "OwnerPartlyOffLeftTop", 400, 200, {-900, -500, 300, 200}, {0, 0, 1920, 1040}, {0, 0}},
        PlacementCase{"OwnerPartlyOffRightBottom",
                      400,
                      200,
                      {1700, 900, 2900, 1900},
                      {0, 0, 1920, 1040},
                      {1520, 840}},
        PlacementCase{
            "SecondMonitor", 400, 200, {1920, 0, 2020, 100}, {1920, 0, 3840, 1040}, {1920, 0}},
        PlacementCase{
            "LargerThanWorkArea", 2500, 1500, {0, 0, 1920, 1080}, {10, 20, 1920, 1040}, {10, 20}},
        // (-3 + 0 - 0) / 2 truncates towards zero to -1, not -2.
        PlacementCase{
            "TruncatesTowardsZero", 0, 0, {-3, -5, 0, 0}, {-100, -100, 100, 100}, {-1, -2}},
        PlacementCase{"ExtremeCoordinates",
                      100,
                      100,
                      {INT_MAX - 10, INT_MAX - 10, INT_MAX, INT_MAX},
                      {0, 0, 1000, 1000},
                      {900, 900}}),
    CaseName());

struct MetricsCase {
    int32_t dpi;
    ButtonMetrics expected;
};

class ButtonMetricsTest : public ::testing::TestWithParam<MetricsCase> {};

TEST_P(ButtonMetricsTest, ScaleWithDpi) {
    const MetricsCase& c = GetParam();
    const ButtonMetrics m = ButtonMetricsForDpi(c.dpi);
    EXPECT_EQ(m.penWidth, c.expected.penWidth) << c.dpi;
    EXPECT_EQ(m.cornerSize, c.expected.cornerSize) << c.dpi;
    EXPECT_EQ(m.inset, c.expected.inset) << c.dpi;
}

INSTANTIATE_TEST_SUITE_P(Dpis, ButtonMetricsTest,
                         ::testing::Values(MetricsCase{96, {1, 8, 0}}, MetricsCase{120, {1, 10, 0}},
                                           MetricsCase{144, {2, 12, 1}},
                                           MetricsCase{192, {2, 16, 1}},
                                           MetricsCase{288, {3, 24, 1}},
                                           MetricsCase{384, {4, 32, 2}}));

TEST(ButtonColors, FollowTheItemState) {
    const ButtonColors plain = ButtonColorsForState(0);
    EXPECT_EQ(plain.face, MakeColorRef(14, 14, 14));
    EXPECT_EQ(plain.border, MakeColorRef(54, 54, 54));
    EXPECT_EQ(plain.text, MakeColorRef(195, 195, 195));

    EXPECT_EQ(ButtonColorsForState(kItemStateSelected).face, MakeColorRef(26, 26, 26));
    EXPECT_EQ(ButtonColorsForState(kItemStateDisabled).text, MakeColorRef(115, 115, 115));
    // The lighter border only when focus cues are shown.
    EXPECT_EQ(ButtonColorsForState(kItemStateFocus).border, MakeColorRef(105, 105, 105));
    EXPECT_EQ(ButtonColorsForState(kItemStateFocus | kItemStateNoFocusRect).border,
              MakeColorRef(54, 54, 54));
    EXPECT_EQ(ButtonColorsForState(kItemStateNoFocusRect).border, MakeColorRef(54, 54, 54));

    const ButtonColors all =
        ButtonColorsForState(kItemStateSelected | kItemStateDisabled | kItemStateFocus);
    EXPECT_EQ(all.face, MakeColorRef(26, 26, 26));
    EXPECT_EQ(all.border, MakeColorRef(105, 105, 105));
    EXPECT_EQ(all.text, MakeColorRef(115, 115, 115));
}

}  // namespace

}  // namespace pyrix

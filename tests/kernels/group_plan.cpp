#include "tests/kernels/group_plan.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "kernels/cpu_kernels.h"
#include "kernels/exact_math.h"
#include "kernels/fire_field.h"

namespace pyrix {

namespace {

constexpr int kOctaves = 5;

// The lattice cells one group's lit pixels reach, per octave.
struct GroupCells {
    int minX[kOctaves], maxX[kOctaves], minY[kOctaves], maxY[kOctaves];
    bool beyond[kOctaves] = {};
    long lit = 0;
    GroupCells() {
        std::fill_n(minX, kOctaves, INT_MAX), std::fill_n(minY, kOctaves, INT_MAX);
        std::fill_n(maxX, kOctaves, INT_MIN), std::fill_n(maxY, kOctaves, INT_MIN);
    }
    void Add(const FireFieldParams& field, Float2 q) {
        ++lit;
        Float2 p = firstOctave(field, q.x, q.y);
        for (int octave = 0; octave < kOctaves; ++octave) {
            if (octave > 0) p = nextOctave(octave, p);
            const Float2 cell = latticeCell(p);
            if (!(std::fabs(cell.x) < kGroupTableReach && std::fabs(cell.y) < kGroupTableReach)) {
                beyond[octave] = true;
                continue;
            }
            minX[octave] = std::min(minX[octave], int(cell.x));
            maxX[octave] = std::max(maxX[octave], int(cell.x));
            minY[octave] = std::min(minY[octave], int(cell.y));
            maxY[octave] = std::max(maxY[octave], int(cell.y));
        }
    }
    // The points the octave's table holds, or 0 where the octave is hashed directly.
    int64_t TablePoints(int octave) const {
        if (beyond[octave]) return 0;
        const int64_t width = int64_t{maxX[octave]} - minX[octave] + 2;
        const int64_t height = int64_t{maxY[octave]} - minY[octave] + 2;
        return width * height <= kGroupTablePoints ? width * height : 0;
    }
};

}  // namespace

GroupPlanCost PlanGroups(const ParamsBlock& params) {
    const FlushDenormals flush;
    const FireFieldParams field = MakeFireFieldParams(params);
    const float baseOffset = RunAnchorKernel(params).baseOffset;
    GroupPlanCost cost{0, 0, 0, 0, 0.0};
    double sines = 0.0;
    for (uint32_t groupY = 0; groupY < params.height; groupY += kFireGroupHeight) {
        for (uint32_t groupX = 0; groupX < params.width; groupX += kFireGroupWidth) {
            GroupCells cells;
            const uint32_t endX = std::min(groupX + kFireGroupWidth, params.width);
            const uint32_t endY = std::min(groupY + kFireGroupHeight, params.height);
            for (uint32_t y = groupY; y < endY; ++y) {
                for (uint32_t x = groupX; x < endX; ++x) {
                    const int64_t px = int64_t{x} + params.originX,
                                  py = int64_t{y} + params.originY;
                    if (px < 0 || py < 0 || float(px) >= params.fullWidth ||
                        float(py) >= params.fullHeight || 0.0f >= params.emitterSize) {
                        continue;
                    }
                    const Float2 q = domainPoint(params, baseOffset, float(px), float(py));
                    if (!surelyDark(field, shapeCoordinates(field, q.x, q.y))) {
                        cells.Add(field, q);
                    }
                }
            }
            if (cells.lit == 0) continue;
            ++cost.groups;
            cost.litPixels += cells.lit;
            int direct = 0;
            for (int octave = 0; octave < kOctaves; ++octave) {
                const int64_t points = cells.TablePoints(octave);
                sines += points > 0 ? 2.0 * double(points) : 6.0 * double(cells.lit);
                direct += points > 0 ? 0 : 1;
            }
            cost.directOctaves += direct;
            cost.directGroups += direct > 0 ? 1 : 0;
        }
    }
    cost.sinesPerPixel = sines / (double(params.width) * params.height);
    return cost;
}

}  // namespace pyrix

// Finds frames on which skipping the fire kernel's second pass changes a lit pixel: renders the
// first pass alone on the CPU (first_pass_frame.h) over a run of offsets and prints those that
// meet an undecided sine, with how many lit texels change there.
// Usage: first_pass_search WIDTH HEIGHT DETAIL FRAME FIRST_OFFSET STEP COUNT
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/kernels/first_pass_frame.h"

using namespace pyrix;

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr,
                     "usage: first_pass_search WIDTH HEIGHT DETAIL FRAME FIRST_OFFSET STEP "
                     "COUNT\n");
        return 2;
    }
    const uint32_t width = static_cast<uint32_t>(std::atoi(argv[1]));
    const uint32_t height = static_cast<uint32_t>(std::atoi(argv[2]));
    const float detail = static_cast<float>(std::atof(argv[3]));
    const int frame = std::atoi(argv[4]);
    const double first = std::atof(argv[5]);
    const double step = std::atof(argv[6]);
    const int count = std::atoi(argv[7]);
    std::vector<float> texels(static_cast<size_t>(width) * height * 4);
    const TexelImage image{texels.data(), width * 16u, width, height};
    int found = 0;
    for (int i = 0; i < count; ++i) {
        const float offset = static_cast<float>(first + step * i);
        const ParamsBlock params = PyrixFrameParams(width, height, detail, frame, offset);
        const FirstPassCount result = RunFirstPassAlone(params, image);
        if (result.undecided > 0) {
            std::printf("offset %.9g (time %.9g): %zu undecided texels, %zu lit ones change\n",
                        static_cast<double>(offset), static_cast<double>(params.time),
                        result.undecided, result.changedLit);
            std::fflush(stdout);
            found += result.changedLit > 0 ? 1 : 0;
        }
    }
    std::printf("%d of %d offsets change lit texels\n", found, count);
    return 0;
}

// The sines the fire field hashes, from this platform's C runtime: built natively (glibc) and
// for Windows (msvcrt, run under Wine) to see where the two runtimes' sinf differ. One-off
// diagnosis, not part of the build:
//
//   g++ -O2 -std=c++17 -I. tools/windows/sin_probe.cpp -o /tmp/sin_probe
//   x86_64-w64-mingw32-g++-posix -O2 -std=c++17 -I. -static tools/windows/sin_probe.cpp \
//       -o /tmp/sin_probe.exe
//   /tmp/sin_probe /tmp/glibc.bin; wine /tmp/sin_probe.exe Z:/tmp/msvcrt.bin
//   python3 tools/windows/sin_probe_compare.py /tmp/glibc.bin /tmp/msvcrt.bin
//
// The arguments are the hash's a and b (gradientHash) at every lattice point of a square that
// covers what the five octaves reach for the default settings over many seconds of animation.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "kernels/fire_field.h"

namespace {

constexpr int kHalfSide = 1024;  // lattice points from -1024 to 1023 on each axis

uint32_t Bits(float v) {
    uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sin_probe OUTPUT\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) return 1;
    // Per argument: the argument's bits and sinf's bits; off from the double sine rounded to
    // float counts where this runtime is not correctly rounded.
    long count = 0;
    long off = 0;
    for (int y = -kHalfSide; y < kHalfSide; ++y) {
        for (int x = -kHalfSide; x < kHalfSide; ++x) {
            const float cx = static_cast<float>(x);
            const float cy = static_cast<float>(y);
            const float arguments[2] = {kHashRowAX * cx + kHashRowAY * cy,
                                        kHashRowBX * cx + kHashRowBY * cy};
            for (float a : arguments) {
                const float s = std::sin(a);
                const uint32_t record[2] = {Bits(a), Bits(s)};
                std::fwrite(record, sizeof record, 1, out);
                ++count;
                off += s != static_cast<float>(std::sin(static_cast<double>(a)));
            }
        }
    }
    std::fclose(out);
    std::printf("%ld arguments, %ld not the correctly rounded sine\n", count, off);
    return 0;
}

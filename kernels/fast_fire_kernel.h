// The fast CPU build of FireKernel: the same bits as RunFireKernelGroupRows on every texel,
// an order of magnitude sooner.
//
// Where the time goes in the reference: every pixel hashes 15 lattice points (30 sines). Here
// a dispatch hashes each lattice point that its pixels reach once, into one table per octave,
// and the pixels look the gradients up; pixels that provably stay black skip the field; the
// rest of the noise runs eight pixels at a time with AVX2 when the processor has it. Only
// exact IEEE operations are vectorised (no fused multiply-add, no vector sine, exp2 or log2):
// every value is rounded exactly as the reference rounds it.
#pragma once

#include <cstdint>
#include <functional>

#include "kernels/cpu_kernels.h"
#include "kernels/params_block.h"

namespace pyrix {

class FanOutTeam;

enum class FastFireIsa {
    Portable,  // plain C++, any processor
    Avx2,      // eight pixels per instruction; used only when the processor reports AVX2
};

// The best instruction set of this processor.
FastFireIsa BestFastFireIsa();

struct FastFireOptions {
    // Threads that work on one dispatch, the calling thread included; 0 means one per
    // processor (at most kMaxFastFireThreads).
    unsigned threads = 0;
    FastFireIsa isa = BestFastFireIsa();
    // Both exist for the tests, which compare each shortcut against the full computation.
    bool gradientTables = true;  // false: hash every corner directly, as the reference does
    bool skipBlack = true;       // false: evaluate the field on every pixel inside the frame
    bool vectorShading = true;   // false: shade each pixel with the reference's fireSample
    // Asked on the calling thread between bands of rows; once it answers true, no thread starts
    // another band and the image is left incomplete. Lets a host abort a large frame early.
    std::function<bool()> stop;
    // Threads kept by the caller across dispatches and other fan-outs of its frame; null: this
    // dispatch starts its own.
    FanOutTeam* team = nullptr;
};

constexpr unsigned kMaxFastFireThreads = 8;

// FireKernel for the thread groups in rows [groupRowBegin, groupRowEnd), exactly as
// RunFireKernelGroupRows. An instruction set the processor lacks falls back to Portable.
// False when options.stop stopped it.
bool RunFastFireKernelGroupRows(const ParamsBlock& params, const AnchorRecord& anchor,
                                const TexelImage& output, uint32_t groupRowBegin,
                                uint32_t groupRowEnd, const FastFireOptions& options = {});

// FireKernel for the whole dispatch.
bool RunFastFireKernel(const ParamsBlock& params, const AnchorRecord& anchor,
                       const TexelImage& output, const FastFireOptions& options = {});

}  // namespace pyrix

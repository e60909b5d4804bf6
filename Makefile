# The commands of the README, and the steps they are made of.
.PHONY: all check test demo bench gpu-cost soak fuzz exhaustive deps test-asan test-tsan test-windows release package clean

all: release

deps:
	@tools/install_deps.sh build

# The daily loop: the debug build and its tests, one configuration, no sanitizer.
check: deps
	cmake --preset dev
	cmake --build --preset dev
	ctest --preset dev -j2

# The whole suite: every test under ASan+UBSan, then again under TSan, then the Windows plug-in.
test: deps test-asan test-tsan test-windows

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

test-tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# The Windows plug-in (.aex), cross-built with MinGW-w64: its file checked as the host reads it,
# then run under Wine against the native build's frames.
test-windows: deps
	@tools/install_deps.sh windows
	cmake --preset windows
	cmake --build --preset windows
	ctest --preset windows

# The release zip, dist/vexo_Pyrix-<version>-win64.zip: the Windows plug-in built and passed
# through its checks (PE checks, Wine tests), with the user guide and its pictures, the licence,
# the third-party notices and checksums. A failed check leaves no zip.
package: deps
	@tools/install_deps.sh windows package
	tools/package/make_package.sh

release: deps
	cmake --preset release
	cmake --build --preset release

# The default clip rendered through the plug-in's entry points by pyrix, and a contact sheet of it.
demo: deps
	cmake --preset release
	cmake --build --preset release --target pyrix
	build/release/tools/pyrix/pyrix render -o out/frame_####.png --contact-sheet out/contact_sheet.png
	@echo "frames:        $(CURDIR)/out/frame_0001.png ... frame_0048.png"
	@echo "contact sheet: $(CURDIR)/out/contact_sheet.png"

# Every benchmark, in one optimised build: the fast CPU kernel against the scalar reference and
# the conversion against memcpy (with their ratios and targets), then the conversion's layouts.
# Each runs even when one before it missed a target; the command fails if any did.
BENCHES = kernel_bench conversion_bench
bench: deps
	cmake --preset release
	cmake --build --preset release --target $(BENCHES)
	status=0; for b in $(BENCHES); do build/release/bench/$$b || status=1; done; exit $$status

# What a real GPU compiler makes of the kernels (docs/gpu_cost.md): Mesa's RADV, forced to RDNA2
# and GCN chips without hardware, compiles each kernel as shipped (DXBC via vkd3d) and from its
# HLSL (glslang); registers, spills, scratch, group-shared memory, occupancy, instructions and the
# compiler's cost estimate, each beside the first release's kernel; then the operations the
# kernels execute per pixel (and per anchor thread) on the default frame and at detail 5, counted
# on Mesa's software Vulkan driver.
gpu-cost: deps
	cmake --preset release
	cmake --build --preset release --target gpu_cost_stats gpu_cost_run
	tools/gpu_cost/gpu_cost.py --stats build/release/tools/gpu_cost/gpu_cost_stats \
		--run build/release/tools/gpu_cost/gpu_cost_run --work build/release/gpu_cost

# A long session at its worst (8 host threads x 500 frames, random aborts, Direct3D failures,
# lost devices, refused thread starts, set-downs), under TSan and then under ASan+UBSan.
SOAK_ARGS ?= --threads 8 --frames 500
soak: deps
	cmake --preset tsan
	cmake --build --preset tsan --target pyrix_soak
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/tsan/tests/soak/pyrix_soak $(SOAK_ARGS)
	cmake --preset asan
	cmake --build --preset asan --target pyrix_soak
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		build/asan/tests/soak/pyrix_soak $(SOAK_ARGS)

# Each fuzz target (libFuzzer, clang, ASan+UBSan) for FUZZ_SECONDS; crashes land in
# build/fuzz/artifacts/. The committed corpus is replayed by make test.
FUZZ_SECONDS ?= 600
fuzz: deps
	@tools/install_deps.sh fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz --target fuzz_effect_main fuzz_dxbc fuzz_command_line
	tests/fuzz/run_fuzz.sh build/fuzz effect_main $(FUZZ_SECONDS)
	tests/fuzz/run_fuzz.sh build/fuzz dxbc $(FUZZ_SECONDS) kernels/bytecode -max_len=65536
	tests/fuzz/run_fuzz.sh build/fuzz command_line $(FUZZ_SECONDS)

# ExactSin (the CPU's order and the kernels'), ExactExp2, ExactLog2 and ExactSqrt over all 2^32
# float patterns, ExactDiv over every significand of a against fixed divisors and divisors next to
# powers of two, and over quotients next to a rounding midpoint; each against the correctly rounded
# result (glibc's double functions where they decide it, MPFR otherwise; IEEE's own division and
# square root); the AVX2 build of sqrt, exp2 and log2 against the scalar one over all patterns;
# prints the misrounded counts (0 of each) and the time. The unary operations run in the caller's
# float mode and again with denormals flushed, the kernels' mode. ONLY=div,sqrt (of sin, exp2,
# log2, sqrt, div, avx2; any other name is refused) runs those alone. Not part of `make test`,
# which runs a sample.
exhaustive: deps
	cmake --preset release
	cmake --build --preset release --target exact_math_exhaustive
	build/release/tools/exact_math/exact_math_exhaustive $(if $(ONLY),--only $(ONLY))

clean:
	rm -rf build out dist

# The two commands of the README, and the steps they are made of.
.PHONY: all test demo bench exhaustive deps test-asan test-tsan test-windows release clean

all: release

deps:
	@tools/install_deps.sh build

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

# The fast CPU kernel against the scalar reference, and the output conversion against memcpy,
# in one optimised run; prints the ratios and their targets.
bench: deps
	cmake --preset release
	cmake --build --preset release --target kernel_bench
	build/release/bench/kernel_bench

# ExactSin over all 2^32 float patterns, exp2/log2 over the field's ranges, against MPFR and
# long double; a few minutes on two cores. Not part of `make test` (it runs a sample).
exhaustive: deps
	cmake --preset release
	cmake --build --preset release --target exact_math_exhaustive
	build/release/tools/exact_math/exact_math_exhaustive

clean:
	rm -rf build out

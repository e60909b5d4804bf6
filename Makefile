# The two commands of the README, and the steps they are made of.
.PHONY: all test demo deps test-asan test-tsan release clean

all: release

deps:
	@tools/install_deps.sh build

# The whole suite: every test under ASan+UBSan, then again under TSan.
test: deps test-asan test-tsan

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

test-tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

release: deps
	cmake --preset release
	cmake --build --preset release

clean:
	rm -rf build out

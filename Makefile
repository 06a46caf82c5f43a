# The README's commands (`make help` lists them). Each sets up its own virtual
# environment.
PYTHON ?= python3
# One virtual environment per interpreter version (.venv-3.11, .venv-3.12, ...),
# so that `make test PYTHON=python3.13` never reuses another interpreter's.
PYVER := $(shell $(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null)
ifeq ($(PYVER),)
$(error PYTHON=$(PYTHON) does not run; point PYTHON at a CPython 3.11 or newer)
endif
VENV ?= .venv-$(PYVER)
PY := $(VENV)/bin/python
BUILD_DIR ?= build/$(notdir $(VENV))
# Warnings are errors in CI.
WERROR ?= $(if $(CI),ON,OFF)
PYTEST_ARGS ?=
# What `make build` installs besides the module; the demo needs none of it.
EXTRAS ?= [test]

.PHONY: help venv-check build demo test clean ctest sanitize bench typecheck format-check format lint \
	wheel wheel-test clang test-debian wheel-aarch64
.DEFAULT_GOAL := help

help: ## this list
	@awk -F':.*## ' '/^[a-z][a-z-]*:.*## /{printf "  make %-13s %s\n", $$1, $$2}' $(MAKEFILE_LIST)

# Every target that uses $(VENV) comes through here: a venv made by another
# interpreter is refused, never reused.
venv-check:
	@if [ -x $(PY) ] && [ "$$($(PY) -c 'import sys; print("%d.%d" % sys.version_info[:2])')" != $(PYVER) ]; then \
	    echo "$(VENV) belongs to another Python than $(PYTHON) ($(PYVER)); pass another VENV= or remove it" >&2; exit 1; fi

$(VENV)/.ready: pyproject.toml | venv-check
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.10" cmake ninja
	touch $@

build: $(VENV)/.ready ## build and install the extension into the venv, incrementally
	$(PY) -m pip install -q --no-build-isolation \
	    -C cmake.define.KESTRANE_WERROR=$(WERROR) \
	    -C cmake.define.KESTRANE_SANITIZE=$(if $(SAN_FLAGS),ON,OFF) \
	    -C build-dir=$(BUILD_DIR) ".$(EXTRAS)"

demo: EXTRAS =
demo: build ## run the search demo
	$(PY) examples/search_demo.py

test: build ## the suite (PYTEST_ARGS= passes options to pytest)
	$(PY) -m pytest $(PYTEST_ARGS)

clean: ## remove every build and venv
	rm -rf build $(VENV) .venv .venv-*

# The core's C++ tests (tests/cpp): CMake builds the core alone, without
# Python, under the same warnings, and ctest runs them; with SAN_FLAGS=1 (as
# `make sanitize` does) under AddressSanitizer and UBSan.
CTEST_DIR = build/ctest$(if $(SAN_FLAGS),-asan)
ctest: $(VENV)/.ready ## the core's C++ tests, built without Python
	$(VENV)/bin/cmake -S . -B $(CTEST_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTRANE_MODULE=OFF \
	    -DKESTRANE_TESTS=ON -DKESTRANE_WERROR=$(WERROR) -DKESTRANE_SANITIZE=$(if $(SAN_FLAGS),ON,OFF)
	$(VENV)/bin/cmake --build $(CTEST_DIR) --parallel 2
	$(VENV)/bin/ctest --test-dir $(CTEST_DIR) --output-on-failure

# The core's C++ tests and the whole suite against an AddressSanitizer + UBSan
# build of the extension, in its own environment. The sanitizer runtime must be
# loaded before the interpreter, and pymalloc is bypassed so that every block
# is tracked.
SAN_VENV ?= .venv-asan-$(PYVER)
ASAN_LIB = $(shell $(CXX) -print-file-name=libasan.so)
UBSAN_LIB = $(shell $(CXX) -print-file-name=libubsan.so)

sanitize: ## the C++ tests and the suite under AddressSanitizer and UBSan
	$(MAKE) build VENV=$(SAN_VENV) WERROR=$(WERROR) SAN_FLAGS=1
	$(MAKE) ctest VENV=$(SAN_VENV) WERROR=$(WERROR) SAN_FLAGS=1
	LD_PRELOAD="$(ASAN_LIB) $(UBSAN_LIB)" PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/.ci/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    $(SAN_VENV)/bin/python -m pytest $(PYTEST_ARGS)

# Benchmarks against the interpreter's floor, pure-Python versions and the
# graph libraries users would pick instead (installed in their own venv).
BENCH_VENV ?= .venv-bench-$(PYVER)
bench: ## the benchmarks (BENCH_ARGS=--quick for a shorter run)
	$(MAKE) build VENV=$(BENCH_VENV)
	-$(BENCH_VENV)/bin/python -m pip install -q networkx rustworkx igraph matplotlib
	$(BENCH_VENV)/bin/python bench/run.py $(BENCH_ARGS)

# The stubs against the built module; the demos and a typed user script
# (numpy ids and flags, a TypedDict op snapshot) checked by mypy --strict from
# outside the source tree, so only the installed package is seen; the user
# script and the calls the stubs must reject checked by pyright (strict); and
# the user script run, so what the checkers accept really works.
typecheck: build ## the stubs and a typed user script, with mypy and pyright
	$(PY) -m mypy.stubtest kestrane
	cd "$$(mktemp -d)" && $(CURDIR)/$(PY) -m mypy --strict --follow-imports=silent \
	    $(CURDIR)/examples/search_demo.py $(CURDIR)/examples/demo.py \
	    $(CURDIR)/tests/typing/user_script.py $(CURDIR)/tests/typing/rejected.py
	$(VENV)/bin/pyright -p tests/typing/pyrightconfig.json --pythonpath $(PY)
	$(PY) tests/typing/user_script.py

# Release wheels, manylinux_2_17 (glibc 2.17 and newer), for CPython 3.11 to
# 3.15: those on this machine, and 3.14 and 3.15 from the Debian root of
# `make test-debian` (WHEEL_VERSIONS="3.12" for fewer), built with
# tools/manylinux/c++ and checked by auditwheel into dist/; `make wheel-test`
# installs each into a fresh venv without a compiler and runs the suite.
WHEEL_VERSIONS ?=
wheel: ## manylinux_2_17 wheels for 3.11 to 3.15 into dist/
	tools/build_wheels.sh $(WHEEL_VERSIONS)
wheel-test: ## each wheel in a fresh venv, with the suite
	tools/test_wheels.sh $(WHEEL_VERSIONS)

# The suite against a Clang build of the extension, in its own environment.
CLANG_CXX ?= clang++
CLANG_VENV ?= .venv-clang-$(PYVER)
clang: ## the suite on a Clang build
	@command -v $(CLANG_CXX) >/dev/null 2>&1 || { \
	    echo "$(CLANG_CXX) not found (Debian: apt-get install -y clang)" >&2; exit 1; }
	CXX=$(CLANG_CXX) $(MAKE) test VENV=$(CLANG_VENV) WERROR=$(WERROR)

# The C++ sources against .clang-format, and the Python sources against the
# rules configured in pyproject.toml. Both tools come from pinned wheels, so
# every machine formats and lints alike.
LINT_TOOLS = clang-format==19.1.7 ruff==0.17.6
CXX_SOURCES = $(wildcard src/*/*.cpp src/*/*.hpp tests/cpp/*.cpp tests/cpp/*.hpp)
$(VENV)/.lint-tools: $(VENV)/.ready Makefile
	$(PY) -m pip install -q $(LINT_TOOLS)
	touch $@
format-check: $(VENV)/.lint-tools ## check that the C++ sources are formatted (clang-format)
	@$(VENV)/bin/clang-format --dry-run --Werror $(CXX_SOURCES)
	@echo "$(words $(CXX_SOURCES)) C++ files formatted as .clang-format says"
format: $(VENV)/.lint-tools ## format the C++ sources in place
	$(VENV)/bin/clang-format -i $(CXX_SOURCES)
lint: $(VENV)/.lint-tools ## check the Python sources (ruff)
	$(VENV)/bin/ruff check

# ---- Interpreters this host lacks, and portable wheels ----------------------
# The suite on CPython 3.14 and 3.15, inside a minimal Debian forky root made
# once with debootstrap under .debian/ (git-ignored; needs root, as CI has):
# `make test-debian PY=3.14` (both versions without PY=).
test-debian: ## the suite on 3.14 and 3.15 in a Debian root (PY=3.14 for one)
	for v in $(or $(filter 3.14 3.15,$(PY)),3.14 3.15); do tools/test_debian.sh $$v $(PYTEST_ARGS) || exit 1; done

# The aarch64 wheel for CPython 3.14 (manylinux_2_17_aarch64), cross-built and
# packed from the x86_64 one of `make wheel`, then tested inside an arm64
# Debian root under qemu-user (PYTEST_ARGS= picks the tests; by default the
# README's code and the random cross-checks against the Python twins).
wheel-aarch64: ## the aarch64 wheel for 3.14, tested under qemu-user
	tools/aarch64_wheel.sh build
	tools/aarch64_wheel.sh test $(PYTEST_ARGS)

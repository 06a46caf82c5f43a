# The README's commands. Each sets up its own virtual environment.
PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python
# Warnings are errors in CI.
WERROR ?= $(if $(CI),ON,OFF)
PYTEST_ARGS ?=
# What `make build` installs besides the module; the demo needs none of it.
EXTRAS ?= [test]

.PHONY: demo test build clean

$(VENV)/.ready: pyproject.toml
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.10" cmake ninja
	touch $@

build: $(VENV)/.ready
	$(PY) -m pip install -q --no-build-isolation \
	    -C cmake.define.KESTRANE_WERROR=$(WERROR) \
	    -C cmake.define.KESTRANE_SANITIZE=$(if $(SAN_FLAGS),ON,OFF) \
	    -C build-dir=build/$(notdir $(VENV)) ".$(EXTRAS)"

demo: EXTRAS =
demo: build
	$(PY) examples/search_demo.py

test: build
	$(PY) -m pytest $(PYTEST_ARGS)

clean:
	rm -rf build $(VENV) .venv-*

# The whole suite against an AddressSanitizer + UBSan build of the extension,
# in its own environment. The sanitizer runtime must be loaded before the
# interpreter, and pymalloc is bypassed so that every block is tracked.
SAN_VENV ?= .venv-asan
ASAN_LIB = $(shell $(CXX) -print-file-name=libasan.so)
UBSAN_LIB = $(shell $(CXX) -print-file-name=libubsan.so)

.PHONY: sanitize
sanitize:
	$(MAKE) build VENV=$(SAN_VENV) WERROR=$(WERROR) SAN_FLAGS=1
	LD_PRELOAD="$(ASAN_LIB) $(UBSAN_LIB)" PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/.ci/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    $(SAN_VENV)/bin/python -m pytest $(PYTEST_ARGS)

# Benchmarks against the interpreter's floor, pure-Python versions and the
# graph libraries users would pick instead (installed in their own venv).
BENCH_VENV ?= .venv-bench
.PHONY: bench
bench:
	$(MAKE) build VENV=$(BENCH_VENV)
	-$(BENCH_VENV)/bin/python -m pip install -q networkx rustworkx igraph
	$(BENCH_VENV)/bin/python bench/run.py $(BENCH_ARGS)

# The stubs against the built module, and the demo type-checked from outside
# the source tree (so only the installed package is seen).
.PHONY: typecheck
typecheck: build
	$(PY) -m mypy.stubtest kestrane
	cd "$$(mktemp -d)" && $(CURDIR)/$(PY) -m mypy --strict --follow-imports=silent \
	    $(CURDIR)/examples/search_demo.py $(CURDIR)/examples/demo.py

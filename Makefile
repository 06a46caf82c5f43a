# The README's commands. Each sets up its own virtual environment.
PYTHON ?= python3
VENV ?= .venv
PY := $(VENV)/bin/python
# Warnings are errors in CI.
WERROR ?= $(if $(CI),ON,OFF)
PYTEST_ARGS ?=

.PHONY: demo test build clean

$(VENV)/.ready: pyproject.toml
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.10" cmake ninja
	touch $@

build: $(VENV)/.ready
	$(PY) -m pip install -q --no-build-isolation \
	    -C cmake.define.KESTRANE_WERROR=$(WERROR) ".[test]"

demo: build
	$(PY) examples/demo.py

test: build
	$(PY) -m pytest $(PYTEST_ARGS)

clean:
	rm -rf build $(VENV) .venv-*

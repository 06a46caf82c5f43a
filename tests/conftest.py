import pytest

from helpers import EXAMPLE_EDGES, EXAMPLE_NODES, make_graph


def pytest_configure(config):
    # Registered here, not in pyproject.toml, so that a run from a copy of
    # tests/ (tools/test_wheels.sh) knows the marker too.
    config.addinivalue_line("markers", "wheel: builds a wheel from the source tree and installs it (slow); "
                                       "deselected unless asked for with -m wheel")


@pytest.fixture
def example():
    return make_graph(EXAMPLE_NODES, EXAMPLE_EDGES)

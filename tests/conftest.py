import pytest

# panic_type and make_graph stay importable from here for test modules written
# before helpers.py held them.
from helpers import EXAMPLE_EDGES, EXAMPLE_NODES, make_graph, panic_type  # noqa: F401


@pytest.fixture
def example():
    return make_graph(EXAMPLE_NODES, EXAMPLE_EDGES)

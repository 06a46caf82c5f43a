import pytest

from helpers import EXAMPLE_EDGES, EXAMPLE_NODES, make_graph


@pytest.fixture
def example():
    return make_graph(EXAMPLE_NODES, EXAMPLE_EDGES)

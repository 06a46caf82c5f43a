"""Type stubs for kestrane, the native core for searches over layered graphs of
value nodes and operator nodes."""

from collections.abc import Sequence
from typing import Any, final

__all__ = [
    "RustGraph",
    "condition_combinations",
    "tree_conditions",
    "get_conditions",
    "update_callable_conditions",
    "glue_leaves",
]

@final
class RustGraph:
    def __new__(cls) -> RustGraph: ...
    def set_root(self, node_id: int) -> None:
        """Set the root node of this graph."""
    def get_root(self) -> int:
        """Return the root node id.
        Note: the graph must have at least one node for this id to be valid."""
    def walk_from_root(self, above: bool, below: bool) -> list[int]:
        """Convenience: walk from root directly (fails if not set)"""
    def add_value_with_payload(self, val_id: int, type_id: int) -> int: ...
    def add_op_with_payload(self, op_id: int) -> int: ...
    def connect_value_to_op(self, val: int, op: int) -> None: ...
    def connect_op_to_value(self, op: int, val: int) -> None: ...
    def get_children(self, node_id: int) -> list[int]: ...
    def get_parents(self, node_id: int) -> list[int]: ...
    def get_options(self, node_id: int) -> list[int]: ...
    def neighbors(self, id: int) -> list[int]: ...
    def leaves(self) -> list[int]: ...
    def get_parent(self, node_id: int) -> int | None: ...
    def is_value_node(self, node_id: int) -> bool:
        """Return true if the node at `node_id` is a value node."""
    def get_value_payload(self, node_id: int) -> tuple[int, int] | None: ...
    def get_op_id(self, node_id: int) -> int | None: ...
    def num_nodes(self) -> int: ...
    def nodes(self, val_nodes: bool, op_nodes: bool) -> list[int]:
        """Return the indices of nodes filtered by type.

        If `val_nodes` is true, include value nodes. If `op_nodes` is true,
        include operator nodes. The returned vector preserves the graph's
        internal node ordering (0..n)."""
    def walk(self, start_id: int, above: bool = True, below: bool = True) -> list[int]: ...
    def clone_subgraph(self) -> tuple[RustGraph, dict[int, int]]:
        """Clone the entire subgraph reachable from the current graph's root.

        The function:
          - Uses `self.root_id` as the starting point.
          - Traverses all reachable nodes (both up and down connections).
          - Rebuilds a new `Graph` with cloned nodes and adjusted edge indices.
          - Returns the cloned graph and the mapping `old_id -> new_id`.

        The cloned graph will have its own `root_id` set to the mapped clone
        of the original root node."""
    def merge_value_nodes(self, keep: int, other: int, upper: bool, lower: bool) -> None:
        """Merge two value nodes by redirecting all connections from `other` to `keep`.
        Equivalent to Python ValueNode.merge(upper=True, lower=True)."""
    def connection_hash(self) -> int: ...
    def connections(self) -> list[tuple[int, int]]: ...
    def equality_hash(self) -> int: ...
    def same_spec(self, a: int, b: int) -> bool:
        """Helper: check if two value nodes have the same spec (type_id)."""
    def clone_and_attach(self, elem: RustGraph, root_leaf_id: int) -> tuple[RustGraph, list[int], list[int]]:
        """Clone the current graph and attach `elem` beneath `root_leaf_id`,
        merging the leaf value with the element's root value node.

        The element’s *operator under its root* becomes a new outgoing option
        of the given leaf. The element root value itself is not duplicated.

        Returns:
          (new_graph, new_elem_leaves, old_candidates)"""
    def traces(
        self,
        start_id: int,
        me_too: bool = True,
        op_nodes: bool = True,
        val_nodes: bool = True,
        above: bool = True,
        below: bool = False,
    ) -> list[list[int]]:
        """Compute traces starting from a node, like the Python ValueNode.traces()."""
    def is_below(
        self, start_id: int, nodes: Sequence[int], include_self: bool = True, skip: Sequence[int] = ...
    ) -> bool: ...
    def cross_sections(self, target_leaves: Sequence[int]) -> list[tuple[list[int], int]]: ...

def condition_combinations(
    conditions_by_child: Sequence[Sequence[Sequence[int]]], offset_list: Sequence[int]
) -> list[list[int]]: ...
def tree_conditions(
    graph: RustGraph, node_id: int, op_snapshot: dict[int, dict[str, Any]], adopt_for_callable: bool
) -> list[list[int]]: ...
def get_conditions(
    graph: RustGraph, node_id: int, op_snapshot: dict[int, dict[str, Any]], adopt_for_callable: bool
) -> list[list[int]]: ...
def update_callable_conditions(
    graph: RustGraph, node_id: int, op_snapshot: dict[int, dict[str, Any]]
) -> list[list[int]]: ...
def glue_leaves(
    graph: RustGraph,
    leaves: Sequence[int],
    candidates: Sequence[int],
    trees_only: bool,
    max_leaves: int | None = None,
) -> list[RustGraph]: ...

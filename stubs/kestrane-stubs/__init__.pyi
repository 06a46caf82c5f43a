"""Type stubs for kestrane, the native core for searches over layered graphs of
value nodes and operator nodes.

A graph has value nodes (payload: a value id and a type id) and operator nodes
(payload: an operator id). Below a value node hang its *options* (operators
that could produce it); below an operator hang its *children* (the values it
takes). A value node without options is a *leaf*. Node ids are dense, given in
creation order, and never removed.

Conventions shared by every call:

- Node ids and the 32-bit payload ids accept an ``int`` or anything with
  ``__index__`` (numpy integers included; ``True`` counts as 1). A negative id,
  or one that does not fit (2**64 for node ids, 2**32 for payload ids), raises
  ``OverflowError``; a non-integer raises ``TypeError``.
- Flags accept exactly ``True``/``False`` or a numpy boolean scalar; ``0`` and
  ``1`` raise ``TypeError``.
- Lists of ids accept any sequence of ids (list, tuple, range, a numpy array),
  but not a ``str`` (``TypeError: Can't extract `str` to `Vec```) and not a set,
  dict or generator (``TypeError: '<type>' object cannot be cast as 'Sequence'``).
- A ``TypeError`` from converting an argument is prefixed with
  ``argument '<name>': ``; other conversion errors are raised unchanged.
- Arguments are checked before anything changes; a call that raises leaves
  the graph exactly as it was, and the graph stays usable.
- ``RuntimeError("Already borrowed")`` or ``RuntimeError("Already mutably
  borrowed")``: Python code run while converting an argument (an ``__index__``
  or ``__iter__``) called back into the same graph.
- ``PanicException``: a broken precondition inside an operation, usually a
  node id out of range (``index out of bounds: the len is 3 but the index is
  5``). It derives from ``BaseException``, not ``Exception``, and is not a
  module attribute: catch it by ``type(e).__name__ == "PanicException"``.
- ``MemoryError`` for a result that cannot fit in memory; long enumerations
  poll for signals, so Ctrl-C raises ``KeyboardInterrupt``.
"""

from collections.abc import Sequence
from typing import Any, Protocol, SupportsIndex, TypeVar, final, type_check_only

from typing_extensions import ReadOnly, TypedDict

__all__ = [
    "RustGraph",
    "condition_combinations",
    "tree_conditions",
    "get_conditions",
    "update_callable_conditions",
    "glue_leaves",
]

@type_check_only
class _NumpyBool(Protocol):
    """numpy's boolean scalar (``numpy.bool_``, ``numpy.True_``, the result of
    ``array.any()``), which the module takes through its truth value."""

    def __bool__(self) -> bool: ...
    def item(self) -> bool: ...

# A flag: True/False or a numpy boolean scalar. Plain ints (0, 1) are refused.
_Bool = bool | _NumpyBool

@type_check_only
class _IndexDType(Protocol):
    """A numpy dtype whose scalars are indexes (the integer dtypes)."""

    @property
    def type(self) -> type[SupportsIndex]: ...

@type_check_only
class _IndexArray(Protocol):
    """A numpy array of integers, which the module takes as a sequence of ids.
    An array is not a ``Sequence`` to a type checker; its dtype tells an
    integer array from a float one."""

    def __len__(self) -> int: ...
    def __getitem__(self, key: int, /) -> Any: ...
    @property
    def dtype(self) -> _IndexDType: ...

# A list of ids: any sequence of ids or an integer array, not a str or a set.
_Ids = Sequence[SupportsIndex] | _IndexArray

@type_check_only
class _OpEntry(TypedDict):
    """One operator's entry in an op snapshot. Read-only here, so that a
    caller's own TypedDict with narrower field types (``list[list[int]]``,
    ``bool``) and any extra keys matches it."""

    conditions: ReadOnly[Sequence[_Ids]]
    has_callable: ReadOnly[_Bool]
    cumulative: ReadOnly[_Bool]

# The snapshot must be a real dict (or a dict subclass) whose values are real
# dicts. dict is invariant in both parameters, so the key and value types are
# type variables: `dict[int, MyOpTypedDict]`, `dict[np.uint32, ...]` and an
# unannotated `dict[int, dict[str, object]]` all match.
_OpKey = TypeVar("_OpKey", bound=SupportsIndex)
_OpValue = TypeVar("_OpValue", bound=_OpEntry | dict[str, Any])

@final
class RustGraph:
    """A graph of value nodes and operator nodes.

    Example::

        g = RustGraph()
        root = g.add_value_with_payload(10, 1)   # val_id 10, type_id 1
        add = g.add_op_with_payload(20)
        x = g.add_value_with_payload(11, 2)
        g.connect_value_to_op(root, add)         # add is an option of root
        g.connect_op_to_value(add, x)            # x is a child of add
        g.set_root(root)
        g.leaves()                               # [2]

    Not subclassable; no instance dict, weak references, comparison, hashing,
    copying or pickling.
    """

    def __new__(cls) -> RustGraph:
        """A new, empty graph: no nodes, root id 0.

        Raises:
            TypeError: any argument is given.
        """
    def set_root(self, node_id: SupportsIndex) -> None:
        """Set the root node of this graph.

        The id is stored without a check; calls that start from the root check
        it themselves (``walk_from_root`` raises ``ValueError``, the others
        ``PanicException``).

        Raises:
            TypeError: ``node_id`` is not an integer.
            OverflowError: ``node_id`` is negative or not below 2**64.
        """
    def get_root(self) -> int:
        """Return the root node id.
        Note: the graph must have at least one node for this id to be valid.

        0 if ``set_root`` was never called, otherwise the last id stored,
        whether or not a node with that id exists. Cannot fail.
        """
    def walk_from_root(self, above: _Bool, below: _Bool) -> list[int]:
        """Convenience: walk from root directly (fails if not set)

        The same as ``walk(get_root(), above, below)``.

        Raises:
            ValueError: ``Graph has no valid root_id set``: the graph has no
                nodes or its root id is not below ``num_nodes()``.
            TypeError: a flag is not a bool.
        """
    def add_value_with_payload(self, val_id: SupportsIndex, type_id: SupportsIndex) -> int:
        """Append a value node with payload ``(val_id, type_id)``; return its id
        (the node count before the call).

        ``type_id`` is the value's spec: ``same_spec`` and ``glue_leaves``
        compare it.

        Raises:
            OverflowError: an id is outside 0..4294967295 (``out of range
                integral type conversion attempted``).
            TypeError: an id is not an integer.
        """
    def add_op_with_payload(self, op_id: SupportsIndex) -> int:
        """Append an operator node with payload ``op_id``; return its id.

        Raises:
            OverflowError: ``op_id`` is outside 0..4294967295.
            TypeError: ``op_id`` is not an integer.
        """
    def connect_value_to_op(self, val: SupportsIndex, op: SupportsIndex) -> None:
        """Make ``op`` an option of ``val``: append ``op`` to ``val``'s options
        and set ``op``'s parent to ``val`` (replacing an earlier parent).

        Neither the kinds of the two nodes nor an existing edge are checked:
        connecting twice lists ``op`` twice.

        Raises:
            PanicException: ``val`` or ``op`` is not below ``num_nodes()``
                (``val`` is reported first); nothing is changed.
            TypeError, OverflowError: an id is not a non-negative integer.
        """
    def connect_op_to_value(self, op: SupportsIndex, val: SupportsIndex) -> None:
        """Make ``val`` a child of ``op``: append ``val`` to ``op``'s children
        and ``op`` to ``val``'s parents.

        Raises:
            PanicException: ``op`` or ``val`` is not below ``num_nodes()``
                (``op`` is reported first); nothing is changed.
            TypeError, OverflowError: an id is not a non-negative integer.
        """
    def get_children(self, node_id: SupportsIndex) -> list[int]:
        """A copy of the node's children list, in stored order, duplicates kept
        (normally empty for a value node).

        Raises:
            PanicException: ``node_id`` is not below ``num_nodes()``.
            TypeError, OverflowError: ``node_id`` is not a non-negative integer.
        """
    def get_parents(self, node_id: SupportsIndex) -> list[int]:
        """A copy of the node's parents list: the operators that take this
        value node as a child, in stored order (normally empty for an operator).

        Raises:
            PanicException: ``node_id`` is not below ``num_nodes()``.
            TypeError, OverflowError: ``node_id`` is not a non-negative integer.
        """
    def get_options(self, node_id: SupportsIndex) -> list[int]:
        """A copy of the node's options list: the operators below this value
        node, in stored order (normally empty for an operator).

        Raises:
            PanicException: ``node_id`` is not below ``num_nodes()``.
            TypeError, OverflowError: ``node_id`` is not a non-negative integer.
        """
    def neighbors(self, id: SupportsIndex) -> list[int]:
        """The node's options, then its parents, then its parent (if set), then
        its children, each in stored order, duplicates kept.

        Raises:
            PanicException: ``id`` is not below ``num_nodes()``.
            TypeError, OverflowError: ``id`` is not a non-negative integer.
        """
    def leaves(self) -> list[int]:
        """The value nodes without options reached downward from the root, in
        walk order. An empty list for a graph with no nodes or an invalid root;
        ``[0]`` for a graph of one value node. Cannot fail.
        """
    def get_parent(self, node_id: SupportsIndex) -> int | None:
        """The operator node's parent (the value node it is an option of), or
        ``None`` when it has none (always for a value node built normally).

        Raises:
            PanicException: ``node_id`` is not below ``num_nodes()``.
            TypeError, OverflowError: ``node_id`` is not a non-negative integer.
        """
    def is_value_node(self, node_id: SupportsIndex) -> bool:
        """Return true if the node at `node_id` is a value node.

        Raises:
            PanicException: ``node_id`` is not below ``num_nodes()``.
            TypeError, OverflowError: ``node_id`` is not a non-negative integer.
        """
    def get_value_payload(self, node_id: SupportsIndex) -> tuple[int, int] | None:
        """``(val_id, type_id)`` of a value node; ``None`` for an operator node.

        Raises:
            PanicException: ``node_id`` is not below ``num_nodes()``.
            TypeError, OverflowError: ``node_id`` is not a non-negative integer.
        """
    def get_op_id(self, node_id: SupportsIndex) -> int | None:
        """``op_id`` of an operator node; ``None`` for a value node.

        Raises:
            PanicException: ``node_id`` is not below ``num_nodes()``.
            TypeError, OverflowError: ``node_id`` is not a non-negative integer.
        """
    def num_nodes(self) -> int:
        """The number of nodes (ids run from 0 to ``num_nodes() - 1``). Cannot fail."""
    def nodes(self, val_nodes: _Bool, op_nodes: _Bool) -> list[int]:
        """Return the indices of nodes filtered by type.

        If `val_nodes` is true, include value nodes. If `op_nodes` is true,
        include operator nodes. The returned vector preserves the graph's
        internal node ordering (0..n).

        Raises:
            TypeError: a flag is not a bool (``nodes(True, 1)`` raises
                ``argument 'op_nodes': 'int' object cannot be cast as 'bool'``).
        """
    def walk(self, start_id: SupportsIndex, above: _Bool = True, below: _Bool = True) -> list[int]:
        """Depth-first walk from ``start_id``, each reached node listed once.

        ``above`` follows a value node's parents and an operator's parent;
        ``below`` follows a value node's options and an operator's children.
        The order is fixed: the start, then for a value node its parents and
        then its options, for an operator its children and then its parent,
        each explored depth first in stored order. Cycles end the branch.

        Example: with root 0 over operator 1 over values 2 and 3,
        ``walk(3)`` is ``[3, 1, 2, 0]`` and ``walk(3, above=False)`` is ``[3]``.

        Raises:
            PanicException: ``start_id`` is not below ``num_nodes()``.
            TypeError: a flag is not a bool, or ``start_id`` not an integer.
            OverflowError: ``start_id`` is negative.
        """
    def clone_subgraph(self) -> tuple[RustGraph, dict[int, int]]:
        """Clone the entire subgraph reachable from the current graph's root.

        The function:
          - Uses `self.root_id` as the starting point.
          - Traverses all reachable nodes (both up and down connections).
          - Rebuilds a new `Graph` with cloned nodes and adjusted edge indices.
          - Returns the cloned graph and the mapping `old_id -> new_id`.

        The cloned graph will have its own `root_id` set to the mapped clone
        of the original root node.

        The clone is compact: only nodes connected to the root through any
        link, renumbered in depth-first order, root 0. The dict's contents are
        fixed; its key order varies from run to run.

        Raises:
            PanicException: ``Cannot clone_subgraph: Graph has no valid root_id
                set`` (no nodes, or root id not below ``num_nodes()``).
        """
    def merge_value_nodes(
        self, keep: SupportsIndex, other: SupportsIndex, upper: _Bool, lower: _Bool
    ) -> None:
        """Merge two value nodes by redirecting all connections from `other` to `keep`.
        Equivalent to Python ValueNode.merge(upper=True, lower=True).

        In place. ``upper`` moves ``other``'s parents: each operator above it
        takes ``keep`` as the child instead, and ``keep`` gains the operators
        it did not list yet. ``lower`` moves ``other``'s options under
        ``keep`` the same way. ``other`` stays in the graph, detached from the
        moved links. ``keep == other`` does nothing.

        Raises:
            PanicException: ``other`` is not below ``num_nodes()`` (when a flag
                is set), or ``keep`` is not and there is something to move;
                nothing is changed.
            TypeError, OverflowError: bad ids or flags.
        """
    def connection_hash(self) -> int:
        """64-bit fingerprint of the shape of the part connected to the root:
        equal for graphs that differ only in numbering or payloads.

        Raises:
            PanicException: the graph has no nodes or its root id is not
                below ``num_nodes()`` (index message).
        """
    def connections(self) -> list[tuple[int, int]]:
        """The links of the part connected to the root, as pairs of positions
        in ``walk_from_root(True, True)``: for each node in walk order, one
        pair per entry of its ``neighbors`` list. Independent of numbering.

        Raises:
            PanicException: the graph has no nodes or its root id is not
                below ``num_nodes()`` (index message).
        """
    def equality_hash(self) -> int:
        """64-bit fingerprint of the shape together with the payload ids
        (``val_id``/``op_id``; ``type_id`` is not included).

        Raises:
            PanicException: the graph has no nodes or its root id is not
                below ``num_nodes()`` (index message).
        """
    def same_spec(self, a: SupportsIndex, b: SupportsIndex) -> bool:
        """Helper: check if two value nodes have the same spec (type_id).

        False if either is an operator node; ``val_id`` is not compared.

        Raises:
            PanicException: ``a`` or ``b`` is not below ``num_nodes()``.
            TypeError, OverflowError: an id is not a non-negative integer.
        """
    def clone_and_attach(
        self, elem: RustGraph, root_leaf_id: SupportsIndex
    ) -> tuple[RustGraph, list[int], list[int]]:
        """Clone the current graph and attach `elem` beneath `root_leaf_id`,
        merging the leaf value with the element's root value node.

        The element’s *operator under its root* becomes a new outgoing option
        of the given leaf. The element root value itself is not duplicated.

        Returns:
          (new_graph, new_elem_leaves, old_candidates)

        ``new_graph`` is the compact clone of this graph (as
        ``clone_subgraph``) followed by the element's nodes except its root.
        ``new_elem_leaves``: the appended nodes with neither children nor
        options, ascending. ``old_candidates``: this graph's other leaves, as
        ids in ``new_graph``. Neither input changes; ``elem`` may be ``self``.

        Example::

            grown, new_leaves, others = g.clone_and_attach(elem, g.leaves()[0])

        Raises:
            PanicException: ``clone_and_attach: self has no valid root``;
                ``called `Option::unwrap()` on a `None` value`` when
                ``root_leaf_id`` is not connected to this graph's root (or out
                of range); ``Cannot clone_subgraph: Graph has no valid root_id
                set`` when ``elem`` has no valid root.
            TypeError: ``elem`` is not a ``RustGraph``.
            TypeError, OverflowError: ``root_leaf_id`` is not a non-negative
                integer.
        """
    def traces(
        self,
        start_id: SupportsIndex,
        me_too: _Bool = True,
        op_nodes: _Bool = True,
        val_nodes: _Bool = True,
        above: _Bool = True,
        below: _Bool = False,
    ) -> list[list[int]]:
        """Compute traces starting from a node, like the Python ValueNode.traces().

        Every path from ``start_id`` along links in the chosen directions, to
        where it can go no further (a path never revisits a node), as the
        list of its nodes of the chosen kinds (``op_nodes``, ``val_nodes``;
        with ``me_too`` false nothing is recorded, so every trace is empty).
        Paths come in depth-first order.

        Example: ``g.traces(leaf, op_nodes=False)`` lists the value nodes on
        every upward path from ``leaf`` to the root.

        Raises:
            PanicException: ``start_id`` is not below ``num_nodes()``.
            TypeError, OverflowError: bad id or flags.
        """
    def is_below(
        self,
        start_id: SupportsIndex,
        nodes: _Ids,
        include_self: _Bool = True,
        skip: _Ids = ...,
    ) -> bool:
        """Whether one of ``nodes`` lies above ``start_id``: climbing from value
        nodes to the operators that take them and from operators to the value
        node whose option they are. Operators met are always compared with
        ``nodes``; value nodes (the start included) only when ``include_self``
        is true. The climb never passes through a node of ``skip`` (default:
        none). Ids in ``nodes`` and ``skip`` are not range-checked.

        Raises:
            PanicException: ``start_id`` is not below ``num_nodes()`` (and not
                in ``skip``).
            TypeError: ``nodes`` or ``skip`` is a ``str`` or not a sequence, a
                flag is not a bool.
            OverflowError: a negative id.
        """
    def cross_sections(self, target_leaves: _Ids) -> list[tuple[list[int], int]]:
        """Every distinct cut between the root and ``target_leaves``, with its
        score.

        On each upward value trace of each target one value node is chosen;
        choices lying above another choice on the same trace are kept, those
        below dropped, and every leaf not covered is added. Each result is
        ``(nodes, score)``: the kept choices, then the added leaves, and the
        sum over kept choices of the number of value nodes above them on
        their trace. Each node set is reported once, in the order first met.

        Raises:
            PanicException: a target is not below ``num_nodes()``.
            TypeError: ``target_leaves`` is a ``str`` or not a sequence.
            OverflowError: a negative id.
        """

def condition_combinations(
    conditions_by_child: Sequence[Sequence[_Ids]], offset_list: _Ids
) -> list[list[int]]:
    """Combine per-child condition lists into conditions of the parent.

    One result per way of choosing one condition from each child's list (the
    last child varying fastest), each chosen condition shifted by its child's
    offset and concatenated. A single offset applies to every child; with no
    offsets nothing is shifted; otherwise children beyond the last offset are
    left out. No children: ``[[]]``; a child with no conditions: ``[]``.

    Example::

        condition_combinations([[[0]], [[0], [1]]], [0, 5])   # [[0, 5], [0, 6]]

    Raises:
        TypeError: a ``str`` or non-sequence at any level, or a non-integer
            position (prefixed with the argument's name).
        OverflowError: a negative number.
        MemoryError: the number of combinations cannot fit in memory.
    """

def tree_conditions(
    graph: RustGraph,
    node_id: SupportsIndex,
    op_snapshot: dict[_OpKey, _OpValue],
    adopt_for_callable: _Bool,
) -> list[list[int]]:
    """The operator conditions of ``node_id`` carried down to leaf positions
    of the tree below it.

    ``op_snapshot`` maps an operator id to ``{"conditions": [[positions...],
    ...], "has_callable": bool, "cumulative": bool}`` (other keys are
    ignored). Each condition selects argument positions; an argument that is
    not selected is expanded into the conditions of its first option. An
    operator without an entry has no conditions. A leaf gives ``[[]]``. With
    ``adopt_for_callable`` every operator's conditions are taken as
    ``update_callable_conditions`` gives them.

    Example::

        class OpInfo(TypedDict):
            conditions: list[list[int]]
            has_callable: bool
            cumulative: bool

        ops: dict[int, OpInfo] = {7: {"conditions": [[0], [1]],
                                      "has_callable": False, "cumulative": False}}
        tree_conditions(g, op_node, ops, False)   # [[0], [1]] over two leaves

    Raises:
        TypeError: ``graph`` is not a ``RustGraph``; ``op_snapshot`` is not a
            dict (``argument 'op_snapshot': ...``); an entry is not a dict, or
            its fields have the wrong type (no argument prefix).
        KeyError: an entry lacks ``'conditions'``, ``'has_callable'`` or
            ``'cumulative'`` (``missing 'cumulative'``).
        OverflowError: an operator id outside 0..4294967295, or a negative
            id or position.
        ValueError: ``graph has a cycle through node N`` below ``node_id``.
        MemoryError: the result cannot fit in memory.
        PanicException: ``node_id`` is not below ``num_nodes()``; ``Already
            mutably borrowed: PyBorrowError`` when code run while reading the
            snapshot is changing ``graph``; the snapshot changed size while
            being read.
    """

def get_conditions(
    graph: RustGraph,
    node_id: SupportsIndex,
    op_snapshot: dict[_OpKey, _OpValue],
    adopt_for_callable: _Bool,
) -> list[list[int]]:
    """A value node's canonical condition list, as indices of the distinct
    leaves below it.

    Takes ``tree_conditions`` of the node's first option, maps leaf positions
    to distinct-leaf indices (dropping contradictory conditions), keeps only
    the minimal ones and sorts them: shortest first, then lexicographically.
    When nothing is left, the one condition holding every leaf of the graph.
    A leaf or an operator node gives ``[[]]``. ``op_snapshot`` is as for
    ``tree_conditions``.

    Raises:
        The same as ``tree_conditions``.
    """

def update_callable_conditions(
    graph: RustGraph, node_id: SupportsIndex, op_snapshot: dict[_OpKey, _OpValue]
) -> list[list[int]]:
    """An operator node's conditions with a callable's conditions adopted.

    For an operator whose entry has ``has_callable`` true and ``cumulative``
    false and whose first child is a value node, the conditions are those of
    the operator whose id is that child's ``val_id``, each shifted one
    position right and preceded by position 0 (``[]`` when that id has no
    entry). Otherwise the operator's own conditions; a value node or an
    operator without an entry gives ``[]``.

    Raises:
        The same as ``tree_conditions``, except the cycle ``ValueError``.
    """

def glue_leaves(
    graph: RustGraph,
    leaves: _Ids,
    candidates: _Ids,
    trees_only: _Bool,
    max_leaves: SupportsIndex | None = None,
) -> list[RustGraph]:
    """The graphs obtained by gluing open leaves onto value nodes of the same
    type, each shape (``connection_hash``) once, as compact clones.

    First the graph itself, then, for the first leaf (in list order) that has
    a partner of equal ``type_id`` among the later leaves and then the
    candidates, one branch per partner: the leaf folded into it
    (``merge_value_nodes``), then recursively the remaining leaves. With
    ``trees_only`` the result is just the graph itself. ``max_leaves`` skips
    emitting graphs whose remaining leaf list is longer. ``graph`` is not
    changed.

    Example::

        for glued in glue_leaves(g, g.leaves(), [], False):
            print(glued.connections())

    Raises:
        PanicException: ``graph`` has no valid root; a leaf or candidate is
            not below ``num_nodes()``; a leaf or candidate is not connected to
            the root (``first missing in corr map`` and similar).
        TypeError, OverflowError: bad lists, flag or ``max_leaves``.
        MemoryError: the results cannot fit in memory.
    """

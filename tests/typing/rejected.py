"""Calls the stubs must reject. Each line carries the error each checker is
expected to report; an expectation that no longer holds is an unused-ignore
error under mypy --strict and under pyright's reportUnnecessaryTypeIgnoreComment.
Never run."""

from typing import TypedDict

import numpy as np

import kestrane
from kestrane import RustGraph


class BadConditions(TypedDict):
    conditions: list[str]
    has_callable: bool
    cumulative: bool


class NoCumulative(TypedDict):
    conditions: list[list[int]]
    has_callable: bool


g = RustGraph()
bad: dict[int, BadConditions] = {}
partial: dict[int, NoCumulative] = {}

g.walk("0")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
g.walk(0.5)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
g.walk(0, 1)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
g.walk(0, np.int64(1))  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
g.is_below(0, "01")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
g.is_below(0, {1, 2})  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
g.cross_sections(np.zeros(2))  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
g.clone_and_attach(1, 0)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
kestrane.tree_conditions(g, 0, [], False)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
kestrane.tree_conditions(g, 0, {5: [1, 2]}, False)  # type: ignore[type-var]  # pyright: ignore[reportArgumentType]
kestrane.tree_conditions(g, 0, bad, False)  # type: ignore[type-var]  # pyright: ignore[reportArgumentType]
kestrane.get_conditions(g, 0, partial, False)  # type: ignore[type-var]  # pyright: ignore[reportArgumentType]
kestrane.update_callable_conditions(g, 0, {"7": {}})  # type: ignore[type-var]  # pyright: ignore[reportArgumentType]
kestrane.glue_leaves(g, [], [], False, max_leaves="2")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
kestrane.condition_combinations(["ab"], [])  # type: ignore[list-item]  # pyright: ignore[reportArgumentType]

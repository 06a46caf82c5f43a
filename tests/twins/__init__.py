"""Plain-Python twins of kestrane's operations, written step for step from the
behaviour they mirror: the tests compare the native module with them, and the
benchmarks (bench/) time them as the baseline. All of them work on
`py_traces.PyGraph`, which is built from the same (nodes, edges, root) lists
as `helpers.make_graph`."""

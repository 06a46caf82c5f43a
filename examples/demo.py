"""Builds a small value/operator graph and prints its walk and leaves."""

import kestrane

g = kestrane.RustGraph()
root = g.add_value_with_payload(10, 1)  # the value we need
add = g.add_op_with_payload(20)  # one way to produce it
x = g.add_value_with_payload(11, 2)
y = g.add_value_with_payload(12, 2)
g.connect_value_to_op(root, add)
g.connect_op_to_value(add, x)
g.connect_op_to_value(add, y)
g.set_root(root)

print("nodes:", g.num_nodes())
print("walk from root:", g.walk_from_root(True, True))
print("leaves:", g.leaves())

// The condition functions the Python layer calls: operator conditions carried
// down to leaf positions, combined across children, adopted from callables,
// and reduced to a node's canonical list. Each is declared by the header of
// the file that defines it.
#pragma once

#include "callable_conditions.hpp"     // _update_callable_conditions
#include "condition_combinations.hpp"  // condition_combinations
#include "node_conditions.hpp"         // get_conditions
#include "tree_conditions.hpp"         // _tree_conditions

// The check-mark propagation as it was first built: every child recounts all
// its siblings through the tree, so a container of N items costs about N²
// item reads. Kept as the reference the linear propagation is compared with,
// and as the "before" of the check-mark benchmarks.
#pragma once

#include "directory/tree_ops.h"

namespace qel::test::quadratic {

void ToggleItemCheck(ITreeOps& tree, HTREEITEM item);
void SetItemCheck(ITreeOps& tree, HTREEITEM item, int state);
void SetChildrenCheck(ITreeOps& tree, HTREEITEM item, int state);
void UpdateParentCheck(ITreeOps& tree, HTREEITEM item);

}  // namespace qel::test::quadratic

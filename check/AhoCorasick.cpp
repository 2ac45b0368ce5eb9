#include "check/AhoCorasick.h"

namespace vorelta {

void AhoCorasickCore::placeChildren(const std::vector<std::uint32_t>& parent) {
    nodes_.assign(parent.size(), Node());
    // Children follow their parents in parent order, so counting them places them all.
    for (std::size_t node = 1; node < parent.size(); ++node) {
        ++nodes_[parent[node]].childCount;
    }
    std::uint32_t first = 1;
    for (Node& node : nodes_) {
        node.firstChild = first;
        first += node.childCount;
    }
    rootChild_.assign(65536, kRoot);
    for (std::uint32_t node = 1; node <= nodes_[kRoot].childCount; ++node) {
        rootChild_[unit_[node]] = node;
        hasRootChild_.add(unit_[node]);
    }
}

// A failure lies nearer the root, at a lower number, so one pass in number order sets them all.
void AhoCorasickCore::linkFailures(const std::vector<std::uint32_t>& parent) {
    for (std::uint32_t node = 1; node < nodes_.size(); ++node) {
        if (parent[node] != kRoot) {
            nodes_[node].failure = advance(nodes_[parent[node]].failure, unit_[node]);
        }
    }
}

void AhoCorasickCore::inheritMarks() {
    for (Node& node : nodes_) {
        if (node.mark == 0) {
            node.mark = nodes_[node.failure].mark;
        }
    }
}

}  // namespace vorelta

#pragma once

// The Aho-Corasick automaton that both keyword searches run on, over UTF-16 code units: the trie,
// its failure links and the step from one state to the next. What a keyword ending at a node
// means is the search's own; each node carries one number for it, beside what a scan reads of
// the node anyway, so that a step and a look at that number touch one cache line.
//
// The trie is built level by level, all first code units, then all second ones, and so on, so
// its nodes are numbered breadth first: the children of a node are consecutive nodes sorted by
// code unit, a node's failure has a lower number than the node, and the shallow nodes, where a
// scan spends most of its time, sit together at the front where they stay in cache.

#include <cstdint>
#include <string_view>
#include <vector>

#include "check/CodeUnitSet.h"
#include "check/UnitSort.h"

namespace vorelta {

class AhoCorasickCore {
public:
    // The root, which is also what a lookup finds when there is no child: the root is nobody's.
    static constexpr std::uint32_t kRoot = 0;

    // Builds the automaton over `count` keywords of one code unit or more. `letters(k)` is
    // keyword k; `endAt(k, node)` is told where keyword k ends, never at a lower node than the
    // call before.
    template <class Letters, class EndAt>
    AhoCorasickCore(std::uint32_t count, Letters letters, EndAt endAt) {
        std::vector<std::uint32_t> parent(1, kRoot);
        unit_.assign(1, 0);
        BuildTrieByLevels(
            count, letters,
            [&](std::uint32_t node, char16_t unit) {
                parent.push_back(node);
                unit_.push_back(unit);
            },
            endAt);
        placeChildren(parent);
        linkFailures(parent);
    }

    // The number of nodes, the root included.
    std::uint32_t size() const { return std::uint32_t(nodes_.size()); }

    // The longest proper suffix of the node's text that is a node too.
    std::uint32_t failure(std::uint32_t node) const { return nodes_[node].failure; }

    // The search's number for a node, 0 until it sets one.
    std::uint32_t mark(std::uint32_t node) const { return nodes_[node].mark; }
    void setMark(std::uint32_t node, std::uint32_t mark) { nodes_[node].mark = mark; }
    // Gives each node without a mark its failure's: what ends at the failure ends here too.
    void inheritMarks();

    // The longest keyword prefix that the text read so far, plus c, ends with.
    std::uint32_t advance(std::uint32_t state, char16_t c) const {
        for (;;) {
            const std::uint32_t next = child(state, c);
            if (next != kRoot || state == kRoot) {
                return next;
            }
            state = nodes_[state].failure;
        }
    }

private:
    // What a step reads of a node, kept small and together.
    struct Node {
        std::uint32_t firstChild = 0;  // its children are the next childCount nodes from here
        std::uint32_t childCount = 0;
        std::uint32_t failure = kRoot;
        std::uint32_t mark = 0;
    };

    void placeChildren(const std::vector<std::uint32_t>& parent);
    void linkFailures(const std::vector<std::uint32_t>& parent);

    std::uint32_t child(std::uint32_t node, char16_t c) const {
        if (node == kRoot) {
            // Most code units start no keyword: a bit tells so without the larger table.
            return hasRootChild_.contains(c) ? rootChild_[c] : kRoot;
        }
        std::uint32_t count = nodes_[node].childCount;
        if (count == 0) {
            return kRoot;
        }
        // Branch-free binary search for the last child whose unit is at most c: the outcome of
        // each comparison is unpredictable, so a jump would cost more than the comparison.
        const char16_t* base = unit_.data() + nodes_[node].firstChild;
        while (count > 1) {
            const std::uint32_t half = count / 2;
            base = base[half] <= c ? base + half : base;
            count -= half;
        }
        return *base == c ? std::uint32_t(base - unit_.data()) : kRoot;
    }

    std::vector<Node> nodes_;
    std::vector<char16_t> unit_;            // the code unit on the edge into each node
    std::vector<std::uint32_t> rootChild_;  // the root's children by code unit
    CodeUnitSet hasRootChild_;
};

}  // namespace vorelta

#include "database/chain_order.h"

#include <array>

namespace vireo {

namespace {

constexpr uint8_t kNone = 0xFF;
constexpr int kNotHeld = -1;

} // namespace

ChainPlan PlanChain(std::span<const ChainLinks> links)
{
    ChainPlan plan;
    const size_t count = links.size();
    std::array<int, 256> at;
    at.fill(kNotHeld);
    for (size_t i = 0; i < count; ++i) {
        at[links[i].index] = static_cast<int>(i);
    }
    // A record that some other record names as its successor.
    std::array<int, 256> namedBy;
    namedBy.fill(kNotHeld);
    for (size_t i = 0; i < count; ++i) {
        if (links[i].next != kNone && namedBy[links[i].next] == kNotHeld) {
            namedBy[links[i].next] = static_cast<int>(i);
        }
    }
    std::vector<bool> placed(count, false);

    // The first record of the piece that holds `from`: go back along
    // previous links (or to a record that names this one as its successor)
    // while they lead to a held record not placed yet, at most once round.
    const auto pieceStart = [&](size_t from) {
        size_t current = from;
        for (size_t steps = 0; steps < count; ++steps) {
            const auto usable = [&](int at) {
                return at != kNotHeld && !placed[static_cast<size_t>(at)] &&
                       static_cast<size_t>(at) != from && static_cast<size_t>(at) != current;
            };
            const uint8_t previous = links[current].previous;
            int back = previous == kNone ? kNotHeld : at[previous];
            if (!usable(back)) {
                back = namedBy[links[current].index];
            }
            if (!usable(back)) {
                break;
            }
            current = static_cast<size_t>(back);
        }
        return current;
    };

    struct Piece
    {
        size_t first; // into plan.order
        size_t last;
    };
    std::vector<Piece> pieces;
    size_t scan = 0;
    bool headFound = false;
    for (size_t i = 0; i < count; ++i) {
        if (links[i].previous == kNone) {
            scan = i;
            headFound = true;
            break;
        }
    }
    for (;;) {
        if (!headFound) {
            while (scan < count && placed[scan]) {
                ++scan;
            }
            if (scan == count) {
                break;
            }
        }
        size_t current = headFound ? scan : pieceStart(scan);
        headFound = false;
        const size_t first = plan.order.size();
        while (!placed[current]) {
            placed[current] = true;
            plan.order.push_back(current);
            const uint8_t next = links[current].next;
            if (next == kNone || at[next] == kNotHeld) {
                break;
            }
            current = static_cast<size_t>(at[next]);
        }
        pieces.push_back({first, plan.order.size() - 1});
        scan = 0;
    }
    if (pieces.empty()) {
        return plan;
    }

    const ChainLinks& head = links[plan.order[pieces.front().first]];
    const ChainLinks& tail = links[plan.order[pieces.front().last]];
    const bool whole = head.previous == kNone && tail.next == kNone;
    if (whole) {
        for (size_t p = pieces.front().last + 1; p < plan.order.size(); ++p) {
            plan.stale.push_back(plan.order[p]);
        }
        plan.order.resize(pieces.front().last + 1);
        return plan;
    }

    std::array<bool, 256> listed{};
    const auto want = [&](uint8_t index) {
        if (index != kNone && !listed[index]) {
            listed[index] = true;
            plan.wanted.push_back(index);
        }
    };
    want(head.previous);
    for (size_t p = 0; p + 1 < pieces.size(); ++p) {
        // Two pieces meet where one link between them matches, as in the
        // device's own lists; otherwise both links are asked for.
        const ChainLinks& last = links[plan.order[pieces[p].last]];
        const ChainLinks& first = links[plan.order[pieces[p + 1].first]];
        if (last.next != first.index && first.previous != last.index) {
            want(last.next);
            want(first.previous);
        }
    }
    want(links[plan.order.back()].next);
    return plan;
}

} // namespace vireo

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vireo {

// The previous/next links of one satellite or TP record.
struct ChainLinks
{
    uint8_t index = 0;
    uint8_t previous = 0;
    uint8_t next = 0;
};

// How the records of a linked list, held in whatever order their replies
// came, line up along the device's links.
struct ChainPlan
{
    // Positions of the given records in list order: the chain that starts at
    // the record without a predecessor first, then the pieces that hang off
    // records not held yet, each in link order.
    std::vector<size_t> order;
    // Indices still to be asked for, in list order: the links that lead out
    // of each piece to a record that is not held (or back into the list,
    // where links contradict each other). Each index appears once.
    std::vector<int> wanted;
    // Positions of records outside a chain that already runs whole from its
    // first record (previous 0xFF) to its last (next 0xFF): the device no
    // longer has them in its list.
    std::vector<size_t> stale;
};

// Pure and bounded: every record is visited a fixed number of times, links
// that point at themselves or form cycles included. Indices are unique.
ChainPlan PlanChain(std::span<const ChainLinks> links);

} // namespace vireo

#include "crack/crackindex.h"

#include "crack/crackstats3.h"

namespace craq {

CrackLookup buildCrackLookup(crknwk *cracks) {
    CrackLookup lookup;
    std::size_t count = 0;
    for (crknwk *c = cracks; c != nullptr; c = c->next) count++;
    // Numbers set by merging run 1..count; 0 marks a fresh crack.
    lookup.dense.resize(count + 1);
    for (crknwk *c = cracks; c != nullptr; c = c->next) {
        if (c->ind >= 0 && static_cast<std::size_t>(c->ind) <= count)
            lookup.dense[static_cast<std::size_t>(c->ind)].push_back(c);
        else
            lookup.sparse[c->ind].push_back(c);
    }
    return lookup;
}

const std::vector<crknwk *> &cracksWithInd(const CrackLookup &lookup, int ind) {
    static const std::vector<crknwk *> none;
    if (ind >= 0 && static_cast<std::size_t>(ind) < lookup.dense.size())
        return lookup.dense[static_cast<std::size_t>(ind)];
    auto it = lookup.sparse.find(ind);
    return it == lookup.sparse.end() ? none : it->second;
}

crknwk *firstCrackWithInd(const CrackLookup &lookup, int ind) {
    const std::vector<crknwk *> &matches = cracksWithInd(lookup, ind);
    return matches.empty() ? nullptr : matches.front();
}

}  // namespace craq

// Lookup from a crack's `ind` to its records.
//
// A network's member list holds the `ind` of each member crack; every
// operation that needs a network's lines or pixels finds the member cracks
// through this lookup, built once per crack list, instead of scanning the
// whole list for every member.  Matches keep the list order: the measures
// take every crack with a matching `ind`, the drawing code the first one.
#pragma once

#include <unordered_map>
#include <vector>

namespace craq {

struct crknwk;

struct CrackLookup {
    // dense[ind] for 0 <= ind < dense.size(), sparse for any other value.
    std::vector<std::vector<crknwk *>> dense;
    std::unordered_map<int, std::vector<crknwk *>> sparse;
};

// Builds the lookup over the list starting at cracks (null: empty lookup).
// The lookup holds plain pointers: rebuild it after the list changes.
CrackLookup buildCrackLookup(crknwk *cracks);

// Every record of the list whose `ind` is ind, in list order (empty: none).
const std::vector<crknwk *> &cracksWithInd(const CrackLookup &lookup, int ind);

// The first record whose `ind` is ind, or null.
crknwk *firstCrackWithInd(const CrackLookup &lookup, int ind);

}  // namespace craq

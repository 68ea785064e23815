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

#include "crack/crackstats3_records.h"

namespace craq {

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

// ---- the member walk: how every operation reaches a network's cracks ----

// fn(crack) for every member crack of network: member elements in list
// order, for each every crack with that `ind` in crack-list order.
template <typename Fn>
void forEachMemberCrack(const crknwk *network, const CrackLookup &lookup, Fn &&fn) {
    for (const line_direction *m = network->hLineDirection; m != nullptr; m = m->next)
        for (crknwk *crack : cracksWithInd(lookup, m->direction)) fn(crack);
}

// fn(line) for every line of those cracks, each crack's lines in order.
template <typename Fn>
void forEachMemberLine(const crknwk *network, const CrackLookup &lookup, Fn &&fn) {
    forEachMemberCrack(network, lookup, [&fn](crknwk *crack) {
        for (line_info *line = crack->hLineInfo; line != nullptr; line = line->next) fn(line);
    });
}

}  // namespace craq

// Crack network analysis: one header per part, each the table of contents
// of that part.
//
//   crackstats3_records.h   the records (cracks, networks, lines, nodes, image
//                           summary, tracing state, features, results), their
//                           constructors and release functions
//   crackstats3_chain.h     the chain code: codes 0..7 and their steps
//   crackstats3_trace.h     crack following on a thinned image
//   crackstats3_measures.h  line ratios, boxes, densities, lengths, pruning
//   crackstats3_draw.h      overlay drawing of cracks and networks
//   crackstats3_display.h   the console feature display
//
// Frame coordinates throughout: row first, then column, rows grow downwards;
// the frame is the image padded by one pixel on every side.
#pragma once

#include "crack/crackstats3_chain.h"
#include "crack/crackstats3_display.h"
#include "crack/crackstats3_draw.h"
#include "crack/crackstats3_measures.h"
#include "crack/crackstats3_records.h"
#include "crack/crackstats3_trace.h"

// The merge loops against a literal reference: mergeB and mergeC written
// as the rules state them, walking the lists record by record, asking the
// rule's pair test for every pair and recomputing the shape after every
// absorption.  The merges must give the same networks, marks and counts for
// this system's rule (answered from boxes and the grid index), for pair
// tests asked pair by pair (one that reads the rectangles), and for a rule
// with its own ratio and axis steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/crmerge.h"
#include "crack/moments.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// ---- fixtures ---------------------------------------------------------------------------

// A list of random traced-like cracks (owned) with its image info: 1 to 3
// lines of 1 to 7 chain codes each, some end pixels as nodes, measured as
// the driver measures them; ratios and roundness drawn at random.
struct Cracks {
    crknwk *head = nullptr;
    imageInfo info;
    ~Cracks() { freeCrknwkList(head); }
};

std::unique_ptr<Cracks> randomCracks(unsigned seed, int count, int span) {
    static const int step[8][2] = {{-1, 0}, {-1, 1}, {0, 1},  {1, 1},
                                   {1, 0},  {1, -1}, {0, -1}, {-1, -1}};
    std::mt19937 rng(seed);
    auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto list = std::make_unique<Cracks>();
    list->info.size[0] = span + 40;
    list->info.size[1] = span + 40;
    crknwk **tail = &list->head;
    for (int i = 0; i < count; i++) {
        crknwk *c = makeNodeCrknwk();
        int r = uniform(10, 10 + span), col = uniform(10, 10 + span);
        int r0 = INT_MAX, c0 = INT_MAX, r1 = INT_MIN, c1 = INT_MIN;
        auto pixel = [&](int y, int x) {
            r0 = std::min(r0, y);
            c0 = std::min(c0, x);
            r1 = std::max(r1, y);
            c1 = std::max(c1, x);
            c->yCoorAcc += y;
            c->xCoorAcc += x;
            c->numOfPix++;
        };
        line_info **lineTail = &c->hLineInfo;
        nodes **nodeTail = &c->hNodes;
        for (int l = uniform(1, 3); l > 0; l--) {
            line_info *line = makeNodeLineInfo();
            line->startPoint[0] = r;
            line->startPoint[1] = col;
            pixel(r, col);
            line_direction **codeTail = &line->hLineDirection;
            const int heading = uniform(0, 7);
            for (int s = uniform(1, 7); s > 0; s--) {
                const int code = (heading + uniform(-1, 1) + 8) % 8;
                *codeTail = makeNodeLineDirection();
                (*codeTail)->direction = code;
                codeTail = &(*codeTail)->next;
                r += step[code][0];
                col += step[code][1];
                pixel(r, col);
                line->length += code % 2 == 0 ? 1.0 : std::sqrt(2.0);
                c->orientationHistogram[code]++;
            }
            c->length += line->length;
            c->numOfLines++;
            *lineTail = line;
            lineTail = &line->next;
            if (uniform(0, 3) == 0) {
                *nodeTail = makeNodes();
                (*nodeTail)->nodeLocation[0] = r;
                (*nodeTail)->nodeLocation[1] = col;
                nodeTail = &(*nodeTail)->next;
                c->numOfNodes++;
            }
        }
        c->edge[0] = r0;
        c->edge[1] = c0;
        c->dimension[0] = r1 - r0;
        c->dimension[1] = c1 - c0;
        const double area = (r1 - r0 + 1.0) * (c1 - c0 + 1.0);
        c->crackDensity = static_cast<float>(c->numOfPix / area);
        c->nodeDensity = static_cast<float>(c->numOfNodes / area);
        c->nodeDensity2 = static_cast<float>(static_cast<double>(c->numOfNodes) / c->numOfPix);
        c->yCentre = static_cast<int>(c->yCoorAcc / c->numOfPix);
        c->xCentre = static_cast<int>(c->xCoorAcc / c->numOfPix);
        *tail = c;
        tail = &c->next;
        list->info.numOfCrkNwk++;
    }
    axisOfMinimumInertia2(list->head);
    MBR2(list->head, &list->info);
    for (crknwk *c = list->head; c != nullptr; c = c->next) {
        c->globalLineToLengthRatio = std::uniform_real_distribution<float>(0.1f, 1.0f)(rng);
        c->roundness = std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
    }
    return list;
}

// Labels and checks as a caller might leave them on the cracks.
void leaveMarks(crknwk *cracks, unsigned seed) {
    std::mt19937 rng(seed * 3 + 1);
    for (crknwk *c = cracks; c != nullptr; c = c->next) {
        c->label = std::uniform_int_distribution<int>(0, 5)(rng) < 4
                       ? 0
                       : std::uniform_int_distribution<int>(1, 3)(rng);
        c->check = std::uniform_int_distribution<int>(0, 2)(rng);
    }
}

// Every field the merges write, of every record of a list, floats as hex.
std::string describe(const crknwk *list) {
    std::ostringstream out;
    out << std::hexfloat;
    for (int i = 1; list != nullptr; list = list->next, i++) {
        const crknwk &n = *list;
        out << "#" << i << " nodes " << n.numOfNodes << " pix " << n.numOfPix << " len " << n.length
            << " lines " << n.numOfLines << " ltlr " << n.globalLineToLengthRatio << " dens "
            << n.crackDensity << ' ' << n.nodeDensity << ' ' << n.nodeDensity2 << " axis "
            << n.axisOfMinInertia << " mbr " << n.mbrHeight << ' ' << n.mbrWidth << ' '
            << n.xCentreRMBR << ' ' << n.yCentreRMBR << " round " << n.roundness << " acc "
            << n.yCoorAcc << ' ' << n.xCoorAcc << " centre " << n.yCentre << ' ' << n.xCentre
            << " box " << n.edge[0] << ' ' << n.edge[1] << ' ' << n.dimension[0] << ' '
            << n.dimension[1] << " lci " << n.label << ' ' << n.check << ' ' << n.ind << " bins";
        for (int b : n.orientationHistogram) out << ' ' << b;
        out << " members";
        for (const line_direction *m = n.hLineDirection; m != nullptr; m = m->next)
            out << ' ' << m->direction;
        out << '\n';
    }
    return out.str();
}

// ---- the literal loops ------------------------------------------------------------------

struct Literal {
    const MergeRule &rule;
    bool setting;
    imageInfo *info;
    CrackLookup lookup;

    bool test(crknwk *a, crknwk *b) const { return rule.predicate(a, b, setting ? 1 : 0) == 1; }

    static void append(crknwk *network, line_direction *el) {
        line_direction **tail = &network->hLineDirection;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = el;
    }
    static void appendInd(crknwk *network, int ind) {
        line_direction *el = makeNodeLineDirection();
        el->direction = ind;
        append(network, el);
    }
    void copySet(crknwk *from, crknwk *to) const {
        const int ind = from->ind;
        copyContent(from, to);
        from->ind = ind;
        if (rule.ratioStep != nullptr) to->globalLineToLengthRatio = from->globalLineToLengthRatio;
    }
    void absorb(crknwk *n, crknwk *r) const {
        n->numOfNodes += r->numOfNodes;
        n->numOfPix += r->numOfPix;
        n->length += r->length;
        n->numOfLines += r->numOfLines;
        if (rule.ratioStep != nullptr) rule.ratioStep(n, r);
        modifyCentre(n, r);
        modifyBoundary(n, r);
        modifyDensity(n);
        modifyOrientationHist(n, r);
        if (rule.axisStep != nullptr)
            rule.axisStep(n, lookup);
        else
            recalculateAxisOfMinInertia(n, lookup);
        recalculateMBR(n, lookup, info);
    }

    void mergeB(crknwk *cracks, crknwk *networks) {
        int ind = 1;
        for (crknwk *c = cracks; c != nullptr; c = c->next) c->ind = ind++;
        lookup = buildCrackLookup(cracks);
        crknwk *last = networks;
        while (last->next != nullptr) last = last->next;
        int g = 1;
        for (crknwk *s = cracks; s != nullptr; s = s->next) {
            if (s->label != 0) continue;
            crknwk *n = networks;
            if (g > 1) {
                n = makeNodeCrknwk();
                last->next = n;
                last = n;
            }
            freeLineDirectionList(n->hLineDirection);
            n->hLineDirection = nullptr;
            appendInd(n, s->ind);
            copySet(s, n);
            n->label = g;
            n->check = 1;
            s->check = 1;
            s->label = g;
            for (crknwk *q = s->next; q != nullptr; q = q->next) {
                if (q->label != 0) continue;
                q->check = 1;
                if (test(s, q)) {
                    q->label = g;
                    appendInd(n, q->ind);
                    absorb(n, q);
                }
            }
            for (crknwk *h = cracks->next; h != nullptr; h = h->next) {
                if (h->check == 1 && h->label == g) {
                    for (crknwk *l = cracks->next; l != nullptr; l = l->next) {
                        if (l->check != 0 || l->label != 0) continue;
                        l->check = 1;
                        if (test(h, l)) {
                            l->label = g;
                            appendInd(n, l->ind);
                            absorb(n, l);
                        }
                    }
                }
                h->check = 0;
            }
            g++;
        }
        ind = 1;
        for (crknwk *n = networks; n != nullptr; n = n->next) n->ind = ind++;

        bool absorbed = false;
        do {
            absorbed = false;
            for (crknwk *d = networks; d != nullptr; d = d->next) {
                if (d->check == 2) continue;
                crknwk *prev = nullptr;
                for (crknwk *e = networks; e != nullptr;) {
                    crknwk *following = e->next;
                    if (e == d || e->check == 2 || !test(d, e)) {
                        prev = e;
                        e = following;
                        continue;
                    }
                    absorbed = true;
                    append(d, e->hLineDirection);
                    e->hLineDirection = nullptr;
                    absorb(d, e);
                    if (e == networks) {
                        e->check = 2;
                        prev = e;
                    } else {
                        prev->next = following;
                        freeCrknwk(e);
                    }
                    e = following;
                }
            }
        } while (absorbed);
        int counter = 1;
        for (crknwk *r = networks; r != nullptr; r = r->next, counter++)
            if (r->check != 2) r->ind = counter;
        info->numOfCrkNwk = counter;
    }

    void mergeC(crknwk *cracks, crknwk *networks, const int *labels) {
        lookup = buildCrackLookup(cracks);
        int k = 1, largest = 0;
        for (crknwk *n = networks; n != nullptr; n = n->next) {
            if (n->check == 2) continue;
            n->label = labels[k++];
            n->check = 0;
            largest = std::max(largest, n->label);
        }
        for (int c = 1; c <= largest; c++) {
            crknwk *head = nullptr;
            for (crknwk *n = networks; n != nullptr; n = n->next) {
                if (n->label != c || n->check != 0) continue;
                n->check = 1;
                if (head == nullptr) {
                    head = n;
                    continue;
                }
                n->label = 0;
                append(head, n->hLineDirection);
                n->hLineDirection = nullptr;
                absorb(head, n);
            }
        }
        for (crknwk *prev = networks, *n = networks->next; n != nullptr;) {
            crknwk *following = n->next;
            if (n->label == 0) {
                prev->next = following;
                freeCrknwk(n);
            } else {
                prev = n;
            }
            n = following;
        }
        int ind = 1;
        for (crknwk *n = networks; n != nullptr; n = n->next) n->ind = ind++;
    }
};

// ---- rules ------------------------------------------------------------------------------

// adaptiveMerging under another name: asked pair by pair.
unsigned char askedPairByPair(crknwk *a, crknwk *b, unsigned char setting) {
    return adaptiveMerging(a, b, setting);
}

// A pair test that reads the rectangles.
unsigned char boxAndRectangle(crknwk *a, crknwk *b, unsigned char setting) {
    if (setting == 1) return 1;
    return mergeRuleA(a, b) == 1 && mergeRuleB(a, b) == 1 ? 1 : 0;
}

// A ratio step and an axis step of the rule's own: a length-weighted
// ratio, and the angle with a roundness that counts the members the step
// saw (so a missed or extra refresh shows).
void weighRatio(crknwk *network, crknwk *other) {
    if (!(network->length > 0)) return;
    network->globalLineToLengthRatio = static_cast<float>(
        (other->length * other->globalLineToLengthRatio +
         (network->length - other->length) * network->globalLineToLengthRatio) /
        network->length);
}
void axisAndMemberCount(crknwk *network, const CrackLookup &cracks) {
    recalculateAxisOfMinInertia(network, cracks);
    int members = 0;
    for (const line_direction *m = network->hLineDirection; m != nullptr; m = m->next) members++;
    network->roundness = 1.0f / static_cast<float>(members);
}

struct NamedRule {
    const char *name;
    MergeRule rule;
};
const NamedRule kRules[] = {
    {"own rule, shapes at the end", MergeRule{}},
    {"own rule, shapes every absorption", MergeRule{adaptiveMerging, ShapeRefresh::everyAbsorption}},
    {"own rule asked pair by pair", MergeRule{askedPairByPair, ShapeRefresh::atEnd}},
    {"box and rectangle", MergeRule{boxAndRectangle, ShapeRefresh::everyAbsorption}},
    {"own steps", MergeRule{boxAndRectangle, ShapeRefresh::everyAbsorption, weighRatio,
                            axisAndMemberCount, false}},
};

// ---- tests ------------------------------------------------------------------------------

TEST(Crmerge_loops, mergeBAndCAsTheLiteralLoops) {
    int absorbedHeads = 0, grown = 0;
    for (const NamedRule &named : kRules)
        for (unsigned seed = 1; seed <= 30; seed++) {
            const int count = 4 + static_cast<int>(seed * 17 % 70);
            const int span = 15 + static_cast<int>(seed * 37 % 120);
            for (bool setting : {false, true})
                for (bool marks : {false, true}) {
                    SCOPED_TRACE(::testing::Message() << named.name << ", seed " << seed
                                                      << (setting ? ", set" : ", clear")
                                                      << (marks ? ", marks left" : ""));
                    std::unique_ptr<Cracks> mine = randomCracks(seed, count, span);
                    std::unique_ptr<Cracks> literal = randomCracks(seed, count, span);
                    if (marks) {
                        leaveMarks(mine->head, seed);
                        leaveMarks(literal->head, seed);
                    }
                    crknwk *a = makeNodeCrknwk();
                    crknwk *b = makeNodeCrknwk();
                    mergeB(mine->head, a, &mine->info, setting, named.rule);
                    Literal reference{named.rule, setting, &literal->info, {}};
                    reference.mergeB(literal->head, b);
                    ASSERT_EQ(describe(a), describe(b));
                    ASSERT_EQ(describe(mine->head), describe(literal->head));
                    ASSERT_EQ(mine->info.numOfCrkNwk, literal->info.numOfCrkNwk);
                    absorbedHeads += a->check == 2;

                    int live = 0;
                    for (crknwk *n = a; n != nullptr; n = n->next) live += n->check != 2;
                    int *labels = ivector(1, live);
                    std::mt19937 rng(seed * 7 + 1);
                    const int clusters = std::uniform_int_distribution<int>(1, live)(rng);
                    for (int k = 1; k <= live; k++)
                        labels[k] = std::uniform_int_distribution<int>(1, clusters)(rng);
                    mergeC(mine->head, a, &mine->info, labels, named.rule);
                    reference.mergeC(literal->head, b, labels);
                    free_ivector(labels, 1, live);
                    ASSERT_EQ(describe(a), describe(b));
                    for (const crknwk *n = a; n != nullptr; n = n->next)
                        grown += n->hLineDirection != nullptr && n->hLineDirection->next != nullptr;
                    freeCrknwkList(a);
                    freeCrknwkList(b);
                }
        }
    // The sets exercise grown networks and the absorbed first record.
    EXPECT_GT(grown, 500);
    EXPECT_GT(absorbedHeads, 10);
}

}  // namespace
}  // namespace craq

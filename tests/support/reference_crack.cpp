// Literal start scan and merges.
#include <algorithm>
#include <cstdint>

#include "crack/crackindex.h"
#include "crack/crackstats3.h"
#include "crack/moments.h"
#include "tests/support/reference.h"

namespace craq::literal {

int findPix(int **working, int yDim, int xDim, int *y, int *x) {
    int lastY = 0, lastX = 0;
    bool any = false;
    for (int i = 1; i <= yDim - 2; i++) {
        for (int j = 1; j <= xDim - 2; j++) {
            if (working[i][j] != 1) continue;
            int sum = 0;
            for (int a = -1; a <= 1; a++)
                for (int b = -1; b <= 1; b++)
                    if (a != 0 || b != 0) sum += working[i + a][j + b];
            if (sum == 1) {
                *y = i;
                *x = j;
                return 1;
            }
            lastY = i;
            lastX = j;
            any = true;
        }
    }
    *y = lastY;
    *x = lastX;
    return any ? 1 : 0;
}

namespace {

// The fields a network takes from its first member.
void copySet(const crknwk *from, crknwk *to) {
    to->numOfNodes = from->numOfNodes;
    to->numOfPix = from->numOfPix;
    to->length = from->length;
    to->numOfLines = from->numOfLines;
    to->yCoorAcc = from->yCoorAcc;
    to->xCoorAcc = from->xCoorAcc;
    to->yCentre = from->yCentre;
    to->xCentre = from->xCentre;
    to->crackDensity = from->crackDensity;
    to->nodeDensity = from->nodeDensity;
    to->nodeDensity2 = from->nodeDensity2;
    to->xCentreRMBR = from->xCentreRMBR;
    to->yCentreRMBR = from->yCentreRMBR;
    for (int k = 0; k < 2; k++) {
        to->edge[k] = from->edge[k];
        to->dimension[k] = from->dimension[k];
    }
    to->axisOfMinInertia = from->axisOfMinInertia;
    to->mbrHeight = from->mbrHeight;
    to->mbrWidth = from->mbrWidth;
    for (int k = 0; k < 8; k++) to->orientationHistogram[k] = from->orientationHistogram[k];
}

void appendMember(crknwk *network, line_direction *first) {
    line_direction **tail = &network->hLineDirection;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = first;
}

line_direction *member(int ind) {
    line_direction *el = makeNodeLineDirection();
    el->direction = ind;
    return el;
}

// Absorbs r into network n: counts, sums and centroid, box union,
// densities over the plain product of the box sides (a side of 0 counting
// as 1), orientation bins, then the axis and rectangle over n's members.
void absorb(crknwk *n, const crknwk *r, const CrackLookup &cracks, imageInfo *info) {
    n->numOfNodes += r->numOfNodes;
    n->numOfPix += r->numOfPix;
    n->length += r->length;
    n->numOfLines += r->numOfLines;
    n->yCoorAcc += r->yCoorAcc;
    n->xCoorAcc += r->xCoorAcc;
    n->yCentre = n->numOfPix > 0 ? static_cast<int>(n->yCoorAcc / n->numOfPix) : 0;
    n->xCentre = n->numOfPix > 0 ? static_cast<int>(n->xCoorAcc / n->numOfPix) : 0;

    const int64_t lastRow = std::max(int64_t{n->edge[0]} + n->dimension[0],
                                     int64_t{r->edge[0]} + r->dimension[0]);
    const int64_t lastCol = std::max(int64_t{n->edge[1]} + n->dimension[1],
                                     int64_t{r->edge[1]} + r->dimension[1]);
    n->edge[0] = std::min(n->edge[0], r->edge[0]);
    n->edge[1] = std::min(n->edge[1], r->edge[1]);
    n->dimension[0] = static_cast<int>(lastRow - n->edge[0]);
    n->dimension[1] = static_cast<int>(lastCol - n->edge[1]);

    const int64_t area = int64_t{std::max(n->dimension[0], 1)} * std::max(n->dimension[1], 1);
    const float f = 1 / static_cast<float>(area);
    n->crackDensity = static_cast<float>(n->numOfPix) * f;
    n->nodeDensity = f * static_cast<float>(n->numOfNodes);
    n->nodeDensity2 = n->numOfPix > 0
                          ? static_cast<float>(static_cast<double>(n->numOfNodes) / n->numOfPix)
                          : 0.0f;

    for (int k = 0; k < 8; k++) n->orientationHistogram[k] += r->orientationHistogram[k];
    recalculateAxisOfMinInertia(n, cracks);
    recalculateMBR(n, cracks, info);
}

crknwk *appendNetwork(crknwk *networks) {
    crknwk *last = networks;
    while (last->next != nullptr) last = last->next;
    last->next = makeNodeCrknwk();
    return last->next;
}

int countRecords(const crknwk *list) {
    int n = 0;
    for (; list != nullptr; list = list->next) n++;
    return n;
}

}  // namespace

void mergeA(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            Predicate predicate) {
    const unsigned char setting = mergeSetting ? 1 : 0;
    int ind = 1;
    for (crknwk *c = cracks; c != nullptr; c = c->next) {
        c->ind = ind++;
        c->label = 0;
        c->check = 0;
    }
    if (cracks == nullptr) {
        info->numOfCrkNwk = countRecords(networks) + 1;
        return;
    }

    int g = 1;
    for (crknwk *b = cracks; b != nullptr; b = b->next) {
        if (b->label != 0) continue;
        b->label = g;
        for (crknwk *c = cracks->next; c != nullptr; c = c->next)
            if (c->label == 0 && predicate(b, c, setting) == 1) {
                c->check = 1;
                c->label = g;
            }
        bool added = true;
        while (added) {
            added = false;
            for (crknwk *c = cracks; c != nullptr; c = c->next) {
                if (c->check == 1 && c->label == g) {
                    for (crknwk *d = cracks; d != nullptr; d = d->next)
                        if (d->check == 0 && d->label == 0 && predicate(c, d, setting) == 1) {
                            d->check = 1;
                            d->label = g;
                            added = true;
                        }
                }
                c->check = 0;
            }
        }
        g++;
    }

    const CrackLookup lookup = buildCrackLookup(cracks);
    freeLineDirectionList(networks->hLineDirection);
    networks->hLineDirection = member(1);
    networks->ind = 1;
    for (int j = 1; j < g; j++) {
        crknwk *target = networks;
        if (j > 1) {
            target = appendNetwork(networks);
            target->ind = j;
            target->hLineDirection = member(0);
        }
        bool first = true;
        for (crknwk *c = cracks; c != nullptr; c = c->next) {
            if (c->label != j) continue;
            if (first) {
                copySet(c, target);
                target->label = 1;
                target->check = 1;
                target->hLineDirection->direction = c->ind;
                first = false;
            } else {
                appendMember(target, member(c->ind));
                absorb(target, c, lookup, info);
            }
        }
    }
    int count = 1;
    for (crknwk *n = networks; n != nullptr; n = n->next) n->ind = count++;
    info->numOfCrkNwk = count;
}

void mergeB(crknwk *cracks, crknwk *networks, imageInfo *info, bool mergeSetting,
            Predicate predicate) {
    const unsigned char setting = mergeSetting ? 1 : 0;
    int ind = 1;
    for (crknwk *c = cracks; c != nullptr; c = c->next) c->ind = ind++;
    if (cracks == nullptr) {
        info->numOfCrkNwk = countRecords(networks) + 1;
        return;
    }
    const CrackLookup lookup = buildCrackLookup(cracks);

    // Greedy groups.
    int g = 1;
    for (crknwk *s = cracks; s != nullptr; s = s->next) {
        if (s->label != 0) continue;
        crknwk *n = networks;
        if (g > 1) n = appendNetwork(networks);
        // The first network's element holds the seed's ind, which is 1 on
        // the driver's fresh cracks.
        freeLineDirectionList(n->hLineDirection);
        n->hLineDirection = member(s->ind);
        copySet(s, n);
        n->label = g;
        n->check = 1;
        s->check = 1;
        s->label = g;
        for (crknwk *q = s->next; q != nullptr; q = q->next) {
            if (q->label != 0) continue;
            q->check = 1;
            if (predicate(s, q, setting) == 1) {
                q->label = g;
                appendMember(n, member(q->ind));
                absorb(n, q, lookup, info);
            }
        }
        for (crknwk *h = cracks->next; h != nullptr; h = h->next) {
            if (h->check == 1 && h->label == g) {
                for (crknwk *l = cracks->next; l != nullptr; l = l->next) {
                    if (l->check != 0 || l->label != 0) continue;
                    l->check = 1;
                    if (predicate(h, l, setting) == 1) {
                        l->label = g;
                        appendMember(n, member(l->ind));
                        absorb(n, l, lookup, info);
                    }
                }
            }
            h->check = 0;
        }
        g++;
    }
    int count = 1;
    for (crknwk *n = networks; n != nullptr; n = n->next) n->ind = count++;

    // Networks absorb networks until a whole pass absorbs nothing.
    bool absorbed = true;
    while (absorbed) {
        absorbed = false;
        for (crknwk *d = networks; d != nullptr; d = d->next) {
            if (d->check == 2) continue;
            crknwk *before = nullptr;
            for (crknwk *e = networks; e != nullptr;) {
                crknwk *after = e->next;
                if (e != d && e->check != 2 && predicate(d, e, setting) == 1) {
                    appendMember(d, e->hLineDirection);
                    e->hLineDirection = nullptr;
                    absorb(d, e, lookup, info);
                    absorbed = true;
                    if (e == networks) {
                        e->check = 2;
                    } else {
                        before->next = after;
                        freeCrknwk(e);
                        e = after;
                        continue;
                    }
                }
                before = e;
                e = after;
            }
        }
    }

    count = 1;
    for (crknwk *n = networks; n != nullptr; n = n->next, count++)
        if (n->check != 2) n->ind = count;
    info->numOfCrkNwk = count;
}

}  // namespace craq::literal

// Record constructors, zeroing helpers and release functions of the crack
// analysis.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "crack/crackstats3.h"
#include "toolbox/fatal.h"
#include "toolbox/nrutil.h"

namespace craq {
namespace {

// One value-initialised record (every field zero, every link null); a failed
// allocation ends the process with the constructors' message.
template <typename T>
T *makeRecord() {
    T *p = new (std::nothrow) T{};
    if (p == nullptr) outOfMemory();
    return p;
}

// Walks a list through `next`, releasing each record with release(record)
// after reading its successor; a loop, not recursion, so any length is fine.
template <typename T, typename Release>
void freeList(T *head, Release release) {
    while (head != nullptr) {
        T *following = head->next;
        release(head);
        head = following;
    }
}

template <typename T>
void deleteRecord(T *p) {
    delete p;
}

#if defined(__SANITIZE_ADDRESS__)
#define CRAQ_PLAIN_RECORDS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CRAQ_PLAIN_RECORDS 1
#endif
#endif

#ifdef CRAQ_PLAIN_RECORDS
// Under the address checker every record is its own allocation, so a use
// after release or a double release is still caught.
template <typename T>
T *makeSmallRecord() {
    return makeRecord<T>();
}

template <typename T>
void releaseSmallRecord(T *p) {
    delete p;
}
#else
// The small records made one per traced pixel (chain codes, nodes, branches)
// are carved in order out of aligned blocks instead of one heap allocation
// each: tracing hands them out in memory order, and a block goes back to the
// heap once every record carved from it has been released.  A record's block
// is found from its address.  The records are made and released by one
// thread at a time, as the analysis of an image runs in one thread.
constexpr std::size_t kBlockBytes = std::size_t{1} << 16;

struct BlockHead {
    std::size_t live;  // records handed out and not yet released
};

template <typename T>
struct RecordBlocks {
    static_assert(alignof(T) <= alignof(BlockHead) && sizeof(BlockHead) % alignof(T) == 0, "");
    BlockHead *current = nullptr;  // the block records are carved from
    char *next = nullptr;          // its first unused record
    char *end = nullptr;           // past its last whole record
};

template <typename T>
RecordBlocks<T> &recordBlocks() {
    static RecordBlocks<T> blocks;
    return blocks;
}

template <typename T>
T *makeSmallRecord() {
    RecordBlocks<T> &b = recordBlocks<T>();
    if (b.next == b.end) {
        void *memory = std::aligned_alloc(kBlockBytes, kBlockBytes);
        if (memory == nullptr) outOfMemory();
        b.current = static_cast<BlockHead *>(memory);
        b.current->live = 0;
        char *const first = static_cast<char *>(memory) + sizeof(BlockHead);
        b.next = first;
        b.end = first + (kBlockBytes - sizeof(BlockHead)) / sizeof(T) * sizeof(T);
    }
    T *p = new (b.next) T{};
    b.next += sizeof(T);
    b.current->live++;
    return p;
}

template <typename T>
void releaseSmallRecord(T *p) {
    if (p == nullptr) return;
    p->~T();
    BlockHead *block = reinterpret_cast<BlockHead *>(reinterpret_cast<std::uintptr_t>(p) &
                                                     ~static_cast<std::uintptr_t>(kBlockBytes - 1));
    if (--block->live != 0) return;
    RecordBlocks<T> &b = recordBlocks<T>();
    if (block == b.current) {
        // Emptied while still in use: carved again from its start.
        b.next = reinterpret_cast<char *>(block) + sizeof(BlockHead);
    } else {
        std::free(block);
    }
}
#endif

}  // namespace

// ---- constructors ----------------------------------------------------------

// Each returns one record with every field 0 and every link null.  The
// allocation failure stop is outOfMemory(): "out of memory!!" on standard
// output, status 1.
crknwk *makeNodeCrknwk() { return makeRecord<crknwk>(); }
straight_line_representation *makeNodeSLR() { return makeRecord<straight_line_representation>(); }
line_stats *makeNodeLineStats() { return makeRecord<line_stats>(); }
length_histogram *makeNodeLengthHist() { return makeRecord<length_histogram>(); }
nodes *makeNodes() { return makeSmallRecord<nodes>(); }
neighbour *makeNodeNeighbour() { return makeSmallRecord<neighbour>(); }
line_direction *makeNodeLineDirection() { return makeSmallRecord<line_direction>(); }
line_info *makeNodeLineInfo() { return makeRecord<line_info>(); }
result *makeNodeResult() { return makeRecord<result>(); }
globalFtr *makeNodeGlobalFtr() { return makeRecord<globalFtr>(); }
localFeatures *makeNodeLocalFtr() { return makeRecord<localFeatures>(); }

// ---- zeroing helpers -------------------------------------------------------

// Sets values[0..n-1] to 0 and returns n; n <= 0 writes nothing, returns 0.
int initializeHist(int *values, int n) {
    if (n <= 0) return 0;
    for (int i = 0; i < n; i++) values[i] = 0;
    return n;
}

// Sets values[0..n-1] to 0.0f and returns n; n <= 0 writes nothing, returns 0.
int fInitializeHist(float *values, int n) {
    if (n <= 0) return 0;
    for (int i = 0; i < n; i++) values[i] = 0.0f;
    return n;
}

// Sets m[r][c] = 0 for rows 0..rows-1 and columns 0..cols-1.
void initializeMatrix(int **m, long rows, long cols) {
    for (long r = 0; r < rows; r++)
        for (long c = 0; c < cols; c++) m[r][c] = 0;
}

// Sets every counter, the length, the frame size and the current pixel of g
// to zero.
void initializeGParam(GParameter *g) { *g = GParameter{}; }

// ---- release ---------------------------------------------------------------

void freeLineDirectionList(line_direction *head) {
    freeList(head, releaseSmallRecord<line_direction>);
}

void freeNeighbourList(neighbour *head) { freeList(head, releaseSmallRecord<neighbour>); }

// Every node together with its branch list.
void freeNodesList(nodes *head) {
    freeList(head, [](nodes *n) {
        freeNeighbourList(n->hNeighbourPix);
        releaseSmallRecord(n);
    });
}

// Every line together with its chain-code list.
void freeLineInfoList(line_info *head) {
    freeList(head, [](line_info *line) {
        freeLineDirectionList(line->hLineDirection);
        delete line;
    });
}

// One record; its `next` is never a list.
void freeSLR(straight_line_representation *slr) { delete slr; }

// One record; `lengthHistogram` is never allocated, so it is not released.
void freeLineStats(line_stats *stats) { delete stats; }

void freeLengthHistList(length_histogram *head) { freeList(head, deleteRecord<length_histogram>); }

void freeTemp5b5List(temp5b5 *head) { freeList(head, deleteRecord<temp5b5>); }

// One crack or network and everything it owns: its straight-line model, line
// statistics, node list (with branches), step or member list and line list
// (with chain codes).  The record's successor is left alone.
void freeCrknwk(crknwk *record) {
    if (record == nullptr) return;
    freeSLR(record->hStraightLineRepresentation);
    freeLineStats(record->hLineStats);
    freeNodesList(record->hNodes);
    freeLineDirectionList(record->hLineDirection);
    freeLineInfoList(record->hLineInfo);
    delete record;
}

void freeCrknwkList(crknwk *head) { freeList(head, freeCrknwk); }

void freeResultList(result *head) { freeList(head, deleteRecord<result>); }

// Every record with its three line vectors (lower bound 1).
void freeLocalFtrList(localFeatures *head) {
    freeList(head, [](localFeatures *f) {
        free_vector(f->LTLRData, 1, 0);
        free_vector(f->straightnessData, 1, 0);
        free_vector(f->lineWeightingData, 1, 0);
        delete f;
    });
}

// Every record with its data matrix (lower bounds 1, 1) and its
// localFeatures list.
void freeGlobalFtrList(globalFtr *head) {
    freeList(head, [](globalFtr *g) {
        free_matrix(g->globalData, 1, 0, 1, 0);
        freeLocalFtrList(g->hLocalFtr);
        delete g;
    });
}

// The summary with its significance vector and four grid matrices (all with
// lower bounds 0).
void freeCrkimg(CRKIMG *img) {
    if (img == nullptr) return;
    free_vector(img->significanceMeasure, 0, 0);
    free_matrix(img->accMat, 0, 0, 0, 0);
    free_matrix(img->accMatNorm, 0, 0, 0, 0);
    free_matrix(img->nodeMat, 0, 0, 0, 0);
    free_matrix(img->nodeMatNorm, 0, 0, 0, 0);
    delete img;
}

}  // namespace craq

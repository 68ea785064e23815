#include "toolbox/nrutil.h"

#include <cstdio>
#include <cstdlib>

#include "toolbox/fatal.h"

namespace craq {

void nrerror(const char *text) {
    std::string message = "Numerical Recipes run-time error...\n";
    message += text;
    message += "\n...now exiting to system...\n";
    fatalExit(Stream::err, message);
}

namespace {

// Number of elements of a block for lo..hi plus the spare leading element,
// or -1 when the count is negative or overflows.
int64_t spanPlusOne(long lo, long hi) {
    int64_t d = 0, n = 0;
    if (__builtin_sub_overflow(static_cast<int64_t>(hi), static_cast<int64_t>(lo), &d) ||
        !checkedAdd(d, 2, &n))
        return -1;
    return n >= 1 ? n : -1;
}

// Number of indices in lo..hi (hi - lo + 1), or -1 when negative or on overflow.
int64_t span(long lo, long hi) {
    const int64_t n = spanPlusOne(lo, hi);
    return n < 1 ? -1 : n - 1;
}

// No block of this system comes near a terabyte; a request above it is a
// failed request without asking the system (which may overcommit, or, under
// the address sanitizer, print its own warning).
constexpr int64_t kMaxBlockBytes = int64_t{1} << 40;

// calloc of count elements of T, or null on a bad count or no memory.
template <typename T>
T *block(int64_t count) {
    if (count < 1) return nullptr;
    int64_t bytes = 0;
    if (!checkedMul(count, static_cast<int64_t>(sizeof(T)), &bytes) || bytes > kMaxBlockBytes)
        return nullptr;
    return static_cast<T *>(std::calloc(static_cast<std::size_t>(count), sizeof(T)));
}

template <typename T>
T *allocVector(long nl, long nh, const char *what) {
    T *v = block<T>(spanPlusOne(nl, nh));
    if (v == nullptr) nrerror(what);
    return v + 1 - nl;
}

template <typename T>
void freeVector(T *v, long nl) {
    if (v != nullptr) std::free(v + nl - 1);
}

// Row-handle block of nrow + 1 entries.  An empty matrix still gets two, so
// its row nrl can hold the data block's address for the matching free.
int64_t handleCount(int64_t nrow) { return nrow < 0 ? -1 : (nrow == 0 ? 2 : nrow + 1); }

// Total data elements nrow * ncol + 1 of a matrix, or -1.
int64_t dataCount(int64_t nrow, int64_t ncol) {
    int64_t cells = 0, total = 0;
    if (nrow < 0 || ncol < 0 || !checkedMul(nrow, ncol, &cells) ||
        !checkedAdd(cells, 1, &total))
        return -1;
    return total;
}

template <typename T>
T **allocMatrix(long nrl, long nrh, long ncl, long nch) {
    const int64_t nrow = span(nrl, nrh);
    const int64_t ncol = span(ncl, nch);
    T **m = block<T *>(handleCount(nrow));
    if (m == nullptr) nrerror("allocation failure 1 in matrix()");
    m = m + 1 - nrl;
    T *data = block<T>(dataCount(nrow, ncol));
    if (data == nullptr) nrerror("allocation failure 2 in matrix()");
    m[nrl] = data + 1 - ncl;
    for (int64_t i = 1; i < nrow; i++) m[nrl + i] = m[nrl + i - 1] + ncol;
    return m;
}

template <typename T>
void freeMatrix(T **m, long nrl, long ncl) {
    if (m == nullptr) return;
    std::free(m[nrl] + ncl - 1);
    std::free(m + nrl - 1);
}

}  // namespace

float *vector(long nl, long nh) { return allocVector<float>(nl, nh, "allocation failure in vector()"); }
int *ivector(long nl, long nh) { return allocVector<int>(nl, nh, "allocation failure in ivector()"); }
unsigned char *cvector(long nl, long nh) {
    return allocVector<unsigned char>(nl, nh, "allocation failure in cvector()");
}
uint32_t *lvector(long nl, long nh) { return allocVector<uint32_t>(nl, nh, "allocation failure in lvector()"); }
double *dvector(long nl, long nh) { return allocVector<double>(nl, nh, "allocation failure in dvector()"); }

void free_vector(float *v, long nl, long) { freeVector(v, nl); }
void free_ivector(int *v, long nl, long) { freeVector(v, nl); }
void free_cvector(unsigned char *v, long nl, long) { freeVector(v, nl); }
void free_lvector(uint32_t *v, long nl, long) { freeVector(v, nl); }
void free_dvector(double *v, long nl, long) { freeVector(v, nl); }

float **matrix(long nrl, long nrh, long ncl, long nch) { return allocMatrix<float>(nrl, nrh, ncl, nch); }
double **dmatrix(long nrl, long nrh, long ncl, long nch) { return allocMatrix<double>(nrl, nrh, ncl, nch); }
int **imatrix(long nrl, long nrh, long ncl, long nch) { return allocMatrix<int>(nrl, nrh, ncl, nch); }

void free_matrix(float **m, long nrl, long, long ncl, long) { freeMatrix(m, nrl, ncl); }
void free_dmatrix(double **m, long nrl, long, long ncl, long) { freeMatrix(m, nrl, ncl); }
void free_imatrix(int **m, long nrl, long, long ncl, long) { freeMatrix(m, nrl, ncl); }

float **submatrix(float **a, long oldrl, long oldrh, long oldcl, long, long newrl, long newcl) {
    const int64_t nrow = span(oldrl, oldrh);
    float **m = block<float *>(nrow >= 0 ? nrow + 1 : -1);
    if (m == nullptr) nrerror("allocation failure in submatrix()");
    m = m + 1 - newrl;
    for (int64_t k = 0; k < nrow; k++) m[newrl + k] = a[oldrl + k] + oldcl - newcl;
    return m;
}

float **convert_matrix(float *a, long nrl, long nrh, long ncl, long nch) {
    const int64_t nrow = span(nrl, nrh);
    const int64_t ncol = span(ncl, nch);
    float **m = block<float *>(nrow >= 0 && ncol >= 0 ? nrow + 1 : -1);
    if (m == nullptr) nrerror("allocation failure in convert_matrix()");
    m = m + 1 - nrl;
    if (nrow > 0) m[nrl] = a - ncl;
    for (int64_t i = 1; i < nrow; i++) m[nrl + i] = m[nrl + i - 1] + ncol;
    return m;
}

void free_submatrix(float **b, long nrl, long, long, long) {
    if (b != nullptr) std::free(b + nrl - 1);
}
void free_convert_matrix(float **b, long nrl, long, long, long) {
    if (b != nullptr) std::free(b + nrl - 1);
}

float ***f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
    const int64_t nrow = span(nrl, nrh);
    const int64_t ncol = span(ncl, nch);
    const int64_t ndep = span(ndl, ndh);
    float ***t = block<float **>(handleCount(nrow));
    if (t == nullptr) nrerror("allocation failure 1 in f3tensor()");
    t = t + 1 - nrl;
    int64_t runCount = dataCount(nrow, ncol);
    if (runCount == 1) runCount = 2;  // room for the float block's address
    float **runs = block<float *>(runCount);
    if (runs == nullptr) nrerror("allocation failure 2 in f3tensor()");
    int64_t plane = 0;
    if (ndep < 0 || !checkedMul(ncol, ndep, &plane)) plane = -1;
    float *data = block<float>(plane < 0 ? -1 : dataCount(nrow, plane));
    if (data == nullptr) nrerror("allocation failure 3 in f3tensor()");
    t[nrl] = runs + 1 - ncl;
    t[nrl][ncl] = data + 1 - ndl;
    for (int64_t j = 1; j < ncol; j++) t[nrl][ncl + j] = t[nrl][ncl + j - 1] + ndep;
    for (int64_t i = 1; i < nrow; i++) {
        t[nrl + i] = t[nrl + i - 1] + ncol;
        t[nrl + i][ncl] = t[nrl + i - 1][ncl] + plane;
        for (int64_t j = 1; j < ncol; j++) t[nrl + i][ncl + j] = t[nrl + i][ncl + j - 1] + ndep;
    }
    return t;
}

void free_f3tensor(float ***t, long nrl, long, long ncl, long, long ndl, long) {
    if (t == nullptr) return;
    std::free(t[nrl][ncl] + ndl - 1);
    std::free(t[nrl] + ncl - 1);
    std::free(t + nrl - 1);
}

}  // namespace craq

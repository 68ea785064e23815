// Drawing of the sample images.
//
// An image is drawn in two steps.  First the crack pattern of its class is
// laid out as polylines in double precision and stamped into a tone map
// (one crack tone per pixel, or none); then every pixel gets the ground
// (a level, a faint gradient and noise) or its crack tone with a little
// noise.  The pattern and the rendering take separate generator streams, both
// seeded from (class, index), so the size changes only how much of the
// pattern is seen: the crack spacing is fixed in pixels.
#include "tools/samples/samples.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "toolbox/fatal.h"
#include "toolbox/vipsio.h"

namespace craq::samples {

// ---------------------------------------------------------------------------
// Generator
// ---------------------------------------------------------------------------

uint32_t Lcg::next() { return state = state * 1664525u + 1013904223u; }

double Lcg::unit() { return static_cast<double>(next() >> 8) * (1.0 / 16777216.0); }

double Lcg::range(double lo, double hi) { return lo + (hi - lo) * unit(); }

// The low bits of a power-of-two LCG have short periods, so the count is
// taken from the top of the state.
int Lcg::below(int n) {
    return static_cast<int>((static_cast<uint64_t>(next()) * static_cast<uint64_t>(n)) >> 32);
}

bool Lcg::chance(double p) { return unit() < p; }

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kNoCrack = -1;

// Seed of one stream of one sample: a fixed base mixed with the class, the
// index and the stream number, then a few steps to spread nearby seeds.
Lcg streamFor(int label, int index, uint32_t stream) {
    Lcg rng;
    rng.state = 0x2545F491u ^ (static_cast<uint32_t>(label) * 0x9E3779B9u) ^
                (static_cast<uint32_t>(index) * 0x85EBCA6Bu) ^ (stream * 0xC2B2AE35u);
    for (int i = 0; i < 8; i++) rng.next();
    return rng;
}

struct Point {
    double y = 0.0;  // row
    double x = 0.0;  // column
};

// The tone map: crack grey per pixel, kNoCrack on the ground.
struct Canvas {
    int size = 0;
    std::vector<int> tone;

    explicit Canvas(int n) : size(n), tone(static_cast<size_t>(n) * static_cast<size_t>(n), kNoCrack) {}

    // Marks the width x width block nearest to (y, x); overlapping cracks keep
    // the darker tone.  Points far outside are dropped before conversion.
    void stamp(double y, double x, int width, int value) {
        const double shift = (width - 1) * 0.5;
        if (!(y > -8.0 && y < size + 8.0 && x > -8.0 && x < size + 8.0)) return;
        const int r0 = static_cast<int>(std::floor(y - shift + 0.5));
        const int c0 = static_cast<int>(std::floor(x - shift + 0.5));
        for (int r = r0; r < r0 + width; r++)
            for (int c = c0; c < c0 + width; c++) {
                if (r < 0 || r >= size || c < 0 || c >= size) continue;
                int &t = tone[static_cast<size_t>(r) * static_cast<size_t>(size) + static_cast<size_t>(c)];
                if (t == kNoCrack || value < t) t = value;
            }
    }

    // A straight crack from a to b, stamped every half pixel so that the
    // marked pixels stay connected.
    void segment(Point a, Point b, int width, int value) {
        const double len = std::hypot(b.y - a.y, b.x - a.x);
        const int steps = 1 + static_cast<int>(std::ceil(len * 2.0));
        for (int s = 0; s <= steps; s++) {
            const double t = static_cast<double>(s) / steps;
            stamp(a.y + (b.y - a.y) * t, a.x + (b.x - a.x) * t, width, value);
        }
    }

    void path(const std::vector<Point> &points, int width, int value) {
        for (size_t i = 1; i < points.size(); i++) segment(points[i - 1], points[i], width, value);
    }
};

// One crack's look: mostly 1 pixel wide, some 2; grey 40..80.
struct Stroke {
    int width = 1;
    int tone = 60;
};

Stroke strokeFor(Lcg &rng) {
    Stroke s;
    s.width = rng.chance(0.35) ? 2 : 1;
    s.tone = 40 + rng.below(41);
    return s;
}

// Maps pattern coordinates (u along, v across, origin at the image centre)
// to image coordinates, turned by angle.
struct Frame {
    double cy = 0.0, cx = 0.0, c = 1.0, s = 0.0;
    Frame(int size, double angle)
        : cy(size * 0.5), cx(size * 0.5), c(std::cos(angle)), s(std::sin(angle)) {}
    Point at(double u, double v) const { return Point{cy + u * s + v * c, cx + u * c - v * s}; }
};

// A gentle meander: the sum of two sines of random phase.
struct Wave {
    double a1 = 0.0, k1 = 0.0, p1 = 0.0, a2 = 0.0, k2 = 0.0, p2 = 0.0;
    Wave(Lcg &rng, double amplitude, double wavelength) {
        a1 = amplitude * rng.range(0.6, 1.0);
        k1 = 2.0 * kPi / (wavelength * rng.range(0.8, 1.25));
        p1 = rng.range(0.0, 2.0 * kPi);
        a2 = amplitude * rng.range(0.2, 0.45);
        k2 = 2.0 * kPi / (wavelength * rng.range(0.3, 0.45));
        p2 = rng.range(0.0, 2.0 * kPi);
    }
    double operator()(double t) const { return a1 * std::sin(k1 * t + p1) + a2 * std::sin(k2 * t + p2); }
};

// ---- circular: closed, roundish islands on a jittered grid, a few broken
// or joined to a neighbour ----
void drawCircular(Canvas &canvas, Lcg &rng) {
    const int n = canvas.size;
    const double spacing = rng.range(42.0, 58.0);
    const int cells = static_cast<int>(n / spacing) + 2;
    std::vector<Point> centres;
    for (int i = -1; i < cells; i++)
        for (int j = -1; j < cells; j++) {
            const double shift = (i % 2 != 0) ? spacing * 0.5 : 0.0;  // staggered rows pack closer
            centres.push_back(Point{(i + 0.5) * spacing * 0.9 + rng.range(-0.15, 0.15) * spacing,
                                    (j + 0.5) * spacing + shift + rng.range(-0.15, 0.15) * spacing});
        }
    for (const Point &c : centres) {
        if (rng.chance(0.06)) continue;  // a missing island
        const Stroke st = strokeFor(rng);
        const double radius = spacing * rng.range(0.34, 0.44);
        const double squash = rng.range(0.82, 1.18);
        const double turn = rng.range(0.0, kPi);
        double amp[3], phase[3];
        for (int h = 0; h < 3; h++) {
            amp[h] = rng.range(0.02, 0.07);
            phase[h] = rng.range(0.0, 2.0 * kPi);
        }
        // A broken ring leaves out a short arc.
        const bool broken = rng.chance(0.2);
        const double gapAt = rng.range(0.0, 2.0 * kPi), gapLen = rng.range(0.3, 0.8);
        const int steps = 64;
        std::vector<Point> ring;
        for (int s = 0; s <= steps; s++) {
            const double t = 2.0 * kPi * s / steps;
            double d = t - gapAt;
            while (d < 0.0) d += 2.0 * kPi;
            if (broken && d < gapLen) {
                canvas.path(ring, st.width, st.tone);
                ring.clear();
                continue;
            }
            const double r = radius * (1.0 + amp[0] * std::sin(2.0 * t + phase[0]) +
                                       amp[1] * std::sin(3.0 * t + phase[1]) +
                                       amp[2] * std::sin(5.0 * t + phase[2]));
            const double a = r * std::cos(t) * squash, b = r * std::sin(t) / squash;
            ring.push_back(Point{c.y + a * std::sin(turn) + b * std::cos(turn),
                                 c.x + a * std::cos(turn) - b * std::sin(turn)});
        }
        canvas.path(ring, st.width, st.tone);
        // Now and then a short crack joins the island to its surroundings.
        if (rng.chance(0.25)) {
            const double t = rng.range(0.0, 2.0 * kPi);
            const Point from{c.y + radius * std::sin(t), c.x + radius * std::cos(t)};
            const double reach = spacing * rng.range(0.15, 0.3);
            canvas.segment(from, Point{from.y + reach * std::sin(t), from.x + reach * std::cos(t)},
                           1, st.tone);
        }
    }
}

// ---- rectangular: long cracks across the image, joined at right angles by
// short ones between each pair (a grid, or bricks when the rows are offset) ----
void drawRectangular(Canvas &canvas, Lcg &rng) {
    const int n = canvas.size;
    const Frame frame(n, rng.range(-0.07, 0.07));
    const double reach = n * 0.75;
    const double rowGap = rng.range(28.0, 40.0), colGap = rng.range(36.0, 56.0);
    const bool bricks = rng.chance(0.6);

    std::vector<double> rows;  // v of each long crack
    for (double v = -reach + rng.range(0.0, rowGap); v < reach; v += rowGap * rng.range(0.85, 1.15))
        rows.push_back(v);
    std::vector<Wave> waves;
    for (size_t k = 0; k < rows.size(); k++) waves.emplace_back(rng, rng.range(0.5, 1.5), rng.range(150.0, 300.0));

    for (size_t k = 0; k < rows.size(); k++) {
        const Stroke st = strokeFor(rng);
        std::vector<Point> line;
        for (double u = -reach; u <= reach; u += 4.0) {
            if (rng.chance(0.004)) {  // a rare break
                canvas.path(line, st.width, st.tone);
                line.clear();
                u += rng.range(4.0, 12.0);
            }
            line.push_back(frame.at(u, rows[k] + waves[k](u)));
        }
        canvas.path(line, st.width, st.tone);
    }
    for (size_t k = 0; k + 1 < rows.size(); k++) {
        const double offset = (bricks && k % 2 != 0) ? colGap * 0.5 : 0.0;
        for (double u = -reach + offset + rng.range(0.0, colGap * 0.3); u < reach;
             u += colGap * rng.range(0.8, 1.2)) {
            if (rng.chance(0.08)) continue;  // a missing cross crack
            const Stroke st = strokeFor(rng);
            const double lean = rng.range(-1.5, 1.5);
            const double top = rows[k] + waves[k](u), bottom = rows[k + 1] + waves[k + 1](u + lean);
            canvas.segment(frame.at(u, top), frame.at(u + lean, bottom), st.width, st.tone);
        }
    }
}

// ---- unidirectional: parallel, slightly wavy cracks in one direction with
// breaks, and a few short cross links ----
void drawUnidirectional(Canvas &canvas, Lcg &rng) {
    const int n = canvas.size;
    const Frame frame(n, rng.range(0.0, kPi));
    const double reach = n * 0.75;
    const double gap = rng.range(15.0, 24.0);
    const double wavelength = rng.range(120.0, 260.0);
    for (double v = -reach + rng.range(0.0, gap); v < reach; v += gap * rng.range(0.8, 1.2)) {
        const Wave wave(rng, rng.range(1.5, 3.5), wavelength);
        double u = -reach + rng.range(0.0, 40.0);
        while (u < reach) {
            const Stroke st = strokeFor(rng);
            const double end = u + rng.range(70.0, 240.0);
            std::vector<Point> piece;
            for (double t = u; t < end; t += 3.0) piece.push_back(frame.at(t, v + wave(t)));
            piece.push_back(frame.at(end, v + wave(end)));
            canvas.path(piece, st.width, st.tone);
            if (rng.chance(0.25)) {  // a short link towards the next crack
                const double at = rng.range(u, end);
                const double len = gap * rng.range(0.5, 1.0);
                const double lean = rng.range(-0.4, 0.4) * len;
                canvas.segment(frame.at(at, v + wave(at)), frame.at(at + lean, v + wave(at) + len), 1,
                               st.tone);
            }
            u = end + rng.range(6.0, 26.0);  // the break
        }
    }
}

// ---- spiderweb: cracks radiating from a centre, crossed by broken,
// inward-sagging rings ----
void drawSpiderweb(Canvas &canvas, Lcg &rng) {
    const int n = canvas.size;
    const Point centre{n * rng.range(0.38, 0.62), n * rng.range(0.38, 0.62)};
    const double reach = n * 1.1;
    const int spokes = 14 + rng.below(9);
    std::vector<double> base(static_cast<size_t>(spokes)), bend(base.size()), bendRate(base.size()),
        bendPhase(base.size());
    for (int i = 0; i < spokes; i++) {
        base[i] = 2.0 * kPi * (i + rng.range(-0.3, 0.3)) / spokes;
        bend[i] = rng.range(0.02, 0.06);
        bendRate[i] = 1.0 / rng.range(40.0, 90.0);
        bendPhase[i] = rng.range(0.0, 2.0 * kPi);
    }
    // Direction of spoke i at distance r from the centre.
    auto angleOf = [&](int i, double r) { return base[i] + bend[i] * std::sin(r * bendRate[i] + bendPhase[i]); };
    auto pointOf = [&](double angle, double r) {
        return Point{centre.y + r * std::sin(angle), centre.x + r * std::cos(angle)};
    };

    for (int i = 0; i < spokes; i++) {
        const Stroke st = strokeFor(rng);
        const double start = rng.chance(0.25) ? rng.range(30.0, 90.0) : rng.range(0.0, 6.0);
        std::vector<Point> line;
        for (double r = start; r <= reach; r += 3.0) line.push_back(pointOf(angleOf(i, r), r));
        canvas.path(line, st.width, st.tone);
    }
    const double ringGap = rng.range(26.0, 38.0);
    for (double r = ringGap * rng.range(0.6, 1.0); r < reach; r += ringGap * rng.range(0.85, 1.15)) {
        for (int i = 0; i < spokes; i++) {
            if (!rng.chance(0.65)) continue;  // the ring is broken here
            const Stroke st = strokeFor(rng);
            const int j = (i + 1) % spokes;
            const double a0 = angleOf(i, r);
            double a1 = angleOf(j, r);
            if (j == 0) a1 += 2.0 * kPi;
            const double sag = rng.range(0.02, 0.07);
            std::vector<Point> arc;
            const int steps = 4 + static_cast<int>(r * (a1 - a0) / 4.0);
            for (int s = 0; s <= steps; s++) {
                const double t = static_cast<double>(s) / steps;
                arc.push_back(pointOf(a0 + (a1 - a0) * t, r * (1.0 - sag * std::sin(kPi * t))));
            }
            canvas.path(arc, st.width, st.tone);
        }
    }
}

// Ground: a level of 170..210, a faint gradient and triangular noise of
// +-14; crack pixels: their tone with +-6 of noise.
std::vector<unsigned char> render(const Canvas &canvas, Lcg &rng) {
    const int n = canvas.size;
    const double level = rng.range(175.0, 205.0);
    const double slopeY = rng.range(-6.0, 6.0) / n, slopeX = rng.range(-6.0, 6.0) / n;
    std::vector<unsigned char> bytes(canvas.tone.size());
    for (int r = 0; r < n; r++)
        for (int c = 0; c < n; c++) {
            const size_t at = static_cast<size_t>(r) * static_cast<size_t>(n) + static_cast<size_t>(c);
            double v;
            if (canvas.tone[at] == kNoCrack)
                v = level + slopeY * (r - n * 0.5) + slopeX * (c - n * 0.5) + (rng.unit() + rng.unit() - 1.0) * 14.0;
            else
                v = canvas.tone[at] + (rng.unit() - 0.5) * 12.0;
            v = std::floor(v + 0.5);
            bytes[at] = static_cast<unsigned char>(v < 0.0 ? 0.0 : (v > 255.0 ? 255.0 : v));
        }
    return bytes;
}

// ---- photographs ----

// The darkness map of a photograph: per pixel the share of the light a
// crack takes away (0 none, 1 all), and the crack that owns the pixel (for
// the junction test), -1 when none does.
struct Sheet {
    int rows = 0, cols = 0;
    std::vector<float> dark;
    std::vector<int> owner;

    Sheet(int r, int c)
        : rows(r), cols(c), dark(static_cast<size_t>(r) * static_cast<size_t>(c), 0.0f),
          owner(dark.size(), -1) {}

    size_t at(int r, int c) const { return static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c); }

    // Owner of the pixel nearest to (y, x); -1 outside or free.
    int ownerAt(double y, double x) const {
        const int r = static_cast<int>(std::floor(y + 0.5)), c = static_cast<int>(std::floor(x + 0.5));
        if (r < 0 || r >= rows || c < 0 || c >= cols) return -1;
        return owner[at(r, c)];
    }

    // A soft disc of the given width at (y, x): full depth within width/2 of
    // a pixel centre, falling off to nothing one pixel further out.  The
    // darker mark wins where marks overlap; id owns the well covered pixels
    // (id < 0 marks without owning).
    void stamp(double y, double x, double width, double depth, int id) {
        const double core = width * 0.5;
        if (!(y > -4.0 && y < rows + 4.0 && x > -4.0 && x < cols + 4.0)) return;
        const int r0 = static_cast<int>(std::floor(y - core - 1.0)), r1 = static_cast<int>(std::ceil(y + core + 1.0));
        const int c0 = static_cast<int>(std::floor(x - core - 1.0)), c1 = static_cast<int>(std::ceil(x + core + 1.0));
        for (int r = r0; r <= r1; r++)
            for (int c = c0; c <= c1; c++) {
                if (r < 0 || r >= rows || c < 0 || c >= cols) continue;
                const double d = std::hypot(r - y, c - x);
                double cover = core + 0.5 - d;
                if (cover <= 0.0) continue;
                if (cover > 1.0) cover = 1.0;
                const size_t k = at(r, c);
                const float v = static_cast<float>(depth * cover);
                if (v > dark[k]) dark[k] = v;
                if (id >= 0 && cover >= 0.5 && owner[k] < 0) owner[k] = id;
            }
    }

    // A straight mark from a to b, stamped every half pixel.
    void segment(Point a, Point b, double width, double depth, int id) {
        const double len = std::hypot(b.y - a.y, b.x - a.x);
        const int steps = 1 + static_cast<int>(std::ceil(len * 2.0));
        for (int s = 0; s <= steps; s++) {
            const double t = static_cast<double>(s) / steps;
            stamp(a.y + (b.y - a.y) * t, a.x + (b.x - a.x) * t, width, depth, id);
        }
    }
};

// One crack's look: width 1 to 4 pixels (mostly thin), a depth of 0.2 to
// 0.85 of the light, and a slow swell of that depth along the crack.
struct Look {
    double width = 1.0;
    double depth = 0.5;
    double swell = 0.0, swellRate = 0.0, swellPhase = 0.0;

    double depthAt(double len) const {
        return depth * (1.0 - swell * (0.5 + 0.5 * std::sin(len * swellRate + swellPhase)));
    }
};

Look lookFor(Lcg &rng) {
    Look k;
    const double w = rng.unit();
    k.width = w < 0.45 ? rng.range(0.9, 1.4) : w < 0.8 ? rng.range(1.4, 2.3) : w < 0.95 ? rng.range(2.3, 3.2) : rng.range(3.2, 4.0);
    k.depth = rng.range(0.2, 0.85);
    k.swell = rng.range(0.0, 0.75);
    k.swellRate = 1.0 / rng.range(8.0, 40.0);
    k.swellPhase = rng.range(0.0, 2.0 * kPi);
    return k;
}

// A crack still to be grown: from where, which way, how far, and whether it
// stops on the first crack it meets.
struct Sprout {
    Point from;
    double heading = 0.0;
    double reach = 0.0;
    bool stops = true;
    Look look;
};

// Grows the cracks of a photograph one at a time.  A crack advances in
// small steps with a wandering heading; one that stops at others ends where
// it meets one (a T junction), a crossing one goes on.  On its way it leaves
// gaps, splits now and then (the branch waits in the queue: a Y junction)
// and sprouts short spurs.
struct Grower {
    Sheet &sheet;
    Lcg &rng;
    int nextId = 0;
    std::vector<Sprout> queue;
    std::vector<Point> trail;  // every tenth step of every crack, for the chips

    void grow(const Sprout &s) {
        const int id = nextId++;
        const Look &look = s.look;
        const double step = 0.7;
        Point p = s.from;
        double heading = s.heading, turn = 0.0, len = 0.0, gapLeft = 0.0;
        int steps = 0;
        while (len < s.reach) {
            turn = turn * 0.9 + rng.range(-0.012, 0.012);
            heading += turn;
            const double dy = std::sin(heading), dx = std::cos(heading);
            const Point q{p.y + step * dy, p.x + step * dx};
            if (q.y < -3.0 || q.y > sheet.rows + 2.0 || q.x < -3.0 || q.x > sheet.cols + 2.0) break;
            if (s.stops && len > look.width + 3.0) {
                const double ahead = look.width * 0.5 + 1.5;
                const Point probe{p.y + ahead * dy, p.x + ahead * dx};
                const int other = sheet.ownerAt(probe.y, probe.x);
                if (other >= 0 && other != id) {
                    sheet.segment(p, probe, look.width, look.depthAt(len), id);
                    break;
                }
            }
            if (gapLeft > 0.0) {
                gapLeft -= step;
            } else {
                sheet.stamp(q.y, q.x, look.width, look.depthAt(len), id);
                if (rng.chance(0.008)) gapLeft = rng.range(1.5, 5.0);
            }
            if (rng.chance(0.006)) {  // a Y: the branch leaves to one side, the crack bends to the other
                const double side = rng.chance(0.5) ? 1.0 : -1.0;
                Sprout branch{q, heading + side * rng.range(0.45, 0.85), rng.range(10.0, 60.0), true, look};
                branch.look.width = std::max(0.9, look.width * rng.range(0.6, 1.0));
                queue.push_back(branch);
                heading -= side * rng.range(0.2, 0.4);
            }
            if (rng.chance(0.012)) {  // a short spur
                const double a = heading + (rng.chance(0.5) ? 1.0 : -1.0) * rng.range(0.7, 1.7);
                const double l = rng.range(2.0, 6.0);
                sheet.segment(q, Point{q.y + l * std::sin(a), q.x + l * std::cos(a)}, 1.0, look.depthAt(len) * 0.9, -1);
            }
            if (++steps % 10 == 0) trail.push_back(q);
            p = q;
            len += step;
        }
    }

    void growQueued() {
        while (!queue.empty()) {
            const Sprout s = queue.back();
            queue.pop_back();
            grow(s);
        }
    }
};

void drawPhotoPattern(Sheet &sheet, Lcg &rng) {
    const int rows = sheet.rows, cols = sheet.cols;
    const double area = static_cast<double>(rows) * cols;
    Grower g{sheet, rng, 0, {}, {}};

    // Long cracks across the picture, which cross whatever they meet.
    const int primaries = 1 + static_cast<int>(area / 150000.0);
    for (int i = 0; i < primaries; i++) {
        const bool down = rng.chance(0.5);
        Sprout s;
        s.from = down ? Point{-2.0, rng.range(0.0, cols)} : Point{rng.range(0.0, rows), -2.0};
        s.heading = (down ? kPi * 0.5 : 0.0) + rng.range(-0.5, 0.5);
        s.reach = 2.0 * (rows + cols);
        s.stops = false;
        s.look = lookFor(rng);
        s.look.width = std::max(s.look.width, 1.6);
        g.grow(s);
        g.growQueued();
    }
    // The network: cracks that start anywhere free and grow both ways until
    // they meet others.
    const int seeds = static_cast<int>(area / 2500.0);
    for (int i = 0; i < seeds; i++) {
        const Point at{rng.range(0.0, rows), rng.range(0.0, cols)};
        const double heading = rng.range(0.0, 2.0 * kPi);
        const Look look = lookFor(rng);
        const double reach1 = rng.range(30.0, 160.0), reach2 = rng.range(30.0, 160.0);
        if (sheet.ownerAt(at.y, at.x) >= 0) continue;
        g.grow(Sprout{at, heading, reach1, true, look});
        g.grow(Sprout{at, heading + kPi, reach2, true, look});
        g.growQueued();
    }
    // Chips: short dashes a few pixels beside a crack.
    const int chips = static_cast<int>(area / 2500.0);
    for (int i = 0; i < chips && !g.trail.empty(); i++) {
        const Point c = g.trail[static_cast<size_t>(rng.below(static_cast<int>(g.trail.size())))];
        const double a = rng.range(0.0, 2.0 * kPi), off = rng.range(3.0, 7.0);
        const Point from{c.y + off * std::sin(a), c.x + off * std::cos(a)};
        const double h = rng.range(0.0, 2.0 * kPi), l = rng.range(1.0, 8.0);
        sheet.segment(from, Point{from.y + l * std::sin(h), from.x + l * std::cos(h)}, rng.range(0.9, 2.0),
                      rng.range(0.3, 0.8), -1);
    }
    // Specks of dirt and grain, anywhere.
    const int specks = static_cast<int>(area / 900.0);
    for (int i = 0; i < specks; i++)
        sheet.stamp(rng.range(0.0, rows), rng.range(0.0, cols), rng.range(0.9, 2.4), rng.range(0.25, 0.7), -1);
    // Blots: a few short strokes crowded into a small square.
    const int blots = static_cast<int>(area / 20000.0);
    for (int i = 0; i < blots; i++) {
        const Point c{rng.range(0.0, rows), rng.range(0.0, cols)};
        const int strokes = 3 + rng.below(4);
        const double depth = rng.range(0.4, 0.8);
        for (int k = 0; k < strokes; k++) {
            const Point a{c.y + rng.range(-3.0, 3.0), c.x + rng.range(-3.0, 3.0)};
            const Point b{c.y + rng.range(-3.0, 3.0), c.x + rng.range(-3.0, 3.0)};
            sheet.segment(a, b, 1.0, depth, -1);
        }
    }
}

// The light of a photograph: a tilt, a darker rim and three broad spots,
// about 0.5 to 1.3 of the level.
struct Light {
    double tiltY = 0.0, tiltX = 0.0, rim = 0.0;
    Point spot[3];
    double spotGain[3] = {0.0, 0.0, 0.0}, spotSize[3] = {1.0, 1.0, 1.0};

    Light(Lcg &rng, int rows, int cols) {
        tiltY = rng.range(-0.25, 0.25);
        tiltX = rng.range(-0.25, 0.25);
        rim = rng.range(0.05, 0.2);
        const double diag = std::hypot(rows, cols);
        for (int k = 0; k < 3; k++) {
            spot[k] = Point{rng.range(0.0, rows), rng.range(0.0, cols)};
            spotGain[k] = rng.range(-0.3, 0.25);
            spotSize[k] = diag * rng.range(0.12, 0.35);
        }
    }
    double at(int r, int c, int rows, int cols) const {
        const double v = r / static_cast<double>(rows) - 0.5, u = c / static_cast<double>(cols) - 0.5;
        double l = 1.0 + tiltY * v + tiltX * u - rim * 2.0 * (u * u + v * v);
        for (int k = 0; k < 3; k++) {
            const double d2 = (r - spot[k].y) * (r - spot[k].y) + (c - spot[k].x) * (c - spot[k].x);
            l += spotGain[k] * std::exp(-d2 / (2.0 * spotSize[k] * spotSize[k]));
        }
        return l;
    }
};

// Ground: a level of 165..200 with a grain (a smooth random field on a
// 6-pixel lattice, +-9) and triangular noise of +-7, under the light; a
// crack takes its share of that light away.
std::vector<unsigned char> renderPhoto(const Sheet &sheet, Lcg &rng) {
    const int rows = sheet.rows, cols = sheet.cols;
    const double level = rng.range(165.0, 200.0);
    const Light light(rng, rows, cols);
    const int cell = 6, lr = rows / cell + 2, lc = cols / cell + 2;
    std::vector<double> lattice(static_cast<size_t>(lr) * static_cast<size_t>(lc));
    for (double &v : lattice) v = rng.range(-9.0, 9.0);
    auto grain = [&](int r, int c) {
        const int i = r / cell, j = c / cell;
        const double fy = (r % cell) / static_cast<double>(cell), fx = (c % cell) / static_cast<double>(cell);
        auto L = [&](int a, int b) { return lattice[static_cast<size_t>(a) * static_cast<size_t>(lc) + static_cast<size_t>(b)]; };
        return (L(i, j) * (1.0 - fx) + L(i, j + 1) * fx) * (1.0 - fy) + (L(i + 1, j) * (1.0 - fx) + L(i + 1, j + 1) * fx) * fy;
    };
    std::vector<unsigned char> bytes(sheet.dark.size());
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) {
            const size_t k = sheet.at(r, c);
            const double ground = (level + grain(r, c)) * light.at(r, c, rows, cols);
            double v = ground * (1.0 - sheet.dark[k]) + (rng.unit() + rng.unit() - 1.0) * 7.0;
            v = std::floor(v + 0.5);
            bytes[k] = static_cast<unsigned char>(v < 0.0 ? 0.0 : (v > 255.0 ? 255.0 : v));
        }
    return bytes;
}

// Makes folder dir (and its parents) unless it is there.
void makeFolder(const std::string &dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir, ec))
        fatalExit(Stream::err, "cannot make folder " + dir + "\n");
}

// Draws and writes indices first..last of every class into dir and lists
// them in dir/image_label.dat.
void writeGroup(const std::string &dir, int first, int last, const SampleSet &set,
                std::vector<std::string> *paths, std::string *list) {
    makeFolder(dir);
    *list = dir + "image_label.dat";
    std::string lines;
    for (int label = kCircular; label <= kSpiderweb; label++)
        for (int index = first; index <= last; index++) {
            const std::string path = dir + sampleName(label, index, set.extension);
            const std::vector<unsigned char> bytes = drawSample(label, index, set.size);
            writeImage(imageFromBytes(bytes.data(), set.size, set.size), path);
            paths->push_back(path);
            lines += labelLine(path, label);
        }
    std::FILE *file = std::fopen(list->c_str(), "w");
    if (file == nullptr) fatalExit(Stream::err, "cannot write " + *list + ": " + std::strerror(errno) + "\n");
    const bool written = std::fwrite(lines.data(), 1, lines.size(), file) == lines.size();
    if (std::fclose(file) != 0 || !written) fatalExit(Stream::err, "cannot write " + *list + "\n");
}

}  // namespace

// ---------------------------------------------------------------------------
// Classes and names
// ---------------------------------------------------------------------------

const char *className(int label) {
    switch (label) {
    case kCircular: return "circular";
    case kRectangular: return "rectangular";
    case kUnidirectional: return "unidirectional";
    case kSpiderweb: return "spiderweb";
    default: return "";
    }
}

std::string sampleName(int label, int index, const std::string &extension) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", index);
    return std::string(className(label)) + "_" + digits + extension;
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

// Stream 1 lays out the pattern, stream 2 renders it.  A label outside 1..4
// draws the bare ground.
std::vector<unsigned char> drawSample(int label, int index, int size) {
    Canvas canvas(size);
    Lcg pattern = streamFor(label, index, 1);
    switch (label) {
    case kCircular: drawCircular(canvas, pattern); break;
    case kRectangular: drawRectangular(canvas, pattern); break;
    case kUnidirectional: drawUnidirectional(canvas, pattern); break;
    case kSpiderweb: drawSpiderweb(canvas, pattern); break;
    default: break;
    }
    Lcg ground = streamFor(label, index, 2);
    return render(canvas, ground);
}

// ---------------------------------------------------------------------------
// Photograph-like images
// ---------------------------------------------------------------------------

// Photographs take their streams from a base of their own (class 0x50), so
// they share no seed with the class samples.
std::vector<unsigned char> drawPhoto(int index, int rows, int cols) {
    Sheet sheet(rows, cols);
    Lcg pattern = streamFor(0x50, index, 1);
    drawPhotoPattern(sheet, pattern);
    Lcg ground = streamFor(0x50, index, 2);
    return renderPhoto(sheet, ground);
}

std::string photoName(int index, const std::string &extension) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", index);
    return std::string("photo_") + digits + extension;
}

std::vector<std::string> writePhotos(const PhotoSet &set) {
    makeFolder(set.outDir);
    std::vector<std::string> paths;
    for (int index = 1; index <= set.count; index++) {
        const std::string path = set.outDir + photoName(index, set.extension);
        const std::vector<unsigned char> bytes = drawPhoto(index, set.rows, set.cols);
        writeImage(imageFromBytes(bytes.data(), set.cols, set.rows), path);
        paths.push_back(path);
    }
    return paths;
}

// ---------------------------------------------------------------------------
// Writing a sample set
// ---------------------------------------------------------------------------

std::string labelLine(const std::string &path, int label) { return path + " " + std::to_string(label) + "\n"; }

WrittenSet writeSamples(const SampleSet &set) {
    WrittenSet out;
    writeGroup(set.outDir, 1, set.perClass, set, &out.training, &out.trainingList);
    if (set.holdOut > 0)
        writeGroup(set.outDir + "query/", set.perClass + 1, set.perClass + set.holdOut, set, &out.held,
                   &out.heldList);
    return out;
}

}  // namespace craq::samples

#include "fft.h"

#include <cmath>

namespace {
constexpr double kTwoPi = 6.283185307179586;
constexpr double kMagnitudeScale = 0.00390625;  // 1/256

// An AVX2 copy where the processor has it. The resolver runs before a thread
// sanitizer's runtime is up, so sanitized builds keep the one generic copy.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define VORUR_CLONES
#else
#define VORUR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// Four doubles handled as one value; the compiler maps it onto whatever vector
// registers the build targets (two SSE registers or one AVX register). Loads and
// stores go through an unaligned alias of it.
typedef double V4 __attribute__((vector_size(32)));
typedef double V4u __attribute__((vector_size(32), aligned(8), may_alias));
#define VORUR_LOAD(p) (*reinterpret_cast<const V4u*>(p))
#define VORUR_STORE(p, v) (*reinterpret_cast<V4u*>(p) = (v))

// Bit reversal of a byte.
struct ByteReversal {
    unsigned char value[256];
    constexpr ByteReversal() : value() {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned r = 0;
            for (unsigned b = 0; b < 8; ++b)
                r |= ((i >> b) & 1) << (7 - b);
            value[i] = static_cast<unsigned char>(r);
        }
    }
};
constexpr ByteReversal kReverse;

// The lowest `bits` bits of i (i below 2 to the power bits) in reverse order.
inline unsigned Reverse(unsigned i, unsigned bits) {
    if (bits <= 8)
        return unsigned(kReverse.value[i]) >> (8 - bits);
    const unsigned r = unsigned(kReverse.value[i & 255]) << 24 | unsigned(kReverse.value[(i >> 8) & 255]) << 16 |
                       unsigned(kReverse.value[(i >> 16) & 255]) << 8 | unsigned(kReverse.value[i >> 24]);
    return r >> (32 - bits);
}

// One butterfly exactly as the transform defines it: k takes the difference, j the sum.
#define VORUR_BUTTERFLY(rj, ij, rk, ik, wr, wi)        \
    do {                                               \
        const auto tr_ = (wr) * (rk) - (wi) * (ik);    \
        const auto ti_ = (wr) * (ik) + (wi) * (rk);    \
        (rk) = (rj) - tr_;                             \
        (ik) = (ij) - ti_;                             \
        (rj) = (rj) + tr_;                             \
        (ij) = (ij) + ti_;                             \
    } while (0)

}  // namespace

CFft::CFft() : m_pTarget(nullptr), m_nCount(0), m_dLevelSum(0.0), m_input(), m_outReal(), m_outImag(), m_magnitudes() {
    MakeTwiddles(false);
}

void CFft::SetTarget(IMessageTarget* window) {
    m_pTarget = window;
    m_nCount = 0;
    m_dLevelSum = 0.0;
}

// The twiddles of every block size up to kSize, each run through the recurrence
// once: every block of one size starts it from the same values, so all blocks
// of that size use the same twiddles.
void CFft::MakeTwiddles(bool inverse) {
    const double angle = inverse ? -kTwoPi : kTwoPi;
    m_twiddleReal[0] = m_twiddleImag[0] = 0.0;
    for (unsigned h = 1; h <= kSize / 2; h <<= 1) {
        const double delta = angle / (2 * h);
        const double sm2 = std::sin(-2 * delta);
        const double sm1 = std::sin(-delta);
        const double cm2 = std::cos(-2 * delta);
        const double cm1 = std::cos(-delta);
        const double w = 2 * cm1;
        double ar2 = cm2, ar1 = cm1, ai2 = sm2, ai1 = sm1;
        double* twr = m_twiddleReal + h;
        double* twi = m_twiddleImag + h;
        for (unsigned n = 0; n < h; ++n) {
            const double ar0 = w * ar1 - ar2;
            ar2 = ar1;
            ar1 = ar0;
            const double ai0 = w * ai1 - ai2;
            ai2 = ai1;
            ai1 = ai0;
            twr[n] = ar0;
            twi[n] = ai0;
        }
    }
    m_bTwiddlesInverse = inverse;
}

// Every butterfly computes exactly what the plain radix-2 loop computes, with the
// same twiddles and the same operations in the same order; only the order in
// which butterflies run differs (block sizes 2 and 4 together with the
// bit-reversed copy, then two block sizes per pass, four butterflies side by
// side), so the results are the same to the bit.
// Built for wider vectors too where the processor has them; the arithmetic is the same.
VORUR_CLONES void CFft::Transform(unsigned count, BOOL inverse,
                                                                        const double* realIn, const double* imagIn,
                                                                        double* realOut, double* imagOut) {
    if (!realIn || !realOut || !imagOut)
        return;
    if (count < 2 || (count & (count - 1)) != 0)
        return;
    if (m_bTwiddlesInverse != bool(inverse))
        MakeTwiddles(inverse);

    double* __restrict re = realOut;
    double* __restrict im = imagOut;
    const double* __restrict twr = m_twiddleReal;
    const double* __restrict twi = m_twiddleImag;
    const unsigned bits = static_cast<unsigned>(__builtin_ctz(count));

    unsigned h;  // half size of the next block size to do
    if (count == 2) {
        double r0 = realIn[0], r1 = realIn[1];
        double i0 = imagIn ? imagIn[0] : 0.0, i1 = imagIn ? imagIn[1] : 0.0;
        VORUR_BUTTERFLY(r0, i0, r1, i1, twr[1], twi[1]);
        re[0] = r0, re[1] = r1, im[0] = i0, im[1] = i1;
        h = 2;
    } else {
        // Bit-reversed copy fused with block sizes 2 and 4: output group g (4g..4g+3)
        // takes inputs i, i + n/2, i + n/4, i + 3n/4 with i the reverse of g.
        const unsigned quarter = count / 4;
        const double w1r = twr[1], w1i = twi[1];
        const double w20r = twr[2], w20i = twi[2], w21r = twr[3], w21i = twi[3];
        const double* __restrict x = realIn;
        const double* __restrict y = imagIn;
        unsigned i = 0;
        if (quarter >= 4) {
            const V4 zero = {0, 0, 0, 0};
            for (; i < quarter; i += 4) {
                V4 r0 = VORUR_LOAD(x + i), r1 = VORUR_LOAD(x + i + 2 * quarter), r2 = VORUR_LOAD(x + i + quarter),
                   r3 = VORUR_LOAD(x + i + 3 * quarter);
                V4 i0 = zero, i1 = zero, i2 = zero, i3 = zero;
                if (y) {
                    i0 = VORUR_LOAD(y + i), i1 = VORUR_LOAD(y + i + 2 * quarter), i2 = VORUR_LOAD(y + i + quarter),
                    i3 = VORUR_LOAD(y + i + 3 * quarter);
                }
                VORUR_BUTTERFLY(r0, i0, r1, i1, w1r, w1i);
                VORUR_BUTTERFLY(r2, i2, r3, i3, w1r, w1i);
                VORUR_BUTTERFLY(r0, i0, r2, i2, w20r, w20i);
                VORUR_BUTTERFLY(r1, i1, r3, i3, w21r, w21i);
                // Lane l belongs to group reverse(i + l): transpose so that each group's
                // four values are stored together.
                const V4 ra = __builtin_shufflevector(r0, r1, 0, 4, 2, 6), rb = __builtin_shufflevector(r0, r1, 1, 5, 3, 7),
                         rc = __builtin_shufflevector(r2, r3, 0, 4, 2, 6), rd = __builtin_shufflevector(r2, r3, 1, 5, 3, 7);
                const V4 ia = __builtin_shufflevector(i0, i1, 0, 4, 2, 6), ib = __builtin_shufflevector(i0, i1, 1, 5, 3, 7),
                         ic = __builtin_shufflevector(i2, i3, 0, 4, 2, 6), id = __builtin_shufflevector(i2, i3, 1, 5, 3, 7);
                const unsigned g0 = 4 * Reverse(i, bits - 2), g1 = 4 * Reverse(i + 1, bits - 2),
                               g2 = 4 * Reverse(i + 2, bits - 2), g3 = 4 * Reverse(i + 3, bits - 2);
                VORUR_STORE(re + g0, __builtin_shufflevector(ra, rc, 0, 1, 4, 5));
                VORUR_STORE(re + g1, __builtin_shufflevector(rb, rd, 0, 1, 4, 5));
                VORUR_STORE(re + g2, __builtin_shufflevector(ra, rc, 2, 3, 6, 7));
                VORUR_STORE(re + g3, __builtin_shufflevector(rb, rd, 2, 3, 6, 7));
                VORUR_STORE(im + g0, __builtin_shufflevector(ia, ic, 0, 1, 4, 5));
                VORUR_STORE(im + g1, __builtin_shufflevector(ib, id, 0, 1, 4, 5));
                VORUR_STORE(im + g2, __builtin_shufflevector(ia, ic, 2, 3, 6, 7));
                VORUR_STORE(im + g3, __builtin_shufflevector(ib, id, 2, 3, 6, 7));
            }
        }
        for (; i < quarter; ++i) {
            double r0 = x[i], r1 = x[i + 2 * quarter], r2 = x[i + quarter], r3 = x[i + 3 * quarter];
            double i0 = 0.0, i1 = 0.0, i2 = 0.0, i3 = 0.0;
            if (y) {
                i0 = y[i], i1 = y[i + 2 * quarter], i2 = y[i + quarter], i3 = y[i + 3 * quarter];
            }
            VORUR_BUTTERFLY(r0, i0, r1, i1, w1r, w1i);
            VORUR_BUTTERFLY(r2, i2, r3, i3, w1r, w1i);
            VORUR_BUTTERFLY(r0, i0, r2, i2, w20r, w20i);
            VORUR_BUTTERFLY(r1, i1, r3, i3, w21r, w21i);
            const unsigned g = 4 * Reverse(i, bits - 2);
            re[g] = r0, re[g + 1] = r1, re[g + 2] = r2, re[g + 3] = r3;
            im[g] = i0, im[g + 1] = i1, im[g + 2] = i2, im[g + 3] = i3;
        }
        h = 4;
    }

    // Two block sizes per pass over the data while both have their twiddles in
    // the table: for block size 4h, the sizes 2h and 4h in one go.
    for (; h < count / 2 && 2 * h <= kSize / 2; h *= 4) {
        const double* __restrict ar = twr + h;
        const double* __restrict ai = twi + h;
        const double* __restrict br = twr + 2 * h;
        const double* __restrict bi = twi + 2 * h;
        for (unsigned s = 0; s < count; s += 4 * h) {
            double* __restrict r0 = re + s;
            double* __restrict r1 = re + s + h;
            double* __restrict r2 = re + s + 2 * h;
            double* __restrict r3 = re + s + 3 * h;
            double* __restrict i0 = im + s;
            double* __restrict i1 = im + s + h;
            double* __restrict i2 = im + s + 2 * h;
            double* __restrict i3 = im + s + 3 * h;
            // h is a multiple of 4 here.
            for (unsigned n = 0; n < h; n += 4) {
                V4 a0 = VORUR_LOAD(r0 + n), a1 = VORUR_LOAD(r1 + n), a2 = VORUR_LOAD(r2 + n), a3 = VORUR_LOAD(r3 + n);
                V4 c0 = VORUR_LOAD(i0 + n), c1 = VORUR_LOAD(i1 + n), c2 = VORUR_LOAD(i2 + n), c3 = VORUR_LOAD(i3 + n);
                const V4 wr = VORUR_LOAD(ar + n), wi = VORUR_LOAD(ai + n);
                VORUR_BUTTERFLY(a0, c0, a1, c1, wr, wi);
                VORUR_BUTTERFLY(a2, c2, a3, c3, wr, wi);
                VORUR_BUTTERFLY(a0, c0, a2, c2, VORUR_LOAD(br + n), VORUR_LOAD(bi + n));
                VORUR_BUTTERFLY(a1, c1, a3, c3, VORUR_LOAD(br + n + h), VORUR_LOAD(bi + n + h));
                VORUR_STORE(r0 + n, a0), VORUR_STORE(r1 + n, a1), VORUR_STORE(r2 + n, a2), VORUR_STORE(r3 + n, a3);
                VORUR_STORE(i0 + n, c0), VORUR_STORE(i1 + n, c1), VORUR_STORE(i2 + n, c2), VORUR_STORE(i3 + n, c3);
            }
        }
    }
    // One remaining block size whose twiddles are in the table.
    if (h < count && h <= kSize / 2) {
        const double* __restrict ar = twr + h;
        const double* __restrict ai = twi + h;
        for (unsigned s = 0; s < count; s += 2 * h) {
            double* __restrict r0 = re + s;
            double* __restrict r1 = re + s + h;
            double* __restrict i0 = im + s;
            double* __restrict i1 = im + s + h;
            for (unsigned n = 0; n < h; n += 4) {
                V4 a0 = VORUR_LOAD(r0 + n), a1 = VORUR_LOAD(r1 + n), c0 = VORUR_LOAD(i0 + n), c1 = VORUR_LOAD(i1 + n);
                VORUR_BUTTERFLY(a0, c0, a1, c1, VORUR_LOAD(ar + n), VORUR_LOAD(ai + n));
                VORUR_STORE(r0 + n, a0), VORUR_STORE(r1 + n, a1), VORUR_STORE(i0 + n, c0), VORUR_STORE(i1 + n, c1);
            }
        }
        h *= 2;
    }
    // Block sizes beyond the table run the recurrence inside every block.
    const double angle = inverse ? -kTwoPi : kTwoPi;
    for (; h < count; h *= 2) {
        const double delta = angle / (2 * h);
        const double sm2 = std::sin(-2 * delta);
        const double sm1 = std::sin(-delta);
        const double cm2 = std::cos(-2 * delta);
        const double cm1 = std::cos(-delta);
        const double w = 2 * cm1;
        for (unsigned s = 0; s < count; s += 2 * h) {
            double ar2 = cm2, ar1 = cm1, ai2 = sm2, ai1 = sm1;
            for (unsigned n = 0; n < h; ++n) {
                const double ar0 = w * ar1 - ar2;
                ar2 = ar1;
                ar1 = ar0;
                const double ai0 = w * ai1 - ai2;
                ai2 = ai1;
                ai1 = ai0;
                VORUR_BUTTERFLY(re[s + n], im[s + n], re[s + n + h], im[s + n + h], ar0, ai0);
            }
        }
    }

    if (inverse) {
        for (unsigned i = 0; i < count; ++i) {
            re[i] /= count;
            im[i] /= count;
        }
    }
}

VORUR_CLONES void CFft::Analyse(const int16_t* samples, DWORD /*bytes*/) {
    if (!samples)
        return;
    for (unsigned i = 0; i < kSize; ++i)
        m_input[i] = samples[i];
    Transform(kSize, 0, m_input, nullptr, m_outReal, m_outImag);

    // The square roots of a few bins run side by side while the sum, which has to
    // go bin by bin in order, takes in the previous few.
    constexpr unsigned kStep = 16;
    double sum = 0.0;
    int positive = 0;
    for (unsigned k0 = 0; k0 < kBins; k0 += kStep) {
        const double* __restrict re = m_outReal + k0;
        const double* __restrict im = m_outImag + k0;
        double* __restrict magnitudes = m_magnitudes + k0;
        for (unsigned k = 0; k < kStep; ++k)
            magnitudes[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]) * kMagnitudeScale;
        for (unsigned k = 0; k < kStep; ++k) {
            // Adding 0.0 to a sum that starts at +0 and only grows changes nothing.
            sum += magnitudes[k] > 0 ? magnitudes[k] : 0.0;
            positive += magnitudes[k] > 0;
        }
    }
    // A buffer of digital silence has no mean; its pair's level is 0.
    const double mean = positive > 0 ? sum / positive : std::nan("");

    ++m_nCount;
    m_dLevelSum += mean;
    if (m_nCount < 2)
        return;
    const double level = m_dLevelSum * 0.5;
    m_nCount = 0;
    m_dLevelSum = 0.0;

    if (m_pTarget && m_pTarget->IsWindow()) {
        const WPARAM value = std::isnan(level) || level < 0 ? 0 : static_cast<WPARAM>(level);
        m_pTarget->PostMessage(WM_RECORD_LEVEL, value, 0);
    }
}

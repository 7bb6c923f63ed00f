#include "fft.h"

#include <cmath>

namespace {
constexpr double kTwoPi = 6.283185307179586;
constexpr double kMagnitudeScale = 0.00390625;  // 1/256
}  // namespace

CFft::CFft() : m_pTarget(nullptr), m_nCount(0), m_dLevelSum(0.0) {}

void CFft::SetTarget(IMessageTarget* window) {
    m_pTarget = window;
    m_nCount = 0;
    m_dLevelSum = 0.0;
}

// Built for wider vectors too where the processor has them; the arithmetic is the same.
__attribute__((target_clones("avx2", "default"))) void CFft::Transform(unsigned count, BOOL inverse, const double* realIn, const double* imagIn, double* realOut,
                     double* imagOut) {
    if (!realIn || !realOut || !imagOut)
        return;
    if (count < 2 || (count & (count - 1)) != 0)
        return;

    // Bit-reversed copy, with the reversed index counted up directly.
    unsigned j = 0;
    for (unsigned i = 0; i < count; ++i) {
        realOut[j] = realIn[i];
        imagOut[j] = imagIn ? imagIn[i] : 0.0;
        unsigned bit = count >> 1;
        while (j & bit) {
            j ^= bit;
            bit >>= 1;
        }
        j |= bit;
    }

    double* __restrict re = realOut;
    double* __restrict im = imagOut;
    const double angle = inverse ? -kTwoPi : kTwoPi;
    unsigned h = 1;
    for (unsigned b = 2; b <= count; b <<= 1) {
        const double delta = angle / b;
        const double sm2 = std::sin(-2 * delta);
        const double sm1 = std::sin(-delta);
        const double cm2 = std::cos(-2 * delta);
        const double cm1 = std::cos(-delta);
        const double w = 2 * cm1;

        if (h <= kSize / 2) {
            // Every block of this size starts the recurrence from the same values,
            // so its twiddles are run once and used for all blocks.
            double* __restrict twr = m_twiddleReal;
            double* __restrict twi = m_twiddleImag;
            double ar2 = cm2, ar1 = cm1, ai2 = sm2, ai1 = sm1;
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
            if (h < 8) {
                // Short blocks: run along the blocks for each twiddle instead.
                for (unsigned n = 0; n < h; ++n) {
                    const double wr = twr[n], wi = twi[n];
                    for (unsigned j = n; j < count; j += b) {
                        const unsigned k = j + h;
                        const double tr = wr * re[k] - wi * im[k];
                        const double ti = wr * im[k] + wi * re[k];
                        re[k] = re[j] - tr;
                        im[k] = im[j] - ti;
                        re[j] = re[j] + tr;
                        im[j] = im[j] + ti;
                    }
                }
            } else {
                for (unsigned s = 0; s < count; s += b) {
                    double* __restrict rj = re + s;
                    double* __restrict ij = im + s;
                    double* __restrict rk = re + s + h;
                    double* __restrict ik = im + s + h;
                    for (unsigned n = 0; n < h; ++n) {
                        const double tr = twr[n] * rk[n] - twi[n] * ik[n];
                        const double ti = twr[n] * ik[n] + twi[n] * rk[n];
                        rk[n] = rj[n] - tr;
                        ik[n] = ij[n] - ti;
                        rj[n] = rj[n] + tr;
                        ij[n] = ij[n] + ti;
                    }
                }
            }
        } else {
            for (unsigned s = 0; s < count; s += b) {
                double ar2 = cm2, ar1 = cm1, ai2 = sm2, ai1 = sm1;
                for (unsigned n = 0; n < h; ++n) {
                    const unsigned jj = s + n;
                    const unsigned k = jj + h;
                    const double ar0 = w * ar1 - ar2;
                    ar2 = ar1;
                    ar1 = ar0;
                    const double ai0 = w * ai1 - ai2;
                    ai2 = ai1;
                    ai1 = ai0;
                    const double tr = ar0 * re[k] - ai0 * im[k];
                    const double ti = ar0 * im[k] + ai0 * re[k];
                    re[k] = re[jj] - tr;
                    im[k] = im[jj] - ti;
                    re[jj] = re[jj] + tr;
                    im[jj] = im[jj] + ti;
                }
            }
        }
        h = b;
    }

    if (inverse) {
        for (unsigned i = 0; i < count; ++i) {
            re[i] /= count;
            im[i] /= count;
        }
    }
}

void CFft::Analyse(const int16_t* samples, DWORD /*bytes*/) {
    if (!samples)
        return;
    for (unsigned i = 0; i < kSize; ++i)
        m_input[i] = samples[i];
    Transform(kSize, 0, m_input, nullptr, m_outReal, m_outImag);

    double sum = 0.0;
    int positive = 0;
    for (unsigned k = 0; k < kBins; ++k) {
        const double magnitude = std::sqrt(m_outReal[k] * m_outReal[k] + m_outImag[k] * m_outImag[k]) * kMagnitudeScale;
        m_magnitudes[k] = magnitude;
        if (magnitude > 0) {
            sum += magnitude;
            ++positive;
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

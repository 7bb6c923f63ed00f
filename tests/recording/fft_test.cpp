// The level analyser: the transform against a direct DFT and the level rules.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
#include <random>
#include <vector>

#include "fft.h"

// Counts every allocation of the test program, to see that analysing a buffer makes none.
static std::atomic<long> g_allocations{0};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t align) {
    ++g_allocations;
    const std::size_t a = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

class RecordingTarget : public IMessageTarget {
public:
    bool alive = true;
    std::vector<std::pair<UINT, WPARAM>> posted;
    bool IsWindow() const override { return alive; }
    bool PostMessage(UINT msg, WPARAM wParam, LPARAM) override {
        posted.emplace_back(msg, wParam);
        return true;
    }
};

std::vector<std::complex<double>> DirectDft(const std::vector<double>& re, const std::vector<double>& im, int sign) {
    size_t n = re.size();
    std::vector<std::complex<double>> out(n);
    for (size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0;
        for (size_t t = 0; t < n; ++t) {
            double a = sign * 2 * M_PI * double(t * k % n) / double(n);
            sum += std::complex<double>(re[t], im[t]) * std::complex<double>(std::cos(a), std::sin(a));
        }
        out[k] = sum;
    }
    return out;
}

// The butterflies with the twiddle recurrence run inside every block, as first written.
void ReferenceTransform(unsigned count, bool inverse, const double* ri, const double* ii, double* ro, double* io) {
    unsigned bits = 0;
    while (!(count & (1u << bits)))
        ++bits;
    for (unsigned i = 0; i < count; ++i) {
        unsigned j = 0;
        for (unsigned b = 0; b < bits; ++b)
            j |= ((i >> b) & 1) << (bits - 1 - b);
        ro[j] = ri[i];
        io[j] = ii ? ii[i] : 0.0;
    }
    double angle = inverse ? -6.283185307179586 : 6.283185307179586;
    unsigned h = 1;
    for (unsigned b = 2; b <= count; b <<= 1) {
        double d = angle / b;
        double sm2 = std::sin(-2 * d), sm1 = std::sin(-d), cm2 = std::cos(-2 * d), cm1 = std::cos(-d), w = 2 * cm1;
        for (unsigned s = 0; s < count; s += b) {
            double ar2 = cm2, ar1 = cm1, ai2 = sm2, ai1 = sm1;
            for (unsigned n = 0; n < h; ++n) {
                unsigned j = s + n, k = j + h;
                double ar0 = w * ar1 - ar2;
                ar2 = ar1;
                ar1 = ar0;
                double ai0 = w * ai1 - ai2;
                ai2 = ai1;
                ai1 = ai0;
                double tr = ar0 * ro[k] - ai0 * io[k];
                double ti = ar0 * io[k] + ai0 * ro[k];
                ro[k] = ro[j] - tr;
                io[k] = io[j] - ti;
                ro[j] += tr;
                io[j] += ti;
            }
        }
        h = b;
    }
    if (inverse)
        for (unsigned i = 0; i < count; ++i) {
            ro[i] /= count;
            io[i] /= count;
        }
}

std::vector<int16_t> Buffer(int16_t (*sample)(size_t)) {
    std::vector<int16_t> b(2048);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = sample(i);
    return b;
}

// Mean of the positive magnitudes of bins 0..511, computed directly.
double DirectMean(const std::vector<int16_t>& buffer) {
    std::vector<double> re(buffer.begin(), buffer.begin() + 1024), im(1024, 0.0);
    auto spectrum = DirectDft(re, im, +1);
    double sum = 0;
    int n = 0;
    for (int k = 0; k < 512; ++k) {
        double m = std::abs(spectrum[k]) / 256;
        if (m > 1e-9) {
            sum += m;
            ++n;
        }
    }
    return n ? sum / n : 0;
}

}  // namespace

TEST(FftTransform, MatchesADirectDftWithAPositiveExponentAndInvertsIt) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> dist(-1000, 1000);
    CFft fft;
    for (unsigned n : {2u, 8u, 64u, 1024u, 4096u}) {
        SCOPED_TRACE(n);
        std::vector<double> re(n), im(n), outR(n), outI(n), backR(n), backI(n);
        for (unsigned i = 0; i < n; ++i) {
            re[i] = dist(rng);
            im[i] = dist(rng);
        }
        fft.Transform(n, 0, re.data(), im.data(), outR.data(), outI.data());
        auto expected = DirectDft(re, im, +1);
        for (unsigned k = 0; k < n; ++k) {
            ASSERT_NEAR(outR[k], expected[k].real(), 1e-6 * n);
            ASSERT_NEAR(outI[k], expected[k].imag(), 1e-6 * n);
        }
        fft.Transform(n, 1, outR.data(), outI.data(), backR.data(), backI.data());
        for (unsigned i = 0; i < n; ++i) {
            ASSERT_NEAR(backR[i], re[i], 1e-8 * n);
            ASSERT_NEAR(backI[i], im[i], 1e-8 * n);
        }
    }
}

TEST(FftTransform, EqualsTheRecurrenceRunPerBlockBitForBit) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    CFft fft;
    for (bool inverse : {false, true}) {
        std::vector<double> re(1024), outR(1024), outI(1024), refR(1024), refI(1024);
        for (double& v : re)
            v = dist(rng);
        fft.Transform(1024, inverse, re.data(), nullptr, outR.data(), outI.data());
        ReferenceTransform(1024, inverse, re.data(), nullptr, refR.data(), refI.data());
        for (int k = 0; k < 1024; ++k) {
            ASSERT_EQ(outR[k], refR[k]) << k;
            ASSERT_EQ(outI[k], refI[k]) << k;
        }
    }
}

TEST(FftTransform, LeavesOutputsAloneForCountsThatAreNotPowersOfTwoOrMissingArrays) {
    CFft fft;
    std::vector<double> in(1024, 1.0), outR(1024, 42.0), outI(1024, 43.0);
    for (unsigned n : {0u, 1u, 3u, 6u, 1000u, 1023u})
        fft.Transform(n, 0, in.data(), nullptr, outR.data(), outI.data());
    fft.Transform(8, 0, nullptr, nullptr, outR.data(), outI.data());
    fft.Transform(8, 0, in.data(), nullptr, nullptr, outI.data());
    fft.Transform(8, 0, in.data(), nullptr, outR.data(), nullptr);
    for (int i = 0; i < 1024; ++i) {
        ASSERT_EQ(outR[i], 42.0);
        ASSERT_EQ(outI[i], 43.0);
    }
}

TEST(FftLevel, ConstantInputPutsFourTimesItsValueIntoBinZero) {
    CFft fft;
    for (int16_t a : {int16_t(1000), int16_t(-1000), int16_t(32767)}) {
        std::vector<int16_t> buffer(2048, a);
        fft.Analyse(buffer.data(), 4096);
        EXPECT_NEAR(fft.Magnitudes()[0], 4.0 * std::abs(a), 1e-6 * std::abs(a));
        for (int k = 1; k < 512; ++k)
            ASSERT_LT(fft.Magnitudes()[k], 1e-6 * std::abs(a));
    }
}

TEST(FftLevel, PostsTheMeanOfTwoBuffersAfterEverySecondBuffer) {
    RecordingTarget target;
    CFft fft;
    fft.SetTarget(&target);
    auto tone = Buffer([](size_t i) { return int16_t(3000 * std::sin(0.05 * double(i)) + 500 * std::cos(0.3 * double(i))); });
    auto noise = Buffer([](size_t i) { return int16_t(int((i * 7919) % 2001) - 1000); });

    fft.Analyse(tone.data(), 4096);
    EXPECT_TRUE(target.posted.empty()) << "a single buffer posts nothing";
    fft.Analyse(noise.data(), 4096);
    ASSERT_EQ(target.posted.size(), 1u);
    EXPECT_EQ(target.posted[0].first, WM_RECORD_LEVEL);
    double expected = (DirectMean(tone) + DirectMean(noise)) / 2;
    EXPECT_NEAR(double(target.posted[0].second), expected, 1.0);
    EXPECT_EQ(target.posted[0].second, WPARAM(expected)) << "the level is truncated";

    fft.Analyse(noise.data(), 4096);
    fft.Analyse(noise.data(), 4096);
    ASSERT_EQ(target.posted.size(), 2u);
    EXPECT_EQ(target.posted[1].second, WPARAM(DirectMean(noise)));
}

TEST(FftLevel, ASilentBufferMakesItsPairsLevelZero) {
    RecordingTarget target;
    CFft fft;
    fft.SetTarget(&target);
    std::vector<int16_t> silence(2048, 0);
    auto loud = Buffer([](size_t i) { return int16_t(20000 * std::sin(0.1 * double(i))); });

    fft.Analyse(loud.data(), 4096);
    fft.Analyse(silence.data(), 4096);
    fft.Analyse(silence.data(), 4096);
    fft.Analyse(loud.data(), 4096);
    fft.Analyse(loud.data(), 4096);
    fft.Analyse(loud.data(), 4096);
    ASSERT_EQ(target.posted.size(), 3u);
    EXPECT_EQ(target.posted[0].second, 0u);
    EXPECT_EQ(target.posted[1].second, 0u);
    EXPECT_GT(target.posted[2].second, 100u);
}

TEST(FftLevel, AGoneOrMissingTargetStillStartsEachPairAfresh) {
    RecordingTarget target;
    CFft fft;
    std::vector<int16_t> silence(2048, 0);
    auto loud = Buffer([](size_t i) { return int16_t(20000 * std::sin(0.1 * double(i))); });

    // No target: the silent buffer's pair is dropped, not carried into the next.
    fft.Analyse(silence.data(), 4096);
    fft.Analyse(loud.data(), 4096);
    fft.SetTarget(&target);
    EXPECT_TRUE(target.posted.empty());

    target.alive = false;
    fft.Analyse(silence.data(), 4096);
    fft.Analyse(loud.data(), 4096);
    EXPECT_TRUE(target.posted.empty());
    target.alive = true;
    fft.Analyse(loud.data(), 4096);
    fft.Analyse(loud.data(), 4096);
    ASSERT_EQ(target.posted.size(), 1u);
    EXPECT_EQ(target.posted[0].second, WPARAM(DirectMean(loud)));

    // SetTarget restarts the pair.
    fft.Analyse(silence.data(), 4096);
    fft.SetTarget(&target);
    fft.Analyse(loud.data(), 4096);
    fft.Analyse(loud.data(), 4096);
    ASSERT_EQ(target.posted.size(), 2u);
    EXPECT_GT(target.posted[1].second, 0u);
}

namespace {

// Equal bit for bit, signs of zeros included; any NaN matches any NaN, as the
// payload a NaN carries depends on operand order the compiler is free to pick.
::testing::AssertionResult SameBits(const double* a, const double* b, unsigned n) {
    for (unsigned k = 0; k < n; ++k) {
        if (std::isnan(a[k]) && std::isnan(b[k]))
            continue;
        if (std::bit_cast<uint64_t>(a[k]) != std::bit_cast<uint64_t>(b[k]))
            return ::testing::AssertionFailure() << "index " << k << ": " << a[k] << " vs " << b[k];
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(FftTransform, EveryPowerOfTwoInBothDirectionsEqualsTheRecurrenceRunPerBlock) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> dist(-1e4, 1e4);
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(), 4.9e-324, -1e308};
    // One object throughout, so the directions alternate on the same twiddles.
    CFft fft;
    for (int withSpecials = 0; withSpecials < 2; ++withSpecials) {
        for (unsigned n = 2; n <= 4096; n *= 2) {
            for (int inverse = 0; inverse < 2; ++inverse) {
                for (bool withImag : {false, true}) {
                    SCOPED_TRACE(::testing::Message() << "n " << n << " inverse " << inverse << " imag " << withImag
                                                      << " specials " << withSpecials);
                    std::vector<double> re(n), im(n), outR(n, 7.0), outI(n, 7.0), refR(n), refI(n);
                    for (unsigned i = 0; i < n; ++i) {
                        re[i] = dist(rng);
                        im[i] = dist(rng);
                    }
                    if (withSpecials) {
                        // Few enough that most outputs stay finite, placed apart.
                        for (unsigned s = 0; s < std::size(specials) && s < n; ++s) {
                            re[(s * 977) % n] = specials[s];
                            im[(s * 613 + 1) % n] = specials[(s + 3) % std::size(specials)];
                        }
                    }
                    const double* imIn = withImag ? im.data() : nullptr;
                    fft.Transform(n, inverse, re.data(), imIn, outR.data(), outI.data());
                    ReferenceTransform(n, inverse, re.data(), imIn, refR.data(), refI.data());
                    ASSERT_TRUE(SameBits(outR.data(), refR.data(), n));
                    ASSERT_TRUE(SameBits(outI.data(), refI.data(), n));
                }
            }
        }
    }
}

TEST(FftLevel, MagnitudesAndLevelsEqualTheLiteralComputationAndAllocateNothing) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<std::vector<int16_t>> buffers;
    buffers.push_back(std::vector<int16_t>(2048, -32768));
    buffers.push_back(Buffer([](size_t i) { return int16_t(i % 2 ? 32767 : -32768); }));
    buffers.push_back(Buffer([](size_t i) { return int16_t(i % 7 == 0 ? 1 : 0); }));
    buffers.push_back(std::vector<int16_t>(2048, 0));
    for (int b = 0; b < 6; ++b) {
        std::vector<int16_t> v(2048);
        for (auto& s : v)
            s = int16_t(dist(rng));
        buffers.push_back(v);
    }

    // What the analyser must arrive at, computed the plain way.
    std::vector<std::vector<double>> magnitudes;
    std::vector<double> means;
    for (const auto& buffer : buffers) {
        std::vector<double> in(buffer.begin(), buffer.begin() + 1024), re(1024), im(1024), m(512);
        ReferenceTransform(1024, false, in.data(), nullptr, re.data(), im.data());
        double sum = 0;
        int positive = 0;
        for (int k = 0; k < 512; ++k) {
            m[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]) * 0.00390625;
            if (m[k] > 0) {
                sum += m[k];
                ++positive;
            }
        }
        magnitudes.push_back(m);
        means.push_back(positive ? sum / positive : std::nan(""));
    }

    RecordingTarget target;
    target.posted.reserve(buffers.size());
    CFft fft;
    fft.SetTarget(&target);
    std::vector<std::vector<double>> analysed(buffers.size(), std::vector<double>(512));
    const long allocationsBefore = g_allocations.load();
    for (size_t b = 0; b < buffers.size(); ++b) {
        fft.Analyse(buffers[b].data(), 4096);
        std::copy(fft.Magnitudes(), fft.Magnitudes() + 512, analysed[b].begin());
    }
    EXPECT_EQ(g_allocations.load(), allocationsBefore);
    for (size_t b = 0; b < buffers.size(); ++b)
        EXPECT_TRUE(SameBits(analysed[b].data(), magnitudes[b].data(), 512)) << "buffer " << b;

    ASSERT_EQ(target.posted.size(), buffers.size() / 2);
    for (size_t p = 0; p < target.posted.size(); ++p) {
        const double level = (means[2 * p] + means[2 * p + 1]) * 0.5;
        EXPECT_EQ(target.posted[p].second, std::isnan(level) ? WPARAM(0) : WPARAM(level)) << "pair " << p;
    }
    EXPECT_EQ(target.posted[1].second, 0u) << "the pair with the silent buffer";
}

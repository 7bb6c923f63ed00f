// Level analyser: a 1024-point transform of the start of each captured buffer;
// the mean magnitude of the lower half of the spectrum, averaged over two
// buffers, goes to the dialog as WM_RECORD_LEVEL.
#pragma once

#include <cstdint>

#include "message_target.h"
#include "wintypes.h"

class CFft {
public:
    static constexpr unsigned kSize = 1024;
    static constexpr unsigned kBins = 512;

    CFft();
    virtual ~CFft() = default;

    // Sets the level target (may be null) and starts the level from nothing.
    void SetTarget(IMessageTarget* window);

    // Analyses one buffer of 16-bit interleaved stereo PCM; reads the first 1024
    // values whatever `bytes` says (capture buffers always hold 2048). Posts a
    // level every second call.
    void Analyse(const int16_t* samples, DWORD bytes);

    // Radix-2 transform; does nothing unless count is a power of two of at least 2
    // and realIn, realOut and imagOut are given. imagIn may be null (all zero).
    // Forward: X[k] = sum x[n] e^(+2 pi i nk/N); inverse: negative exponent and 1/N.
    // The outputs must not overlap the inputs or each other.
    void Transform(unsigned count, BOOL inverse, const double* realIn, const double* imagIn, double* realOut,
                   double* imagOut);

    // The magnitudes of bins 0 to 511 of the last analysed buffer.
    const double* Magnitudes() const { return m_magnitudes; }

private:
    IMessageTarget* m_pTarget;
    int m_nCount;
    double m_dLevelSum;
    // Aligned so that the four-wide loads of the butterflies never straddle a cache line.
    alignas(64) double m_input[kSize];
    alignas(64) double m_outReal[kSize];
    alignas(64) double m_outImag[kSize];
    alignas(64) double m_magnitudes[kBins];
    // The twiddles of block sizes 2 to kSize as the recurrence yields them, those of
    // block size 2h from index h on (index 0 unused); for the forward transform
    // unless m_bTwiddlesInverse.
    alignas(64) double m_twiddleReal[kSize];
    alignas(64) double m_twiddleImag[kSize];
    bool m_bTwiddlesInverse;

    void MakeTwiddles(bool inverse);
};

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
    void Transform(unsigned count, BOOL inverse, const double* realIn, const double* imagIn, double* realOut,
                   double* imagOut);

    // The magnitudes of bins 0 to 511 of the last analysed buffer.
    const double* Magnitudes() const { return m_magnitudes; }

private:
    IMessageTarget* m_pTarget;
    int m_nCount;
    double m_dLevelSum;
    double m_input[kSize];
    double m_outReal[kSize];
    double m_outImag[kSize];
    double m_magnitudes[kBins];
    // Twiddles of one block size, produced by the recurrence.
    double m_twiddleReal[kSize / 2];
    double m_twiddleImag[kSize / 2];
};

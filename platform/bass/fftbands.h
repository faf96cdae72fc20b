#pragma once

// Magnitude spectrum of one fixed block of mono samples: Hann window, real FFT, scaled so
// that a full-scale sine centred on a bin gives 1.0 in that bin and silence gives 0.
// Planned once when constructed; Compute allocates nothing. One object serves one caller
// at a time.

struct fftwf_plan_s;

class TSpectrum {
public:
    static constexpr int SampleCount = 256;
    static constexpr int BinCount = SampleCount / 2;

    TSpectrum();
    ~TSpectrum();
    TSpectrum(const TSpectrum&) = delete;
    TSpectrum& operator=(const TSpectrum&) = delete;

    // Samples: SampleCount values, oldest first. Magnitudes: BinCount values, lowest
    // frequency first (bin k is centred on k * rate / SampleCount).
    void Compute(const float* Samples, float* Magnitudes);

private:
    float Window[SampleCount];
    float* Input = nullptr;       // SampleCount reals, FFTW-aligned
    float (*Output)[2] = nullptr; // BinCount + 1 complex values, FFTW-aligned
    fftwf_plan_s* Plan = nullptr;
};

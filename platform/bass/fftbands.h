#pragma once

// Magnitude spectrum of one fixed block of mono samples: Hann window, real FFT, scaled so
// that a full-scale sine centred on a bin gives 1.0 in that bin and silence gives 0.
// Tables are made once when constructed; Compute allocates nothing. One object serves one
// caller at a time.

class TSpectrum {
public:
    static constexpr int SampleCount = 256;
    static constexpr int BinCount = SampleCount / 2;

    TSpectrum();

    // Samples: SampleCount values, oldest first. Magnitudes: BinCount values, lowest
    // frequency first (bin k is centred on k * rate / SampleCount).
    void Compute(const float* Samples, float* Magnitudes);

private:
    // The real FFT of SampleCount values is a complex FFT of half as many: even samples as
    // real parts, odd ones as imaginary parts, untangled afterwards.
    static constexpr int HalfCount = SampleCount / 2;

    float Window[SampleCount];
    float CosTable[SampleCount / 2]; // cos and -sin of 2 pi k / SampleCount
    float SinTable[SampleCount / 2];
    unsigned char Reversed[HalfCount]; // bit-reversed index of each of the HalfCount points
    float Real[HalfCount];
    float Imaginary[HalfCount];
};

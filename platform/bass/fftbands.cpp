#include "fftbands.h"

#include <cmath>
#include <numbers>

TSpectrum::TSpectrum() {
    // The periodic Hann window: its sum is SampleCount / 2, so a sine of amplitude A centred
    // on a bin has |X| = A * SampleCount / 4 there.
    for (int I = 0; I < SampleCount; I++)
        Window[I] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * I / SampleCount));
    for (int K = 0; K < SampleCount / 2; K++) {
        CosTable[K] = static_cast<float>(std::cos(2.0 * std::numbers::pi * K / SampleCount));
        SinTable[K] = static_cast<float>(-std::sin(2.0 * std::numbers::pi * K / SampleCount));
    }
    for (int I = 0; I < HalfCount; I++) {
        int Bits = 0;
        for (int Rest = I, Width = HalfCount; Width > 1; Width /= 2, Rest /= 2) Bits = Bits * 2 + Rest % 2;
        Reversed[I] = static_cast<unsigned char>(Bits);
    }
}

void TSpectrum::Compute(const float* Samples, float* Magnitudes) {
    // z[n] = x[2n] + i x[2n+1], windowed, in bit-reversed order.
    for (int N = 0; N < HalfCount; N++) {
        Real[Reversed[N]] = Samples[2 * N] * Window[2 * N];
        Imaginary[Reversed[N]] = Samples[2 * N + 1] * Window[2 * N + 1];
    }
    // Radix-2 butterflies; the twiddle of a span of Size points is the table's entry at
    // a stride of SampleCount / Size.
    for (int Size = 2; Size <= HalfCount; Size *= 2) {
        const int Half = Size / 2, Stride = SampleCount / Size;
        for (int Start = 0; Start < HalfCount; Start += Size)
            for (int J = 0; J < Half; J++) {
                const float C = CosTable[J * Stride], S = SinTable[J * Stride];
                float& TopReal = Real[Start + J];
                float& TopImaginary = Imaginary[Start + J];
                float& BottomReal = Real[Start + J + Half];
                float& BottomImaginary = Imaginary[Start + J + Half];
                const float TurnedReal = BottomReal * C - BottomImaginary * S;
                const float TurnedImaginary = BottomReal * S + BottomImaginary * C;
                BottomReal = TopReal - TurnedReal;
                BottomImaginary = TopImaginary - TurnedImaginary;
                TopReal += TurnedReal;
                TopImaginary += TurnedImaginary;
            }
    }
    // With Z = FFT(z): E[k] = (Z[k] + conj Z[M-k]) / 2 is the even samples' transform,
    // O[k] = (Z[k] - conj Z[M-k]) / 2i the odd ones', and X[k] = E[k] + w^k O[k].
    constexpr float Scale = 4.0f / SampleCount;
    for (int K = 0; K < BinCount; K++) {
        const int Mirror = (HalfCount - K) % HalfCount;
        const float EvenReal = 0.5f * (Real[K] + Real[Mirror]);
        const float EvenImaginary = 0.5f * (Imaginary[K] - Imaginary[Mirror]);
        const float OddReal = 0.5f * (Imaginary[K] + Imaginary[Mirror]);
        const float OddImaginary = -0.5f * (Real[K] - Real[Mirror]);
        const float C = CosTable[K], S = SinTable[K];
        const float XReal = EvenReal + OddReal * C - OddImaginary * S;
        const float XImaginary = EvenImaginary + OddReal * S + OddImaginary * C;
        Magnitudes[K] = std::hypot(XReal, XImaginary) * Scale;
    }
}

#include "fftbands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>

namespace {

constexpr int N = TSpectrum::SampleCount;

struct TBlock {
    float Samples[N] = {};
    float Magnitudes[TSpectrum::BinCount];
};

// A sine whose frequency is Cycles periods per block, so Cycles = k is centred on bin k.
void FillSine(TBlock& Block, double Cycles, double Amplitude) {
    for (int I = 0; I < N; I++)
        Block.Samples[I] =
            static_cast<float>(Amplitude * std::sin(2 * std::numbers::pi * Cycles * I / N + 0.3));
}

TEST(Spectrum, FullScaleSineCentredOnABinGivesOne) {
    TSpectrum Spectrum;
    for (int Bin : {2, 6, 40, 126}) {
        TBlock Block;
        FillSine(Block, Bin, 1.0);
        Spectrum.Compute(Block.Samples, Block.Magnitudes);
        EXPECT_NEAR(Block.Magnitudes[Bin], 1.0f, 1e-4f) << "bin " << Bin;
        // The Hann window spreads a centred sine over its two neighbours at half height
        // and nowhere else.
        EXPECT_NEAR(Block.Magnitudes[Bin - 1], 0.5f, 1e-4f) << "bin " << Bin;
        EXPECT_NEAR(Block.Magnitudes[Bin + 1], 0.5f, 1e-4f) << "bin " << Bin;
        for (int K = 0; K < TSpectrum::BinCount; K++) {
            if (std::abs(K - Bin) > 1) {
                EXPECT_NEAR(Block.Magnitudes[K], 0.0f, 1e-4f) << "bin " << K;
            }
        }
    }
}

TEST(Spectrum, ScalesWithAmplitudeAndPeaksNearTheFrequency) {
    TSpectrum Spectrum;
    TBlock Block;
    FillSine(Block, 10, 0.25);
    Spectrum.Compute(Block.Samples, Block.Magnitudes);
    EXPECT_NEAR(Block.Magnitudes[10], 0.25f, 1e-4f);

    // 1000 Hz at 44100 Hz sits at bin 5.8: the peak is bin 6, a little below 1.
    FillSine(Block, 1000.0 * N / 44100, 1.0);
    Spectrum.Compute(Block.Samples, Block.Magnitudes);
    const auto* Peak = std::max_element(Block.Magnitudes, Block.Magnitudes + TSpectrum::BinCount);
    EXPECT_EQ(Peak - Block.Magnitudes, 6);
    EXPECT_GT(*Peak, 0.9f);
    EXPECT_LT(*Peak, 1.0f);
}

// The windowed block's magnitudes by the definition of the DFT, in double precision.
void DirectMagnitudes(const float* Samples, double* Magnitudes) {
    for (int K = 0; K < TSpectrum::BinCount; K++) {
        std::complex<double> Sum = 0;
        for (int I = 0; I < N; I++) {
            const double Window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * I / N);
            Sum += Samples[I] * Window * std::polar(1.0, -2 * std::numbers::pi * K * I / N);
        }
        Magnitudes[K] = std::abs(Sum) * 4 / N;
    }
}

TEST(Spectrum, MatchesTheDirectTransform) {
    TSpectrum Spectrum;
    std::mt19937 Generator(7);
    std::uniform_real_distribution<float> Level(-1.0f, 1.0f);
    TBlock Noise, Impulse, Constant, Nyquist;
    for (int I = 0; I < N; I++) {
        Noise.Samples[I] = Level(Generator);
        Constant.Samples[I] = 0.75f;
        Nyquist.Samples[I] = I % 2 ? -1.0f : 1.0f;
    }
    Impulse.Samples[N / 2] = 1.0f;
    for (TBlock* Block : {&Noise, &Impulse, &Constant, &Nyquist}) {
        Spectrum.Compute(Block->Samples, Block->Magnitudes);
        double Expected[TSpectrum::BinCount];
        DirectMagnitudes(Block->Samples, Expected);
        for (int K = 0; K < TSpectrum::BinCount; K++)
            EXPECT_NEAR(Block->Magnitudes[K], Expected[K], 2e-6) << "bin " << K;
    }
}

TEST(Spectrum, SilenceGivesZero) {
    TSpectrum Spectrum;
    TBlock Block;
    std::fill(std::begin(Block.Magnitudes), std::end(Block.Magnitudes), 7.0f);
    Spectrum.Compute(Block.Samples, Block.Magnitudes);
    for (float Magnitude : Block.Magnitudes) EXPECT_EQ(Magnitude, 0.0f);
}

TEST(Spectrum, LeavesTheSamplesAlone) {
    TSpectrum Spectrum;
    TBlock Block, Copy;
    FillSine(Block, 3, 0.5);
    Copy = Block;
    Spectrum.Compute(Block.Samples, Block.Magnitudes);
    EXPECT_TRUE(std::equal(std::begin(Block.Samples), std::end(Block.Samples), std::begin(Copy.Samples)));
}

} // namespace

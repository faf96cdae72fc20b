#include "fftbands.h"

#include <fftw3.h>

#include <cmath>
#include <mutex>

namespace {

// FFTW's planner is not thread-safe; executing distinct plans is.
std::mutex PlannerLock;

} // namespace

TSpectrum::TSpectrum() {
    // The periodic Hann window: its sum is SampleCount / 2, so a sine of amplitude A centred
    // on a bin has |X| = A * SampleCount / 4 there.
    for (int I = 0; I < SampleCount; I++)
        Window[I] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * I / SampleCount));
    std::lock_guard Guard(PlannerLock);
    Input = fftwf_alloc_real(SampleCount);
    Output = fftwf_alloc_complex(BinCount + 1);
    Plan = fftwf_plan_dft_r2c_1d(SampleCount, Input, Output, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
}

TSpectrum::~TSpectrum() {
    std::lock_guard Guard(PlannerLock);
    fftwf_destroy_plan(Plan);
    fftwf_free(Output);
    fftwf_free(Input);
}

void TSpectrum::Compute(const float* Samples, float* Magnitudes) {
    for (int I = 0; I < SampleCount; I++) Input[I] = Samples[I] * Window[I];
    fftwf_execute(Plan);
    constexpr float Scale = 4.0f / SampleCount;
    for (int K = 0; K < BinCount; K++) Magnitudes[K] = std::hypot(Output[K][0], Output[K][1]) * Scale;
}

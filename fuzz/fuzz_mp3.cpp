// MP3 data through the audio layer's decoder and spectrum, without an output device: the
// input is the music file, decoded to its end (the whole file and a region of it), each
// block of samples turned into a spectrum as the show asks for one.

#include "decoder.h"
#include "fuzzsupport.h"
#include "fftbands.h"

namespace {

// Decodes to the end; the position never falls and ends at the length.
void DecodeToEnd(TDecoder& Decoder, TSpectrum& Spectrum) {
    float Samples[TSpectrum::SampleCount * TDecoder::Channels];
    float Mono[TSpectrum::SampleCount] = {};
    float Magnitudes[TSpectrum::BinCount];
    uint64_t Position = 0;
    for (;;) {
        const int Frames = Decoder.Decode(Samples, TSpectrum::SampleCount);
        FUZZ_CHECK(Frames >= 0 && Frames <= TSpectrum::SampleCount);
        FUZZ_CHECK(Decoder.Position() >= Position && Decoder.Position() <= Decoder.Length());
        Position = Decoder.Position();
        if (Frames == 0) break;
        for (int Frame = 0; Frame < Frames; Frame++)
            Mono[Frame] = (Samples[2 * Frame] + Samples[2 * Frame + 1]) / 2;
        Spectrum.Compute(Mono, Magnitudes);
        for (float Magnitude : Magnitudes) FUZZ_CHECK(!(Magnitude < 0));
    }
    FUZZ_CHECK(Decoder.Position() == Decoder.Length());
    FUZZ_CHECK(Decoder.Decode(Samples, TSpectrum::SampleCount) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static TFuzzFile File;
    static TSpectrum Spectrum;
    File.Write(Data, Size);

    TDecoder Decoder;
    if (!Decoder.Open(File.Name().c_str(), 0, 0)) {
        FUZZ_CHECK(Decoder.Position() == 0 && Decoder.Length() == 0);
        return 0;
    }
    FUZZ_CHECK(Decoder.Length() == Size && Decoder.Position() == 0);
    DecodeToEnd(Decoder, Spectrum);

    // Again from the start, a little way.
    FUZZ_CHECK(Decoder.Rewind() && Decoder.Position() == 0);
    float Samples[TSpectrum::SampleCount * TDecoder::Channels];
    FUZZ_CHECK(Decoder.Decode(Samples, TSpectrum::SampleCount) >= 0);
    FUZZ_CHECK(Decoder.Position() <= Decoder.Length());

    // The middle half of the file, as a stream that starts inside a larger file.
    if (Size >= 8 && Decoder.Open(File.Name().c_str(), Size / 4, Size / 2)) {
        FUZZ_CHECK(Decoder.Length() == Size / 2);
        DecodeToEnd(Decoder, Spectrum);
    }
    return 0;
}

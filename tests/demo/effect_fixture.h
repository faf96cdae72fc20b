#pragma once

#include "bass_script.h"
#include "effect.h"
#include "glrecord.h"
#include "xrandom.h"

#include <gtest/gtest.h>

#include <string>

// The program path GetModuleFileNameA reports in these tests (see module_path_stub.cpp).
void SetProgramPath(const std::string& Path);

// The process generator's rule, written out again to predict its draws.
struct TReferenceRandom {
    uint32_t Seed;
    uint32_t Next(uint32_t Range) {
        Seed = Seed * 134775813u + 1u;
        return static_cast<uint32_t>((static_cast<uint64_t>(Seed) * Range) >> 32);
    }
};

class EffectTest : public testing::Test {
protected:
    void SetUp() override {
        ResetEffect();
        GLRecord::Reset();
        BassScript::Reset();
        SetProgramPath("/usr/local/bin/demo");
        SetRandomSeed(20240601);
    }

    static const TGridCell& Cell(int32_t Column, int32_t Row) { return Grid[Column + GridColumns * Row]; }

    static int32_t LitCells() {
        int32_t Count = 0;
        for (const TGridCell& C : Grid)
            if (C.R != 0 || C.G != 0 || C.B != 0) Count++;
        return Count;
    }

    static void SetParticle(int32_t Slot, uint8_t Kind, uint32_t Life, uint32_t Remaining, uint8_t Column,
                            uint8_t Row, float R = 1, float G = 1, float B = 1) {
        Particles[Slot] = {Life, Remaining, Kind, Column, Row, R, G, B};
    }

    static int32_t BusySlots() {
        int32_t Count = 0;
        for (const TParticle& P : Particles)
            if (P.Remaining != 0) Count++;
        return Count;
    }
};

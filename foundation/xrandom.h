#pragma once

#include <cstdint>

// The process-wide pseudo-random generator: a 32-bit linear congruential generator.
// Each draw first sets Seed = Seed * 134775813 + 1 (mod 2^32); Random(Range) is then the
// upper 32 bits of the 64-bit product Seed * Range, a number from 0 to Range - 1.
// Every operation is atomic, so several threads may draw at once.

uint32_t Random(uint32_t Range);

void SetRandomSeed(uint32_t Seed);
uint32_t GetRandomSeed();

// Seeds from the low 32 bits of a monotonic high-resolution counter.
void Randomize();

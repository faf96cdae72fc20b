#pragma once

#include <cstdint>

// The message record an application's worker stamps when the contents are ready, and the
// stamp itself.

class TXObject;

// Packed, so that it may lie at any address (a string property's storage).
#pragma pack(push, 1)
struct TXMessage {
    uint8_t Leading[136]; // left alone by the stamp
    uint32_t Time;        // GetTickCount at the stamp, in milliseconds
    TXObject* Sender;
    uint8_t Posted;
};
#pragma pack(pop)

// Sender, Time (GetTickCount) and Posted = 1 written into Record; nothing else is touched.
void StampMessage(TXMessage* Record, TXObject* Sender);

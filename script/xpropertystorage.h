#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

// The object model's property kinds and the layout of each kind's value in an object's
// storage. The script module (which reads and writes properties for scripts) and the object
// model (which owns them) both use these; neither needs the other for it.

// The kinds of an object's properties, and where each keeps its value.
enum TXPropertyKind : uint8_t {
    ptInteger = 0,  // a 32-bit signed integer
    ptFloat = 1,    // a 32-bit IEEE single
    ptBoolean = 2,  // one byte, 0 or 1
    ptString = 3,   // 256 bytes: a length byte and up to 255 characters
    ptObject = 4,   // no storage: the property's data is the child object
    ptFunction = 5, // a handler record of the object model
};

constexpr int32_t PropertyStringLength = 255;
constexpr int32_t PropertyStringSize = 256;

// Property storage may lie at any address (declared pieces are packed back to back), so
// values are moved with memcpy.
inline int32_t LoadPropertyInteger(const void* Data) {
    int32_t Value;
    std::memcpy(&Value, Data, sizeof Value);
    return Value;
}
inline void StorePropertyInteger(void* Data, int32_t Value) {
    std::memcpy(Data, &Value, sizeof Value);
}
inline float LoadPropertyFloat(const void* Data) {
    float Value;
    std::memcpy(&Value, Data, sizeof Value);
    return Value;
}
inline void StorePropertyFloat(void* Data, float Value) {
    std::memcpy(Data, &Value, sizeof Value);
}
inline bool LoadPropertyBoolean(const void* Data) {
    return *static_cast<const uint8_t*>(Data) != 0;
}
inline void StorePropertyBoolean(void* Data, bool Value) {
    *static_cast<uint8_t*>(Data) = Value ? 1 : 0;
}
inline std::string_view LoadPropertyString(const void* Data) {
    const auto* Bytes = static_cast<const char*>(Data);
    return {Bytes + 1, static_cast<uint8_t>(Bytes[0])};
}
// Keeps the first 255 characters. Text may view the stored characters themselves.
inline void StorePropertyString(void* Data, std::string_view Text) {
    auto* Bytes = static_cast<char*>(Data);
    size_t Length = Text.size() < size_t(PropertyStringLength) ? Text.size() : size_t(PropertyStringLength);
    std::memmove(Bytes + 1, Text.data(), Length);
    Bytes[0] = static_cast<char>(static_cast<uint8_t>(Length));
}

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// The one value type of the script language, its conversions and its operators.

class TXObject;
class TXScriptObjectFunction;

// A run-time fault of a script (integer division or remainder by zero, or of the
// smallest integer by -1, or a text grown past MaxScriptTextLength). The interpreter
// catches it and ends the running function.
class TXScriptFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The longest text a script value holds (64 KiB, so that the 4096 values of a script's
// stack stay within 256 MiB). Making a longer one (a concatenation, an append, a text set
// from outside) raises TXScriptFault and leaves the value as it was.
constexpr size_t MaxScriptTextLength = size_t{64} << 10;

// Reference-counted, copy-on-write byte string. The empty text holds no buffer, so an
// empty handle is one null pointer and copying it costs nothing. Copies share one buffer;
// a write to a shared buffer first makes a private one. The characters are followed by a
// 0 byte. A buffer's handles live on one thread at a time (a script's values stay in its
// host's stack), so its count changes without locked instructions; a text that handles on
// several threads may hold at once (a constant of decoded code) is made shared first, and
// its buffer is counted with atomic operations from then on.
class TXScriptText {
public:
    TXScriptText() noexcept = default;
    TXScriptText(std::string_view Text) { Assign(Text); }
    TXScriptText(const TXScriptText& Other) noexcept : Buffer(Other.Buffer) { Retain(); }
    TXScriptText(TXScriptText&& Other) noexcept : Buffer(Other.Buffer) { Other.Buffer = nullptr; }
    ~TXScriptText() { Release(); }

    TXScriptText& operator=(const TXScriptText& Other) noexcept {
        if (Buffer != Other.Buffer) {
            Other.Retain();
            Release();
            Buffer = Other.Buffer;
        }
        return *this;
    }
    TXScriptText& operator=(TXScriptText&& Other) noexcept {
        if (this != &Other) {
            Release();
            Buffer = Other.Buffer;
            Other.Buffer = nullptr;
        }
        return *this;
    }
    TXScriptText& operator=(std::string_view Text) {
        Assign(Text);
        return *this;
    }

    size_t Length() const { return Buffer ? Buffer->Length : 0; }
    bool Empty() const { return Buffer == nullptr; }
    const char* Data() const { return Buffer ? Buffer->Chars() : ""; }
    std::string_view View() const { return {Data(), Length()}; }
    operator std::string_view() const { return View(); }
    std::string ToString() const { return std::string(View()); }

    static TXScriptText Join(std::string_view First, std::string_view Second);

    // Text may view this handle's own characters.
    void Assign(std::string_view Text);
    void Append(std::string_view Text);
    void Clear() noexcept { Release(); }

    // Number of handles sharing the buffer; 0 for the empty text.
    uint32_t ShareCount() const {
        return Buffer ? Buffer->RefCount.load(std::memory_order_relaxed) & ~SharedBit : 0;
    }
    // From now on handles on other threads may share this text's buffer. Call it before the
    // text can be seen by another thread.
    void MakeShared() noexcept {
        if (Buffer) Buffer->RefCount.fetch_or(SharedBit, std::memory_order_relaxed);
    }
    bool Shared() const { return Buffer && (Buffer->RefCount.load(std::memory_order_relaxed) & SharedBit); }

    friend bool operator==(const TXScriptText& Left, std::string_view Right) { return Left.View() == Right; }

private:
    // In the count: the buffer is counted atomically.
    static constexpr uint32_t SharedBit = 0x80000000u;

    struct TBuffer {
        // Plain loads and stores count a thread's own buffer; read-modify-write operations
        // count a shared one.
        std::atomic<uint32_t> RefCount;
        uint32_t Length;
        uint32_t Capacity;
        char* Chars() { return reinterpret_cast<char*>(this + 1); }
    };

    void Retain() const noexcept {
        if (!Buffer) return;
        uint32_t Count = Buffer->RefCount.load(std::memory_order_relaxed);
        if (Count & SharedBit) [[unlikely]]
            Buffer->RefCount.fetch_add(1, std::memory_order_relaxed);
        else
            Buffer->RefCount.store(Count + 1, std::memory_order_relaxed);
    }
    void Release() noexcept {
        if (!Buffer) return;
        uint32_t Count = Buffer->RefCount.load(std::memory_order_relaxed);
        if (Count & SharedBit) [[unlikely]]
            ReleaseShared();
        else if (Count == 1)
            FreeBuffer(Buffer);
        else
            Buffer->RefCount.store(Count - 1, std::memory_order_relaxed);
        Buffer = nullptr;
    }
    void ReleaseShared() noexcept;
    static void FreeBuffer(TBuffer* Freed) noexcept;
    bool Unique() const {
        if (!Buffer) return false;
        uint32_t Count = Buffer->RefCount.load(std::memory_order_relaxed);
        if (Count == 1) return true;
        return Count == (SharedBit | 1) &&
               Buffer->RefCount.load(std::memory_order_acquire) == (SharedBit | 1);
    }
    static TBuffer* NewBuffer(size_t Capacity);

    TBuffer* Buffer = nullptr;
};

// The value kinds, in the order of the kind field's values.
enum TXScriptKind : uint8_t {
    vkString = 0,
    vkInteger = 1,
    vkFloat = 2,
    vkObject = 3,
    vkFunction = 4,
};

// Room for the text of an integer or a float (the longest is 21 characters).
struct TXScriptTextScratch {
    char Chars[32];
};

// Object and function names live in modules above this one; they register a reader at
// start-up. A reader returns false when it cannot give the name. Without a reader, or with
// a null reference, the name reads as "undefined".
using TXObjectNameReader = bool (*)(const TXObject* Object, std::string_view& Name);
using TXFunctionNameReader = bool (*)(const TXScriptObjectFunction* Function, std::string_view& Name);
void SetObjectNameReader(TXObjectNameReader Reader);
void SetFunctionNameReader(TXFunctionNameReader Reader);

// 32-bit integer arithmetic with wrap-around.
inline int32_t IntegerAdd(int32_t Left, int32_t Right) {
    return static_cast<int32_t>(static_cast<uint32_t>(Left) + static_cast<uint32_t>(Right));
}
inline int32_t IntegerSubtract(int32_t Left, int32_t Right) {
    return static_cast<int32_t>(static_cast<uint32_t>(Left) - static_cast<uint32_t>(Right));
}
inline int32_t IntegerMultiply(int32_t Left, int32_t Right) {
    return static_cast<int32_t>(static_cast<uint32_t>(Left) * static_cast<uint32_t>(Right));
}
inline bool IntegerDivisionFaults(int32_t Left, int32_t Right) {
    return Right == 0 || (Right == -1 && Left == INT32_MIN);
}
// Truncating division and the remainder with the dividend's sign; both raise TXScriptFault
// for a zero divisor and for the smallest integer by -1.
int32_t IntegerDivide(int32_t Left, int32_t Right);
int32_t IntegerModulo(int32_t Left, int32_t Right);

// The float remainder, for Modulo and for %= on float properties: Left - Q * Right, where Q is
// Left / Right rounded to the nearest integer, ties to even (the IEEE remainder, so the result
// lies between -|Right|/2 and |Right|/2: 7.5 % 2 = -0.5, 5 % 2 = 1). The product and the
// difference are formed with one rounding, then rounded to single. A zero divisor, an infinite
// Left, a NaN, or a quotient beyond the 64-bit range gives NaN; a finite Left % infinity is Left.
float FloatModulo(float Left, float Right);

// Text conversions, independent of the locale. The integer parse takes optional leading
// blanks, an optional sign, then decimal digits or a hexadecimal prefix ($, x, X, 0x, 0X)
// with hexadecimal digits; nothing may follow, and the value must fit in 32 signed bits.
// The float parse takes optional leading blanks, an optional sign, decimal digits with at most
// one period (at least one digit), and an optional exponent (E or e, optional sign, digits);
// the value is rounded once to single; beyond the single range it fails, below it gives 0.
bool ParseScriptInteger(std::string_view Text, int32_t& Value);
bool ParseScriptFloat(std::string_view Text, float& Value);
// Decimal digits with a leading '-' for negative values.
std::string_view FormatScriptInteger(int32_t Value, TXScriptTextScratch& Scratch);
// 15 significant digits of the value widened exactly to double, trailing zeros removed; plain
// notation for magnitudes from 0.00001 with at most 15 integer digits, else d.dddE[-]x (no '+',
// no leading zeros in the exponent). Zero of either sign is "0"; the others are "INF", "-INF"
// and "NAN".
std::string_view FormatScriptFloat(float Value, TXScriptTextScratch& Scratch);

// A script value: a plain record whose kind says which payload field holds the value.
// All-zero is the empty string. Setters and operations empty text whenever the kind they
// leave is not string; the other payload fields keep stale contents and mean nothing.
// Two-operand operations update this value (the left operand) in place from Right, which is
// only read (Right may be this same value).
struct TXScriptVariable {
    TXScriptKind kind = vkString;
    TXScriptText text;
    int32_t intValue = 0;
    float floatValue = 0;
    void* reference = nullptr; // a TXObject or a TXScriptObjectFunction; not owned

    static TXScriptVariable FromInteger(int32_t Value);
    static TXScriptVariable FromFloat(float Value);
    static TXScriptVariable FromText(std::string_view Text, bool DetectNumber = false);

    void SetInteger(int32_t Value) {
        kind = vkInteger;
        intValue = Value;
        text.Clear();
    }
    void SetFloat(float Value) {
        kind = vkFloat;
        floatValue = Value;
        text.Clear();
    }
    void SetObject(TXObject* Object);
    void SetFunction(TXScriptObjectFunction* Function);
    // With DetectNumber, text of digits (with 0x, or with one period) becomes an integer or
    // a float; anything else, and text that does not parse, stays a string. Text may view
    // this value's own text. The second form takes over the buffer when the value stays a string.
    void SetFromText(std::string_view Text, bool DetectNumber);
    void SetFromText(TXScriptText Text, bool DetectNumber);

    int32_t AsInteger() const { return kind == vkInteger ? intValue : ConvertToInteger(); }
    float AsFloat() const {
        if (kind == vkFloat) return floatValue;
        return kind == vkInteger ? static_cast<float>(intValue) : ConvertToFloat();
    }
    TXScriptText AsText() const;
    // The text without building a string: a view of text, of an object's or function's
    // name, or of the number written into Scratch.
    std::string_view ViewText(TXScriptTextScratch& Scratch) const;
    // The referred object, or null when the kind is another.
    TXObject* AsObject() const;

    void MakeNumeric();
    void Negate();
    void BitNot();

    void Add(const TXScriptVariable& Right) {
        if (kind == vkInteger && Right.kind == vkInteger)
            intValue = IntegerAdd(intValue, Right.intValue);
        else
            AddMixed(Right);
    }
    void Subtract(const TXScriptVariable& Right);
    void Multiply(const TXScriptVariable& Right);
    void Divide(const TXScriptVariable& Right);
    // Raises TXScriptFault for an integer left operand and a zero divisor (or the smallest
    // integer by -1).
    void Modulo(const TXScriptVariable& Right);
    void BitAnd(const TXScriptVariable& Right);
    void BitOr(const TXScriptVariable& Right);
    void BitXor(const TXScriptVariable& Right);
    void ShiftLeft(const TXScriptVariable& Right);
    void ShiftRight(const TXScriptVariable& Right);
    // Comparisons leave integer 1 or 0.
    void Equal(const TXScriptVariable& Right) {
        if (kind == vkInteger && Right.kind == vkInteger)
            intValue = intValue == Right.intValue;
        else
            SetInteger(IsEqualTo(Right));
    }
    void Less(const TXScriptVariable& Right) { SetInteger(AsFloat() < Right.AsFloat()); }
    void LessOrEqual(const TXScriptVariable& Right) { SetInteger(AsFloat() <= Right.AsFloat()); }
    void Greater(const TXScriptVariable& Right) { SetInteger(AsFloat() > Right.AsFloat()); }
    void GreaterOrEqual(const TXScriptVariable& Right) { SetInteger(AsFloat() >= Right.AsFloat()); }

    // Equal's rule without changing the value.
    bool IsEqualTo(const TXScriptVariable& Right) const;

private:
    int32_t ConvertToInteger() const;
    float ConvertToFloat() const;
    void AddMixed(const TXScriptVariable& Right);
};

#include "xscriptvariable.h"

#include "xlogging.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr std::string_view UndefinedName = "undefined";
constexpr size_t MaxTextLength = MaxScriptTextLength;
constexpr double Int64Limit = 9223372036854775808.0; // 2^63

std::atomic<TXObjectNameReader> ObjectNameReader{nullptr};
std::atomic<TXFunctionNameReader> FunctionNameReader{nullptr};

bool IsDecimalDigit(char C) {
    return C >= '0' && C <= '9';
}
bool IsBlank(char C) {
    return C == ' ' || C == '\t';
}

int HexDigitValue(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    return -1;
}

size_t SkipBlanks(std::string_view Text, size_t Index) {
    while (Index < Text.size() && IsBlank(Text[Index])) Index++;
    return Index;
}

// Rounds to the nearest integer, ties to even, and keeps the low 32 bits; 0 for a NaN, an
// infinity or a value beyond the 64-bit range.
int32_t RoundToInteger(float Value) {
    double Rounded = std::nearbyint(static_cast<double>(Value));
    if (!(Rounded >= -Int64Limit && Rounded < Int64Limit)) return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(Rounded)));
}

template <typename TReader, typename TTarget>
std::string_view ReadName(const std::atomic<TReader>& Reader, const TTarget* Target) {
    TReader Read = Reader.load(std::memory_order_acquire);
    std::string_view Name;
    if (Target && Read && Read(Target, Name)) return Name;
    return UndefinedName;
}

enum class TDetectedKind { Text, Integer, Float };

TDetectedKind DetectNumber(std::string_view Text) {
    if (Text.empty()) return TDetectedKind::Text;
    TDetectedKind Kind = TDetectedKind::Integer;
    for (size_t Index = 0; Index < Text.size(); Index++) {
        char C = Text[Index];
        if (IsDecimalDigit(C)) continue;
        if (C == 'x' && Index == 1 && Kind == TDetectedKind::Integer) continue;
        if (C == '.' && Index >= 1 && Kind == TDetectedKind::Integer) {
            Kind = TDetectedKind::Float;
            continue;
        }
        return TDetectedKind::Text;
    }
    return Kind;
}

// Below-range text whose long double parse also fails: an explicit negative exponent, or
// no non-zero digit before the period.
bool IsUnderflow(std::string_view Number) {
    size_t Exponent = Number.find_first_of("eE");
    if (Exponent != std::string_view::npos && Exponent + 1 < Number.size() && Number[Exponent + 1] == '-')
        return true;
    for (char C : Number.substr(0, std::min(Number.find('.'), Exponent))) {
        if (C != '0') return false;
    }
    return true;
}

} // namespace

// ---- TXScriptText ----

void TXScriptText::ReleaseShared() noexcept {
    if (Buffer->RefCount.fetch_sub(1, std::memory_order_acq_rel) == (SharedBit | 1)) FreeBuffer(Buffer);
}

void TXScriptText::FreeBuffer(TBuffer* Freed) noexcept {
    Freed->~TBuffer();
    ::operator delete(Freed);
}

TXScriptText::TBuffer* TXScriptText::NewBuffer(size_t Capacity) {
    if (Capacity > MaxTextLength) throw TXScriptFault("script text too long");
    void* Memory = ::operator new(sizeof(TBuffer) + Capacity + 1);
    auto* Made = new (Memory) TBuffer;
    Made->RefCount.store(1, std::memory_order_relaxed);
    Made->Length = 0;
    Made->Capacity = static_cast<uint32_t>(Capacity);
    return Made;
}

TXScriptText TXScriptText::Join(std::string_view First, std::string_view Second) {
    TXScriptText Joined;
    size_t Length = First.size() + Second.size();
    if (Length == 0) return Joined;
    Joined.Buffer = NewBuffer(Length);
    char* Chars = Joined.Buffer->Chars();
    if (!First.empty()) std::memcpy(Chars, First.data(), First.size());
    if (!Second.empty()) std::memcpy(Chars + First.size(), Second.data(), Second.size());
    Chars[Length] = 0;
    Joined.Buffer->Length = static_cast<uint32_t>(Length);
    return Joined;
}

void TXScriptText::Assign(std::string_view Text) {
    if (Text.empty()) {
        Clear();
        return;
    }
    // A private buffer of about the right size is reused; Text may lie inside it.
    if (Unique() && Buffer->Capacity >= Text.size() && Buffer->Capacity / 2 <= Text.size() + 16) {
        std::memmove(Buffer->Chars(), Text.data(), Text.size());
        Buffer->Length = static_cast<uint32_t>(Text.size());
        Buffer->Chars()[Text.size()] = 0;
        return;
    }
    TXScriptText Copy = Join(Text, {});
    *this = std::move(Copy);
}

void TXScriptText::Append(std::string_view Text) {
    if (Text.empty()) return;
    size_t OldLength = Length();
    if (Text.size() > MaxTextLength - OldLength) throw TXScriptFault("script text too long");
    size_t NewLength = OldLength + Text.size();
    if (Unique() && Buffer->Capacity >= NewLength) {
        std::memmove(Buffer->Chars() + OldLength, Text.data(), Text.size());
    } else {
        // A private buffer grows by half again, so appending in a loop stays linear.
        size_t Capacity = NewLength;
        if (Unique()) Capacity = std::min(MaxTextLength, std::max(NewLength, OldLength + OldLength / 2 + 16));
        TBuffer* Grown = NewBuffer(Capacity);
        if (OldLength) std::memcpy(Grown->Chars(), Buffer->Chars(), OldLength);
        std::memcpy(Grown->Chars() + OldLength, Text.data(), Text.size()); // Text may be ours: copy first
        Release();
        Buffer = Grown;
    }
    Buffer->Length = static_cast<uint32_t>(NewLength);
    Buffer->Chars()[NewLength] = 0;
}

// ---- Name readers, arithmetic and text conversions ----

void SetObjectNameReader(TXObjectNameReader Reader) {
    ObjectNameReader.store(Reader, std::memory_order_release);
}

void SetFunctionNameReader(TXFunctionNameReader Reader) {
    FunctionNameReader.store(Reader, std::memory_order_release);
}

int32_t IntegerDivide(int32_t Left, int32_t Right) {
    if (Right == 0) throw TXScriptFault("integer division by zero");
    if (IntegerDivisionFaults(Left, Right)) throw TXScriptFault("integer division overflow");
    return Left / Right;
}

int32_t IntegerModulo(int32_t Left, int32_t Right) {
    if (Right == 0) throw TXScriptFault("integer remainder by zero");
    if (IntegerDivisionFaults(Left, Right)) throw TXScriptFault("integer remainder overflow");
    return Left % Right;
}

float FloatModulo(float Left, float Right) {
    double Dividend = Left, Divisor = Right;
    if (std::isinf(Divisor) && std::isfinite(Dividend)) return Left;
    double Quotient = std::nearbyint(Dividend / Divisor);
    if (!(Quotient >= -Int64Limit && Quotient < Int64Limit)) return std::numeric_limits<float>::quiet_NaN();
    return static_cast<float>(std::fma(-Quotient, Divisor, Dividend));
}

bool ParseScriptInteger(std::string_view Text, int32_t& Value) {
    size_t Index = SkipBlanks(Text, 0);
    bool Negative = false;
    if (Index < Text.size() && (Text[Index] == '+' || Text[Index] == '-')) {
        Negative = Text[Index] == '-';
        Index++;
    }
    uint32_t Base = 10;
    std::string_view Rest = Text.substr(Index);
    if (Rest.starts_with('$') || Rest.starts_with('x') || Rest.starts_with('X')) {
        Base = 16;
        Index += 1;
    } else if (Rest.starts_with("0x") || Rest.starts_with("0X")) {
        Base = 16;
        Index += 2;
    }
    if (Index >= Text.size()) return false;
    uint64_t Magnitude = 0;
    for (; Index < Text.size(); Index++) {
        int Digit = HexDigitValue(Text[Index]);
        if (Digit < 0 || static_cast<uint32_t>(Digit) >= Base) return false;
        Magnitude = Magnitude * Base + static_cast<uint32_t>(Digit);
        if (Magnitude > 0x80000000u) return false;
    }
    if (!Negative && Magnitude > 0x7FFFFFFFu) return false;
    uint32_t Bits = static_cast<uint32_t>(Magnitude);
    Value = static_cast<int32_t>(Negative ? 0u - Bits : Bits);
    return true;
}

bool ParseScriptFloat(std::string_view Text, float& Value) {
    size_t Index = SkipBlanks(Text, 0);
    bool Negative = false;
    if (Index < Text.size() && (Text[Index] == '+' || Text[Index] == '-')) {
        Negative = Text[Index] == '-';
        Index++;
    }
    size_t Start = Index, Digits = 0;
    auto SkipDigits = [&] {
        while (Index < Text.size() && IsDecimalDigit(Text[Index])) {
            Index++;
            Digits++;
        }
    };
    SkipDigits();
    if (Index < Text.size() && Text[Index] == '.') {
        Index++;
        SkipDigits();
    }
    if (Digits == 0) return false;
    if (Index < Text.size() && (Text[Index] == 'e' || Text[Index] == 'E')) {
        Index++;
        if (Index < Text.size() && (Text[Index] == '+' || Text[Index] == '-')) Index++;
        size_t ExponentStart = Index;
        while (Index < Text.size() && IsDecimalDigit(Text[Index])) Index++;
        if (Index == ExponentStart) return false;
    }
    if (Index != Text.size()) return false;

    std::string_view Number = Text.substr(Start);
    const char* End = Number.data() + Number.size();
    float Parsed = 0;
    auto Result = std::from_chars(Number.data(), End, Parsed, std::chars_format::general);
    if (Result.ec == std::errc::result_out_of_range) {
        // Too large fails; too small rounds towards zero.
        long double Wide = 0;
        auto WideResult = std::from_chars(Number.data(), End, Wide, std::chars_format::general);
        if (WideResult.ec == std::errc() && WideResult.ptr == End) {
            if (Wide > std::numeric_limits<float>::max()) return false;
            Parsed = static_cast<float>(Wide);
        } else if (IsUnderflow(Number)) {
            Parsed = 0;
        } else {
            return false;
        }
    } else if (Result.ec != std::errc() || Result.ptr != End) {
        return false;
    }
    Value = Negative ? -Parsed : Parsed;
    return true;
}

std::string_view FormatScriptInteger(int32_t Value, TXScriptTextScratch& Scratch) {
    auto Result = std::to_chars(Scratch.Chars, Scratch.Chars + sizeof Scratch.Chars, Value);
    return {Scratch.Chars, static_cast<size_t>(Result.ptr - Scratch.Chars)};
}

std::string_view FormatScriptFloat(float Value, TXScriptTextScratch& Scratch) {
    if (std::isnan(Value)) return "NAN";
    if (std::isinf(Value)) return Value > 0 ? "INF" : "-INF";
    if (Value == 0) return "0";

    // d.dddddddddddddde[+-]x: 15 significant digits, correctly rounded.
    char Scientific[32];
    auto Result = std::to_chars(Scientific, Scientific + sizeof Scientific,
                                std::fabs(static_cast<double>(Value)), std::chars_format::scientific, 14);
    std::string_view Written(Scientific, static_cast<size_t>(Result.ptr - Scientific));
    size_t ExponentAt = Written.find('e');
    char Digits[15];
    size_t DigitCount = 0;
    for (char C : Written.substr(0, ExponentAt)) {
        if (IsDecimalDigit(C)) Digits[DigitCount++] = C;
    }
    while (DigitCount > 1 && Digits[DigitCount - 1] == '0') DigitCount--;
    int Exponent = 0;
    std::string_view ExponentText = Written.substr(ExponentAt + 1);
    if (ExponentText.starts_with('+')) ExponentText.remove_prefix(1);
    std::from_chars(ExponentText.data(), ExponentText.data() + ExponentText.size(), Exponent);

    char* Out = Scratch.Chars;
    if (Value < 0) *Out++ = '-';
    if (Exponent >= -5 && Exponent <= 14) {
        if (Exponent < 0) {
            *Out++ = '0';
            *Out++ = '.';
            for (int Zero = 0; Zero < -Exponent - 1; Zero++) *Out++ = '0';
            for (size_t Digit = 0; Digit < DigitCount; Digit++) *Out++ = Digits[Digit];
        } else {
            size_t IntegerDigits = static_cast<size_t>(Exponent) + 1;
            for (size_t Digit = 0; Digit < IntegerDigits; Digit++)
                *Out++ = Digit < DigitCount ? Digits[Digit] : '0';
            if (DigitCount > IntegerDigits) {
                *Out++ = '.';
                for (size_t Digit = IntegerDigits; Digit < DigitCount; Digit++) *Out++ = Digits[Digit];
            }
        }
    } else {
        *Out++ = Digits[0];
        if (DigitCount > 1) {
            *Out++ = '.';
            for (size_t Digit = 1; Digit < DigitCount; Digit++) *Out++ = Digits[Digit];
        }
        *Out++ = 'E';
        Out = std::to_chars(Out, Scratch.Chars + sizeof Scratch.Chars, Exponent).ptr;
    }
    return {Scratch.Chars, static_cast<size_t>(Out - Scratch.Chars)};
}

// ---- TXScriptVariable ----

TXScriptVariable TXScriptVariable::FromInteger(int32_t Value) {
    TXScriptVariable Made;
    Made.SetInteger(Value);
    return Made;
}

TXScriptVariable TXScriptVariable::FromFloat(float Value) {
    TXScriptVariable Made;
    Made.SetFloat(Value);
    return Made;
}

TXScriptVariable TXScriptVariable::FromText(std::string_view Text, bool DetectNumber) {
    TXScriptVariable Made;
    Made.SetFromText(Text, DetectNumber);
    return Made;
}

void TXScriptVariable::SetObject(TXObject* Object) {
    kind = vkObject;
    reference = Object;
    text.Clear();
}

void TXScriptVariable::SetFunction(TXScriptObjectFunction* Function) {
    kind = vkFunction;
    reference = Function;
    text.Clear();
}

void TXScriptVariable::SetFromText(std::string_view Text, bool DetectNumber) {
    TDetectedKind Kind = DetectNumber ? ::DetectNumber(Text) : TDetectedKind::Text;
    if (Kind == TDetectedKind::Integer) {
        int32_t Parsed;
        if (ParseScriptInteger(Text, Parsed)) {
            SetInteger(Parsed);
            return;
        }
    } else if (Kind == TDetectedKind::Float) {
        float Parsed;
        if (ParseScriptFloat(Text, Parsed)) {
            SetFloat(Parsed);
            return;
        }
    }
    text.Assign(Text); // a text that is too long leaves the value as it was
    kind = vkString;
}

void TXScriptVariable::SetFromText(TXScriptText Text, bool DetectNumber) {
    SetFromText(Text.View(), DetectNumber);
    if (kind == vkString) text = std::move(Text);
}

int32_t TXScriptVariable::ConvertToInteger() const {
    int32_t Parsed = 0;
    switch (kind) {
    case vkInteger: return intValue;
    case vkFloat: return RoundToInteger(floatValue);
    case vkString: return ParseScriptInteger(text, Parsed) ? Parsed : 0;
    default: return 0;
    }
}

float TXScriptVariable::ConvertToFloat() const {
    float Parsed = 0;
    switch (kind) {
    case vkInteger: return static_cast<float>(intValue);
    case vkFloat: return floatValue;
    case vkString: return !text.Empty() && ParseScriptFloat(text, Parsed) ? Parsed : 0;
    default: return 0;
    }
}

std::string_view TXScriptVariable::ViewText(TXScriptTextScratch& Scratch) const {
    switch (kind) {
    case vkString: return text.View();
    case vkInteger: return FormatScriptInteger(intValue, Scratch);
    case vkFloat: return FormatScriptFloat(floatValue, Scratch);
    case vkObject: return ReadName(ObjectNameReader, static_cast<const TXObject*>(reference));
    case vkFunction:
        return ReadName(FunctionNameReader, static_cast<const TXScriptObjectFunction*>(reference));
    default: return UndefinedName;
    }
}

TXScriptText TXScriptVariable::AsText() const {
    if (kind == vkString) return text;
    TXScriptTextScratch Scratch;
    return TXScriptText(ViewText(Scratch));
}

TXObject* TXScriptVariable::AsObject() const {
    return kind == vkObject ? static_cast<TXObject*>(reference) : nullptr;
}

void TXScriptVariable::MakeNumeric() {
    if (kind == vkString)
        SetInteger(ConvertToInteger());
    else if (kind != vkInteger && kind != vkFloat)
        LogLine(5, "cannot make an object/function variable numeric :S");
}

void TXScriptVariable::Negate() {
    switch (kind) {
    case vkString: SetInteger(IntegerSubtract(0, ConvertToInteger())); break;
    case vkInteger: intValue = IntegerSubtract(0, intValue); break;
    case vkFloat: floatValue = -floatValue; break;
    default: LogLine(5, "cannot make an object/function variable numeric and negate that :o"); break;
    }
}

void TXScriptVariable::BitNot() {
    SetInteger(~AsInteger());
}

void TXScriptVariable::AddMixed(const TXScriptVariable& Right) {
    if (kind == vkString || Right.kind == vkString) {
        TXScriptTextScratch RightScratch;
        std::string_view RightText = Right.ViewText(RightScratch);
        if (kind == vkString) {
            text.Append(RightText); // safe when Right is this value
            return;
        }
        TXScriptTextScratch LeftScratch;
        text = TXScriptText::Join(ViewText(LeftScratch), RightText);
        kind = vkString;
    } else if (kind == vkFloat || Right.kind == vkFloat) {
        SetFloat(AsFloat() + Right.AsFloat());
    } else if (kind == vkInteger && Right.kind == vkInteger) {
        intValue = IntegerAdd(intValue, Right.intValue);
    } else {
        TXScriptTextScratch LeftScratch, RightScratch;
        SetFromText(TXScriptText::Join(ViewText(LeftScratch), Right.ViewText(RightScratch)), true);
    }
}

void TXScriptVariable::Subtract(const TXScriptVariable& Right) {
    if (Right.kind == vkInteger)
        SetInteger(IntegerSubtract(AsInteger(), Right.intValue));
    else if (Right.kind == vkFloat)
        SetFloat(AsFloat() - Right.floatValue);
}

void TXScriptVariable::Multiply(const TXScriptVariable& Right) {
    if (Right.kind == vkInteger)
        SetInteger(IntegerMultiply(AsInteger(), Right.intValue));
    else if (Right.kind == vkFloat)
        SetFloat(AsFloat() * Right.floatValue);
}

void TXScriptVariable::Divide(const TXScriptVariable& Right) {
    if (Right.kind == vkInteger) {
        int32_t Left = AsInteger(), Divisor = Right.intValue;
        if (!IntegerDivisionFaults(Left, Divisor)) // a faulting division leaves the value as it is
            SetInteger(Left / Divisor);
    } else if (Right.kind == vkFloat) {
        SetFloat(AsFloat() / Right.floatValue);
    }
}

void TXScriptVariable::Modulo(const TXScriptVariable& Right) {
    if (kind == vkInteger)
        intValue = IntegerModulo(intValue, Right.AsInteger());
    else if (kind == vkFloat)
        floatValue = FloatModulo(floatValue, Right.AsFloat());
    else
        LogLine(4, "target object is not numeric, cannot MOD");
}

void TXScriptVariable::BitAnd(const TXScriptVariable& Right) {
    SetInteger(AsInteger() & Right.AsInteger());
}

void TXScriptVariable::BitOr(const TXScriptVariable& Right) {
    SetInteger(AsInteger() | Right.AsInteger());
}

void TXScriptVariable::BitXor(const TXScriptVariable& Right) {
    SetInteger(AsInteger() ^ Right.AsInteger());
}

void TXScriptVariable::ShiftLeft(const TXScriptVariable& Right) {
    uint32_t Shifted = static_cast<uint32_t>(AsInteger()) << (Right.AsInteger() & 31);
    SetInteger(static_cast<int32_t>(Shifted));
}

void TXScriptVariable::ShiftRight(const TXScriptVariable& Right) {
    uint32_t Shifted = static_cast<uint32_t>(AsInteger()) >> (Right.AsInteger() & 31);
    SetInteger(static_cast<int32_t>(Shifted));
}

bool TXScriptVariable::IsEqualTo(const TXScriptVariable& Right) const {
    switch (kind) {
    case vkString: {
        TXScriptTextScratch Scratch;
        return text.View() == Right.ViewText(Scratch);
    }
    case vkInteger: return intValue == Right.AsInteger();
    case vkFloat:
        return std::fabs(static_cast<long double>(floatValue) - static_cast<long double>(Right.AsFloat())) <
               1e-4L;
    case vkObject:
    case vkFunction: return Right.kind == kind && Right.reference == reference;
    default: return false;
    }
}

#include "xlogging.h"
#include "xscriptvariable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using V = TXScriptVariable;

// Stands for an object or a function: values only hold the address and ask for the name.
struct TNamed {
    std::string Name;
};

bool ReadObjectName(const TXObject* Object, std::string_view& Name) {
    auto* Named = reinterpret_cast<const TNamed*>(Object);
    if (Named->Name == "<unreadable>") return false;
    Name = Named->Name;
    return true;
}

bool ReadFunctionName(const TXScriptObjectFunction* Function, std::string_view& Name) {
    Name = reinterpret_cast<const TNamed*>(Function)->Name;
    return true;
}

class ScriptValues : public testing::Test {
protected:
    void SetUp() override {
        SetObjectNameReader(ReadObjectName);
        SetFunctionNameReader(ReadFunctionName);
    }
    void TearDown() override {
        SetObjectNameReader(nullptr);
        SetFunctionNameReader(nullptr);
    }
    V Object(TNamed& Target) {
        V Made;
        Made.SetObject(reinterpret_cast<TXObject*>(&Target));
        return Made;
    }
    V Function(TNamed& Target) {
        V Made;
        Made.SetFunction(reinterpret_cast<TXScriptObjectFunction*>(&Target));
        return Made;
    }
};

std::string Text(const V& Value) {
    return Value.AsText().ToString();
}

std::string FloatText(float Value) {
    TXScriptTextScratch Scratch;
    return std::string(FormatScriptFloat(Value, Scratch));
}

template <typename TOperation> V Apply(V Left, const V& Right, TOperation Operation) {
    (Left.*Operation)(Right);
    return Left;
}

void ExpectInteger(const V& Value, int32_t Expected) {
    EXPECT_EQ(Value.kind, vkInteger);
    EXPECT_EQ(Value.intValue, Expected);
    EXPECT_TRUE(Value.text.Empty());
}

void ExpectString(const V& Value, std::string_view Expected) {
    EXPECT_EQ(Value.kind, vkString);
    EXPECT_EQ(Value.text.View(), Expected);
}

// ---- Record and sharing ----

TEST(ScriptValueRecord, ZeroInitialisedIsTheEmptyStringAndCopiesShareText) {
    V Empty{};
    ExpectString(Empty, "");
    static_assert(sizeof(V) <= 32);

    V Original = V::FromText("shared text", false);
    V Copy = Original;
    EXPECT_EQ(Original.text.Data(), Copy.text.Data());
    EXPECT_EQ(Original.text.ShareCount(), 2u);

    Copy.Add(V::FromText("!", false)); // copy on write
    ExpectString(Original, "shared text");
    ExpectString(Copy, "shared text!");
    EXPECT_EQ(Original.text.ShareCount(), 1u);

    V Number = V::FromInteger(5);
    V NumberCopy = Number;
    EXPECT_EQ(NumberCopy.text.ShareCount(), 0u);
}

TEST(ScriptValueRecord, SettersEmptyTextAndKeepOtherPayloads) {
    V Value = V::FromText("abc", false);
    Value.floatValue = 2.5f;
    Value.SetInteger(7);
    ExpectInteger(Value, 7);
    EXPECT_EQ(Value.floatValue, 2.5f);
    Value.SetFloat(1.5f);
    EXPECT_EQ(Value.kind, vkFloat);
    EXPECT_EQ(Value.intValue, 7);
}

TEST(ScriptValueRecord, AddingAValueToItselfReadsItBeforeWriting) {
    V Value = V::FromText("ab", false);
    Value.Add(Value);
    Value.Add(Value);
    ExpectString(Value, "abababab");
    V Number = V::FromInteger(21);
    Number.Add(Number);
    ExpectInteger(Number, 42);
}

TEST(ScriptValueRecord, AppendingInALoopKeepsEveryCharacter) {
    V Value;
    std::string Expected;
    for (int Index = 0; Index < 2000; Index++) {
        Value.Add(V::FromInteger(Index % 10));
        Expected += static_cast<char>('0' + Index % 10);
    }
    ExpectString(Value, Expected);
    EXPECT_EQ(Value.text.Data()[Expected.size()], '\0');
}

// ---- Number detection and parsing ----

TEST(ScriptNumberDetection, DigitsBecomeNumbersAndEverythingElseStaysText) {
    ExpectInteger(V::FromText("42", true), 42);
    ExpectInteger(V::FromText("0x10", true), 16);
    V Float = V::FromText("3.25", true);
    EXPECT_EQ(Float.kind, vkFloat);
    EXPECT_EQ(Float.floatValue, 3.25f);
    EXPECT_EQ(V::FromText("5.", true).kind, vkFloat);
    for (const char* Kept :
         {"0x", "12ab", "1.5.", "x1", "-5", ".5", "1.2.3", "0x1F", "1x2", "0X10", "2147483648", ""})
        ExpectString(V::FromText(Kept, true), Kept);
    ExpectString(V::FromText("42", false), "42");
}

TEST(ScriptNumberDetection, IntegerParseTakesSignsBlanksAndHexPrefixes) {
    int32_t Value = 0;
    struct {
        const char* Text;
        int32_t Expected;
    } Good[] = {{"  -12", -12},
                {"+7", 7},
                {"$1F", 31},
                {"x1f", 31},
                {"X10", 16},
                {"0XfF", 255},
                {"-$10", -16},
                {"2147483647", 2147483647},
                {"0", 0},
                {"-2147483648", INT32_MIN},
                {"-$80000000", INT32_MIN}};
    for (auto& Case : Good) {
        EXPECT_TRUE(ParseScriptInteger(Case.Text, Value)) << Case.Text;
        EXPECT_EQ(Value, Case.Expected) << Case.Text;
    }
    for (const char* Bad :
         {"", "-", "$", "0x", "12 ", "1.5", "2147483648", "$80000000", "1x2", "--1", "99999999999"})
        EXPECT_FALSE(ParseScriptInteger(Bad, Value)) << Bad;
}

TEST(ScriptNumberDetection, FloatParseIsDecimalAndRoundsToSingle) {
    float Value = 0;
    EXPECT_TRUE(ParseScriptFloat(" 2.5", Value));
    EXPECT_EQ(Value, 2.5f);
    EXPECT_TRUE(ParseScriptFloat("-1e3", Value));
    EXPECT_EQ(Value, -1000.0f);
    EXPECT_TRUE(ParseScriptFloat("0.1", Value));
    EXPECT_EQ(Value, 0.1f);
    EXPECT_TRUE(ParseScriptFloat("1e-50", Value));
    EXPECT_EQ(Value, 0.0f);
    EXPECT_TRUE(ParseScriptFloat("1e-40", Value));
    EXPECT_GT(Value, 0.0f);
    EXPECT_TRUE(ParseScriptFloat("3.4028235e38", Value));
    EXPECT_EQ(Value, std::numeric_limits<float>::max());
    for (const char* Bad :
         {"", ".", "1e39", "1e99999", "1,5", "inf", "nan", "0x1p3", "1.2.3", "1e", "abc", "1 "})
        EXPECT_FALSE(ParseScriptFloat(Bad, Value)) << Bad;
}

// ---- Conversions ----

TEST(ScriptConversions, AsIntegerRoundsTiesToEvenAndGuardsOutOfRange) {
    EXPECT_EQ(V::FromFloat(2.5f).AsInteger(), 2);
    EXPECT_EQ(V::FromFloat(3.5f).AsInteger(), 4);
    EXPECT_EQ(V::FromFloat(-2.5f).AsInteger(), -2);
    EXPECT_EQ(V::FromFloat(3e9f).AsInteger(), static_cast<int32_t>(3000000000u)); // low 32 bits
    EXPECT_EQ(V::FromFloat(std::numeric_limits<float>::quiet_NaN()).AsInteger(), 0);
    EXPECT_EQ(V::FromFloat(std::numeric_limits<float>::infinity()).AsInteger(), 0);
    EXPECT_EQ(V::FromFloat(1e19f).AsInteger(), 0);
    EXPECT_EQ(V::FromText("$ff", false).AsInteger(), 255);
    EXPECT_EQ(V::FromText("1.5", false).AsInteger(), 0);
    EXPECT_EQ(V::FromText("1.5", false).AsFloat(), 1.5f);
    EXPECT_EQ(V::FromText("", false).AsFloat(), 0.0f);
}

TEST(ScriptConversions, FloatTextHasFifteenDigitsOfTheWidenedSingle) {
    EXPECT_EQ(FloatText(0.1f), "0.100000001490116");
    EXPECT_EQ(FloatText(2.5f), "2.5");
    EXPECT_EQ(FloatText(std::ldexp(1.0f, -20)), "9.5367431640625E-7");
    EXPECT_EQ(FloatText(1e20f), "1.00000002004088E20");
    EXPECT_EQ(FloatText(-1.5f), "-1.5");
    EXPECT_EQ(FloatText(100.0f), "100");
    EXPECT_EQ(FloatText(0.0f), "0");
    EXPECT_EQ(FloatText(-0.0f), "0");
    EXPECT_EQ(FloatText(0.00002f), "0.0000199999994947575");
    EXPECT_EQ(FloatText(0.00001f), "9.99999974737875E-6"); // the single lies below 0.00001
    EXPECT_EQ(FloatText(0.0001f), "0.0000999999974737875");
    EXPECT_EQ(FloatText(1e15f), "999999986991104");
    EXPECT_EQ(FloatText(1e16f), "1.00000002725642E16");
    EXPECT_EQ(FloatText(std::numeric_limits<float>::max()), "3.40282346638529E38");
    EXPECT_EQ(FloatText(std::numeric_limits<float>::denorm_min()), "1.40129846432482E-45");
    EXPECT_EQ(FloatText(std::numeric_limits<float>::infinity()), "INF");
    EXPECT_EQ(FloatText(-std::numeric_limits<float>::infinity()), "-INF");
    EXPECT_EQ(FloatText(std::numeric_limits<float>::quiet_NaN()), "NAN");
}

TEST_F(ScriptValues, AsTextNamesObjectsAndFunctionsOrSaysUndefined) {
    TNamed Named{"OBJ"}, Unreadable{"<unreadable>"};
    TNamed Func{"F"};
    EXPECT_EQ(Text(Object(Named)), "OBJ");
    EXPECT_EQ(Text(Function(Func)), "F");
    EXPECT_EQ(Text(Object(Unreadable)), "undefined");
    V Null;
    Null.SetObject(nullptr);
    EXPECT_EQ(Text(Null), "undefined");
    Null.SetFunction(nullptr);
    EXPECT_EQ(Text(Null), "undefined");
    SetObjectNameReader(nullptr);
    EXPECT_EQ(Text(Object(Named)), "undefined");
    EXPECT_EQ(Text(V::FromInteger(-12)), "-12");
}

// ---- Unary operations ----

TEST_F(ScriptValues, UnaryOperationsConvertTextAndRefuseObjects) {
    V Value = V::FromText("1.5", false);
    Value.MakeNumeric();
    ExpectInteger(Value, 0);
    Value = V::FromText("$10", false);
    Value.Negate();
    ExpectInteger(Value, -16);
    Value = V::FromInteger(INT32_MIN);
    Value.Negate();
    ExpectInteger(Value, INT32_MIN);
    Value = V::FromFloat(2.5f);
    Value.Negate();
    EXPECT_EQ(Value.floatValue, -2.5f);
    Value = V::FromInteger(0);
    Value.BitNot();
    ExpectInteger(Value, -1);

    TNamed Named{"OBJ"};
    V Target = Object(Named);
    StartConsoleCapture();
    Target.MakeNumeric();
    Target.Negate();
    EXPECT_EQ(EndConsoleCapture(),
              "cannot make an object/function variable numeric :S\r\n"
              "cannot make an object/function variable numeric and negate that :o\r\n");
    EXPECT_EQ(Target.kind, vkObject);
    EXPECT_EQ(Target.reference, static_cast<void*>(&Named));
}

// ---- Add ----

TEST_F(ScriptValues, AddJoinsTextAddsNumbersAndDetectsNumbersInNames) {
    ExpectString(Apply(V::FromInteger(1), V::FromText("a", false), &V::Add), "1a");
    ExpectString(Apply(V::FromText("1", true), V::FromText("2", false), &V::Add), "12");
    ExpectString(Apply(V::FromText("x", false), V::FromFloat(0.5f), &V::Add), "x0.5");
    V Sum = Apply(V::FromFloat(0.5f), V::FromInteger(1), &V::Add);
    EXPECT_EQ(Sum.kind, vkFloat);
    EXPECT_EQ(Sum.floatValue, 1.5f);
    ExpectInteger(Apply(V::FromInteger(INT32_MAX), V::FromInteger(1), &V::Add), INT32_MIN);

    TNamed Named{"OBJ"}, Digits{"12"};
    TNamed Func{"F"};
    ExpectString(Apply(Object(Named), V::FromInteger(1), &V::Add), "OBJ1");
    ExpectString(Apply(Function(Func), V::FromInteger(5), &V::Add), "F5");
    ExpectString(Apply(Object(Named), Function(Func), &V::Add), "OBJF");
    ExpectInteger(Apply(Object(Digits), V::FromInteger(3), &V::Add), 123);
    ExpectString(Apply(Object(Named), V::FromText("!", false), &V::Add), "OBJ!");
}

// ---- Subtract, Multiply, Divide, Modulo ----

TEST(ScriptArithmetic, RightKindDecidesSubtractMultiplyAndDivide) {
    ExpectInteger(Apply(V::FromInteger(5), V::FromText("x", false), &V::Subtract), 5);
    ExpectInteger(Apply(V::FromText("x", false), V::FromInteger(1), &V::Subtract), -1);
    V Product = Apply(V::FromInteger(3), V::FromFloat(0.5f), &V::Multiply);
    EXPECT_EQ(Product.kind, vkFloat);
    EXPECT_EQ(Product.floatValue, 1.5f);
    ExpectInteger(Apply(V::FromFloat(2.5f), V::FromInteger(3), &V::Multiply), 6); // 2.5 rounds to 2
    ExpectInteger(Apply(V::FromInteger(65536), V::FromInteger(65536), &V::Multiply), 0);
    ExpectInteger(Apply(V::FromInteger(INT32_MIN), V::FromInteger(1), &V::Subtract), INT32_MAX);
}

TEST(ScriptArithmetic, DivideTruncatesAndSwallowsFaultingIntegerDivisions) {
    ExpectInteger(Apply(V::FromInteger(7), V::FromInteger(2), &V::Divide), 3);
    ExpectInteger(Apply(V::FromInteger(-7), V::FromInteger(2), &V::Divide), -3);
    ExpectInteger(Apply(V::FromInteger(7), V::FromInteger(0), &V::Divide), 7);
    ExpectInteger(Apply(V::FromInteger(INT32_MIN), V::FromInteger(-1), &V::Divide), INT32_MIN);
    ExpectString(Apply(V::FromText("7", false), V::FromInteger(0), &V::Divide), "7");
    V Infinite = Apply(V::FromFloat(1), V::FromFloat(0), &V::Divide);
    EXPECT_EQ(Infinite.kind, vkFloat);
    EXPECT_TRUE(std::isinf(Infinite.floatValue));
    EXPECT_TRUE(std::isnan(Apply(V::FromFloat(0), V::FromFloat(0), &V::Divide).floatValue));
}

TEST(ScriptArithmetic, IntegerModuloKeepsTheDividendsSignAndFaultsOnZero) {
    ExpectInteger(Apply(V::FromInteger(-7), V::FromInteger(3), &V::Modulo), -1);
    ExpectInteger(Apply(V::FromInteger(7), V::FromFloat(2.6f), &V::Modulo), 1); // 2.6 rounds to 3
    V Left = V::FromInteger(7);
    EXPECT_THROW(Left.Modulo(V::FromInteger(0)), TXScriptFault);
    ExpectInteger(Left, 7);
    Left = V::FromInteger(INT32_MIN);
    EXPECT_THROW(Left.Modulo(V::FromInteger(-1)), TXScriptFault);
    EXPECT_THROW(IntegerDivide(1, 0), TXScriptFault);
    EXPECT_THROW(IntegerDivide(INT32_MIN, -1), TXScriptFault);
    EXPECT_EQ(IntegerDivide(-9, 4), -2);
}

TEST(ScriptArithmetic, FloatModuloSubtractsTheNearestQuotient) {
    EXPECT_EQ(FloatModulo(7.5f, 2), -0.5f);
    EXPECT_EQ(FloatModulo(5, 2), 1.0f);  // 2.5 rounds to 2
    EXPECT_EQ(FloatModulo(7, 2), -1.0f); // 3.5 rounds to 4
    EXPECT_EQ(FloatModulo(-7.5f, 2), 0.5f);
    EXPECT_EQ(FloatModulo(3, std::numeric_limits<float>::infinity()), 3.0f);
    EXPECT_TRUE(std::isnan(FloatModulo(1, 0)));
    EXPECT_TRUE(std::isnan(FloatModulo(std::numeric_limits<float>::infinity(), 2)));
    EXPECT_TRUE(std::isnan(FloatModulo(3e38f, 1e-30f)));
    V Value = Apply(V::FromFloat(7.5f), V::FromInteger(2), &V::Modulo);
    EXPECT_EQ(Value.kind, vkFloat);
    EXPECT_EQ(Value.floatValue, -0.5f);
}

TEST(ScriptArithmetic, ModuloOfTextWritesTheMessageAndKeepsTheValue) {
    StartConsoleCapture();
    V Value = Apply(V::FromText("9", false), V::FromInteger(0), &V::Modulo);
    EXPECT_EQ(EndConsoleCapture(), "target object is not numeric, cannot MOD\r\n");
    ExpectString(Value, "9");
}

// ---- Bitwise ----

TEST(ScriptBitwise, ShiftsMaskTheCountAndShiftRightIsLogical) {
    ExpectInteger(Apply(V::FromInteger(-1), V::FromInteger(28), &V::ShiftRight), 15);
    ExpectInteger(Apply(V::FromInteger(8), V::FromInteger(33), &V::ShiftRight), 4);
    ExpectInteger(Apply(V::FromInteger(1), V::FromInteger(33), &V::ShiftLeft), 2);
    ExpectInteger(Apply(V::FromInteger(1), V::FromInteger(31), &V::ShiftLeft), INT32_MIN);
    ExpectInteger(Apply(V::FromInteger(1), V::FromInteger(-1), &V::ShiftLeft), INT32_MIN);
    ExpectInteger(Apply(V::FromText("$F0", false), V::FromFloat(60.4f), &V::BitAnd), 48);
    ExpectInteger(Apply(V::FromInteger(5), V::FromInteger(3), &V::BitXor), 6);
    ExpectInteger(Apply(V::FromInteger(5), V::FromInteger(3), &V::BitOr), 7);
}

// ---- Comparisons ----

TEST_F(ScriptValues, EqualDecidesByTheLeftKind) {
    ExpectInteger(Apply(V::FromText("abc", false), V::FromText("ABC", false), &V::Equal), 0);
    ExpectInteger(Apply(V::FromText("12", false), V::FromInteger(12), &V::Equal), 1);
    ExpectInteger(Apply(V::FromFloat(1.00009f), V::FromInteger(1), &V::Equal), 1);
    ExpectInteger(Apply(V::FromFloat(1.00011f), V::FromInteger(1), &V::Equal), 0);
    ExpectInteger(Apply(V::FromFloat(2.00005f), V::FromInteger(2), &V::Equal), 1);
    ExpectInteger(Apply(V::FromInteger(3), V::FromFloat(2.7f), &V::Equal), 1);
    ExpectInteger(Apply(V::FromFloat(2.7f), V::FromInteger(3), &V::Equal), 0);
    ExpectInteger(Apply(V::FromFloat(std::nanf("")), V::FromFloat(std::nanf("")), &V::Equal), 0);

    TNamed Named{"OBJ"}, Other{"OBJ"};
    TNamed Func{"OBJ"};
    ExpectInteger(Apply(V::FromText("OBJ", false), Object(Named), &V::Equal), 1);
    ExpectInteger(Apply(Object(Named), V::FromText("OBJ", false), &V::Equal), 0);
    ExpectInteger(Apply(Object(Named), Object(Named), &V::Equal), 1);
    ExpectInteger(Apply(Object(Named), Object(Other), &V::Equal), 0);
    V SameAddress;
    SameAddress.SetFunction(reinterpret_cast<TXScriptObjectFunction*>(&Named));
    ExpectInteger(Apply(Object(Named), SameAddress, &V::Equal), 0);
    ExpectInteger(Apply(Function(Func), Function(Func), &V::Equal), 1);
}

TEST(ScriptComparisons, OrderingComparesAsFloats) {
    ExpectInteger(Apply(V::FromText("abc", false), V::FromInteger(1), &V::Less), 1);
    ExpectInteger(Apply(V::FromText("2.5", false), V::FromFloat(2.5f), &V::LessOrEqual), 1);
    ExpectInteger(Apply(V::FromInteger(3), V::FromFloat(2.5f), &V::Greater), 1);
    ExpectInteger(Apply(V::FromInteger(2), V::FromInteger(3), &V::GreaterOrEqual), 0);
    // 16777217 and 16777216 are the same single.
    ExpectInteger(Apply(V::FromInteger(16777216), V::FromInteger(16777217), &V::Less), 0);
    ExpectInteger(Apply(V::FromFloat(std::nanf("")), V::FromInteger(0), &V::GreaterOrEqual), 0);
}

} // namespace

#include "in_folder.h"
#include "loader_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <regex>

namespace {

using SelfStatements = DefinitionFiles;

TEST_F(SelfStatements, SetBuiltInsDeclareEveryKindAndAssignLater) {
    std::string File = Write("a.txt", "SELF.WIDTH = 100;\n"
                                      "SELF.COUNT : INTEGER = 5;\n"
                                      "self.count = 6;\n"
                                      "SELF.RATE : FLOAT = 2.5;\n"
                                      "SELF.ON : BOOLEAN = true;\n"
                                      "SELF.EMPTY : STRING;\n"
                                      "END.\n");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File));
    EXPECT_EQ(Object->Width, 100);
    EXPECT_EQ(IntegerOf(*Object, "COUNT"), 6);
    EXPECT_EQ(Object->PropertyByIndex(10)->Name.View(), "COUNT");
    EXPECT_EQ(LoadPropertyFloat(Object->FindProperty("RATE")->Data), 2.5f);
    EXPECT_TRUE(LoadPropertyBoolean(Object->FindProperty("ON")->Data));
    EXPECT_EQ(StringOf(*Object, "EMPTY"), "");
    EXPECT_EQ(Object->Parser, nullptr);
    EXPECT_FALSE(Object->HasImplementation);
}

TEST_F(SelfStatements, ADeclarationAloneKeepsItsValue) {
    auto Object = Load(Write("a.txt", "SELF.COUNT : INTEGER = 5;\nEND."));
    EXPECT_EQ(IntegerOf(*Object, "COUNT"), 5);
}

TEST_F(SelfStatements, AMissingPropertyIsReportedAndSkippedToTheSemicolon) {
    std::string File = Write("a.txt", "SELF.WIDTH = 1;\n"
                                      "SELF.X = 1 2\n"
                                      "  3;\n"
                                      "SELF.HEIGHT = 7;\n"
                                      "END.\n");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 1): Property 'X' not found"}));
    EXPECT_EQ(Object->Height, 7);
    EXPECT_EQ(Object->FindProperty("X"), nullptr);
}

// The Expect message counts lines from 1, every other from 0.
TEST_F(SelfStatements, LineNumbersOfExpectCountFromOneTheOthersFromZero) {
    std::string File = Write("a.txt", "// first line\n"
                                      "SELF.WIDTH 5;\n"
                                      "END.\n");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 2): Expected '=', got '5'.",
                                      File + " (Line 3): Expected ';', got 'END'.",
                                      File + " (Line 2): Unknown: .", File + " (Line 2): Unexpected end."}));
    EXPECT_EQ(Object->Width, 0); // the token after the missing "=" was the value: ";"
}

TEST_F(SelfStatements, ANegativeNumberIsTheMinusTokenAndLeavesTheValue) {
    std::string File = Write("a.txt", "SELF.WIDTH = 4;\nSELF.WIDTH = -5;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output,
              Expected(File, {File + " (Line 2): Expected ';', got '5'.", File + " (Line 1): Unknown: ;"}));
    EXPECT_EQ(Object->Width, 4);
}

TEST_F(SelfStatements, BareWordsArriveUpperCasedQuotedStringsAsWritten) {
    auto Object = Load(Write("a.txt", "SELF.A : STRING = Hello;\n"
                                      "SELF.B : STRING = \"Hello World\";\n"
                                      "SELF.C : STRING = \"file.txt\";\n"
                                      "END."));
    EXPECT_EQ(StringOf(*Object, "A"), "HELLO");
    EXPECT_EQ(StringOf(*Object, "B"), "Hello World");
    EXPECT_EQ(StringOf(*Object, "C"), "file.txt");
}

TEST_F(SelfStatements, AnUnknownTypeReadsNothingMore) {
    std::string File = Write("a.txt", "SELF.X : WORD = 5;\nSELF.WIDTH = 3;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {"_\xDF_ unknown WORD", File + " (Line 0): Unknown: =",
                                      File + " (Line 0): Unknown: 5", File + " (Line 0): Unknown: ;"}));
    EXPECT_EQ(Object->FindProperty("X"), nullptr);
    EXPECT_EQ(Object->Width, 3);
}

TEST_F(SelfStatements, PathsDescendThroughChildrenAndAPathEndingAtAChildEndsTheLoad) {
    std::string File = Write("a.txt", "NEW PANEL = OBJECT:\n"
                                      "  NEW INNER = OBJECT:\n"
                                      "    INNER2 : INTEGER = 1;\n"
                                      "  END;\n"
                                      "  INNER.WIDTH = 4;\n"
                                      "END;\n"
                                      "SELF.PANEL.INNER.HEIGHT = 9;\n"
                                      "SELF.PANEL.INNER;\n"
                                      "SELF.WIDTH = 1;\n"
                                      "END.\n");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File));
    TXGuiObject* Inner = ChildOf(*ChildOf(*Object, "PANEL"), "INNER");
    ASSERT_NE(Inner, nullptr);
    EXPECT_EQ(IntegerOf(*Inner, "INNER2"), 1);
    EXPECT_EQ(Inner->Width, 4);
    EXPECT_EQ(Inner->Height, 9);
    EXPECT_EQ(Object->Width, 0);
}

TEST_F(SelfStatements, AStatementWithoutTheLeadingDotEndsTheLoad) {
    std::string File = Write("a.txt", "SELF WIDTH = 1;\nSELF.HEIGHT = 2;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 1): Expected '.', got 'WIDTH'."}));
    EXPECT_EQ(Object->Height, 0);
}

using TopLevel = DefinitionFiles;

TEST_F(TopLevel, AFileEndingWithoutEndReportsTheUnexpectedEnd) {
    std::string File = Write("a.txt", "SELF.WIDTH = 1;\n");
    Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 0): Unexpected end."}));
}

TEST_F(TopLevel, EndWithoutTheFullStopNamesEnd) {
    std::string File = Write("a.txt", "SELF.WIDTH = 1;\nEND\n");
    Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 2): Expected '.', got 'END'."}));
}

TEST_F(TopLevel, AFileThatCannotBeReadKeepsTheDefaults) {
    std::string File = (Directory / "missing.txt").string();
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 0): Unexpected end."}));
    EXPECT_EQ(Object->PropertyCount(), 10);
}

TEST_F(TopLevel, AnEmptyQuotedStringIsTakenForTheEnd) {
    std::string File = Write("a.txt", "SELF.WIDTH = 1;\n\"\"\nSELF.HEIGHT = 2;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 1): Unexpected end."}));
    EXPECT_EQ(Object->Height, 0);
}

TEST_F(TopLevel, ImplementationKeepsTheParserAfterTheKeyword) {
    std::string File = Write("a.txt", "SELF.WIDTH = 1;\nIMPLEMENTATION\nSELF.WIDTH = 2;\n");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File));
    EXPECT_TRUE(Object->HasImplementation);
    ASSERT_NE(Object->Parser, nullptr);
    EXPECT_EQ(Object->Parser->NextToken(), "SELF");
}

using ChildBlocks = DefinitionFiles;

TEST_F(ChildBlocks, AnUnregisteredTypeStillMakesAGuiObject) {
    std::string File = Write("a.txt", "NEW A = BUTTON:\n  WIDTH = 4;\nEND;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " line 0: object type BUTTON is unknown."}));
    TXGuiObject* Child = ChildOf(*Object, "A");
    ASSERT_NE(Child, nullptr);
    EXPECT_EQ(Child->Width, 4);
    EXPECT_EQ(Object->ChildCount(), 1);
    EXPECT_EQ(Object->Child(0), Child);
}

TXObject* BuildNothing(std::string_view, TXObject*, std::string_view, std::string_view) {
    return nullptr;
}

TEST_F(ChildBlocks, AFactoryReturningNothingEndsTheLoad) {
    RegisterObjectType("NOTHING", BuildNothing);
    std::string File = Write("a.txt", "NEW A = NOTHING:\nEND;\nSELF.WIDTH = 2;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(
        Output,
        Expected(File, {File + " line 0: object type NOTHING is actually known, but something broke hard."}));
    EXPECT_EQ(Object->Width, 0);
}

TEST_F(ChildBlocks, AHeaderWithoutColonOrFileEndsTheLoad) {
    std::string File = Write("a.txt", "NEW A = OBJECT;\nSELF.WIDTH = 2;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 0): '=' expected, ; found"}));
    EXPECT_EQ(ChildOf(*Object, "A"), nullptr);
    EXPECT_EQ(Object->Width, 0);
}

TEST_F(ChildBlocks, ChildFilesAreFoundInTheLoadingFilesDirectory) {
    Write("sub/parent.txt", "NEW C = OBJECT(\"child.txt\"):\n  HEIGHT = 6;\nEND;\nEND.");
    Write("sub/child.txt", "SELF.WIDTH = 3;\nSELF.HEIGHT = 1;\nEND.");
    std::string Parent = Directory.string() + "\\sub\\parent.txt";
    auto Object = Load(Parent);
    EXPECT_EQ(Output, Expected(Parent, {"Loading " + Directory.string() + "\\sub\\child.txt"}));
    TXGuiObject* Child = ChildOf(*Object, "C");
    ASSERT_NE(Child, nullptr);
    EXPECT_EQ(Child->Width, 3);
    EXPECT_EQ(Child->Height, 6); // the block's body comes after the child's own file
}

TEST_F(ChildBlocks, AFileNameWithoutDirectoryGivesTheTokenUnchanged) {
    Write("parent.txt", "NEW C = OBJECT(\"child.txt\"):\nEND;\nEND.");
    Write("child.txt", "SELF.WIDTH = 3;\nEND.");
    std::unique_ptr<TXGuiObject> Object;
    {
        TInFolder InFolder(Directory);
        Object = Load("parent.txt");
    }
    EXPECT_EQ(Output, Expected("parent.txt", {"Loading child.txt"}));
    EXPECT_EQ(ChildOf(*Object, "C")->Width, 3);
}

TEST_F(ChildBlocks, ABlockEndsAtEndOfFileAndAtAFailedStatement) {
    std::string File = Write("a.txt", "NEW A = OBJECT:\n  NEW B = OBJECT:\n  WIDTH = 2;\n");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {File + " (Line 2): Unexpected end."}));
    EXPECT_EQ(ChildOf(*ChildOf(*Object, "A"), "B")->Width, 2);
}

// A second child of a taken name is held by nothing: it is read and freed at once, silently
// (the leak is seen by the sanitizer's leak check).
TEST_F(ChildBlocks, ANamesakeIsFreedSilently) {
    std::string File = Write("a.txt", "NEW A = OBJECT:\n  WIDTH = 1;\nEND;\n"
                                      "NEW A = OBJECT:\n  WIDTH = 2;\n  NEW B = OBJECT:\n  END;\nEND;\n"
                                      "SELF.HEIGHT = 5;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File));
    EXPECT_EQ(ChildOf(*Object, "A")->Width, 1);
    ASSERT_EQ(Object->ChildCount(), 1);
    EXPECT_EQ(Object->Child(0), ChildOf(*Object, "A"));
    EXPECT_EQ(Object->Height, 5);
}

// A child named like a value property is not reachable by name, but its parent's Children
// holds it: it is laid out, its script runs, and it goes with its parent.
TEST_F(ChildBlocks, AChildNamedLikeAValuePropertyStaysInChildren) {
    Write("w.txt", "SELF.ALIGN = 5;\nIMPLEMENTATION\nALERT(\"w runs\");\n");
    std::string File = Write("a.txt", "SELF.WIDTH = 40;\nSELF.HEIGHT = 30;\nSELF.COUNT : INTEGER = 7;\n"
                                      "NEW WIDTH = OBJECT(\"w.txt\"):\nEND;\n"
                                      "NEW COUNT = OBJECT:\n  TAG = 3;\nEND;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {"Loading " + (Directory / "w.txt").string()}));
    EXPECT_EQ(Object->FindProperty("WIDTH")->Kind, ptInteger);
    EXPECT_EQ(IntegerOf(*Object, "COUNT"), 7);
    ASSERT_EQ(Object->ChildCount(), 2);
    TXGuiObject* Width = Object->Child(0);
    EXPECT_EQ(Width->Name.View(), "WIDTH");
    EXPECT_EQ(Object->Child(1)->Tag, 3);
    EXPECT_EQ(CaptureOutput([&] { Object->RunMain(); }), "w runs\r\n");
    Object->Processmessage(xmAlign, nullptr);
    EXPECT_EQ(Width->Width, 40);
    EXPECT_EQ(Width->Height, 30);
    // Freed with its parent, first taken out of Children.
    delete Object->Child(1);
    EXPECT_EQ(Object->ChildCount(), 1);
    EXPECT_EQ(IntegerOf(*Object, "COUNT"), 7);
}

int32_t TreeDepth(TXGuiObject& Object) {
    int32_t Deepest = 0;
    for (int32_t Index = 0; Index < Object.ChildCount(); Index++)
        Deepest = std::max(Deepest, TreeDepth(*Object.Child(Index)));
    return Deepest + 1;
}

int32_t CountLines(const std::string& Text, const std::string& Pattern) {
    std::regex Line(Pattern);
    return int32_t(
        std::distance(std::sregex_iterator(Text.begin(), Text.end(), Line), std::sregex_iterator()));
}

TEST_F(ChildBlocks, AFileCreatingItselfStopsAtTheBoundWithOneLine) {
    std::string File = Write("self.txt", "NEW ME = OBJECT(\"self.txt\"):\nEND;\nEND.");
    auto Object = Load(File);
    // Each level is one load and one block: 32 loads, then a child made without its file.
    EXPECT_EQ(CountLines(Output, "Loading [^\r]*\r\n"), 32);
    EXPECT_EQ(CountLines(Output, "\r\n"), 33);
    EXPECT_NE(Output.find((Directory / "self.txt").string() +
                          ": not loaded, objects nested more than 64 levels deep\r\n"),
              std::string::npos);
    EXPECT_EQ(TreeDepth(*Object), 33);
}

TEST_F(ChildBlocks, ACycleThroughTwoFilesStopsAtTheBound) {
    Write("a.txt", "NEW B = OBJECT(\"b.txt\"):\nEND;\nEND.");
    Write("b.txt", "NEW A = OBJECT(\"a.txt\"):\nEND;\nEND.");
    auto Object = Load((Directory / "a.txt").string());
    EXPECT_EQ(CountLines(Output, "not loaded"), 1);
    EXPECT_EQ(TreeDepth(*Object), 33);
}

TEST_F(ChildBlocks, BlocksNestedTooDeepAreSkippedToTheirEnd) {
    std::string Text;
    for (int Level = 0; Level < 100; Level++) Text += "NEW X = OBJECT:\n  CAPTION : STRING = END;\n";
    for (int Level = 0; Level < 100; Level++) Text += "END;\n";
    Text += "SELF.WIDTH = 8;\nEND.\n";
    std::string File = Write("deep.txt", Text);
    auto Object = Load(File);
    // The load itself is one level, the 63 blocks inside it the others.
    EXPECT_EQ(
        Output,
        Expected(File, {File + " line 126: object X skipped, objects nested more than 64 levels deep"}));
    EXPECT_EQ(TreeDepth(*Object), 64);
    EXPECT_EQ(Object->Width, 8);
}

using Links = DefinitionFiles;

TEST_F(Links, ALinkSharesTheStorageOfThePropertyItNames) {
    std::string File = Write("a.txt", "NEW PANEL = OBJECT:\n  WIDTH = 10;\nEND;\n"
                                      "LINK W = PANEL.WIDTH;\n"
                                      "LINK P = PANEL;\n"
                                      "LINK M = PANEL.MISSING;\n"
                                      "END.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File));
    TXGuiObject* Panel = ChildOf(*Object, "PANEL");
    TXProperty* Link = Object->FindProperty("W");
    ASSERT_NE(Link, nullptr);
    EXPECT_EQ(Link->Kind, ptInteger);
    EXPECT_EQ(Link->Data, &Panel->Width);
    EXPECT_TRUE(Object->SetPropertyFromString("W", "20"));
    EXPECT_EQ(Panel->Width, 20);
    Panel->SetPropertyFromString("WIDTH", "30");
    EXPECT_EQ(IntegerOf(*Object, "W"), 30);
    EXPECT_EQ(Object->FindProperty("P")->Data, Panel);
    EXPECT_EQ(Object->FindProperty("M"), nullptr);
    // The link P to PANEL is not PANEL's entry: destroying the object frees PANEL once.
}

TEST_F(Links, ASegmentNotFollowedByDotOrSemicolonLinksTheObjectReached) {
    std::string File = Write("a.txt", "NEW PANEL = OBJECT:\nEND;\nLINK Q = PANEL WIDTH;\nEND.");
    auto Object = Load(File);
    EXPECT_EQ(Output, Expected(File, {". expected"}));
    EXPECT_EQ(Object->FindProperty("Q")->Data, ChildOf(*Object, "PANEL"));
}

} // namespace

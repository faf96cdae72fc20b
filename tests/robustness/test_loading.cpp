#include "xguiobject.h"

#include "loader_fixture.h"

#include <gtest/gtest.h>

namespace {

int32_t CountObjects(TXGuiObject& Object) {
    int32_t Count = 1;
    for (int32_t Index = 0; Index < Object.ChildCount(); Index++)
        if (TXGuiObject* Child = Object.Child(Index)) Count += CountObjects(*Child);
    return Count;
}

using LoadBounds = DefinitionFiles;

// A file naming itself twice would make 2^64 objects within the nesting bound.
TEST_F(LoadBounds, AFileThatNamesItselfTwiceStopsAtTheObjectBound) {
    std::string File = Write(
        "twice.txt", "NEW A = OBJECT(\"twice.txt\"):\nEND;\nNEW B = OBJECT(\"twice.txt\"):\nEND;\nEND.\n");
    std::unique_ptr<TXGuiObject> Object = Load(File);
    EXPECT_EQ(CountObjects(*Object), MaxLoadObjects + 1);
    EXPECT_GE(CountOf(Output, ": object B skipped, more than 4096 objects in one load\r\n"), 1u);
    // One line for each skipped block, at most one per open level and block.
    EXPECT_LE(CountOf(Output, "objects in one load"), size_t(2 * MaxLoadNesting));
    // Every object made either loads its file or, at the nesting bound, says it does not.
    EXPECT_EQ(CountOf(Output, "Loading ") +
                  CountOf(Output, ": not loaded, objects nested more than 64 levels deep"),
              size_t(MaxLoadObjects + 1));
}

TEST_F(LoadBounds, EveryLoadGetsTheWholeBound) {
    std::string File = Write("many.txt", [] {
        std::string Text;
        for (int32_t Index = 0; Index < MaxLoadObjects; Index++)
            Text += "NEW O" + std::to_string(Index) + " = OBJECT:\nEND;\n";
        return Text + "END.\n";
    }());
    for (int Round = 0; Round < 2; Round++) {
        std::unique_ptr<TXGuiObject> Object = Load(File);
        EXPECT_EQ(CountObjects(*Object), MaxLoadObjects + 1);
        EXPECT_EQ(Output, Expected(File));
    }
}

} // namespace

#include "loader_fixture.h"

#include "glrecord.h"

#include <stdexcept>
#include <vector>

namespace {

// What the recording handlers saw: "NAME message alpha" or "NAME message x,y".
std::vector<std::string> Seen;

bool RecordPaint(TXObject* Self, void* Parameter) {
    const auto* Record = static_cast<const TXDrawMessage*>(Parameter);
    Seen.push_back(std::string(Self->Name.View()) + " paint " + std::to_string(Record->Alpha).substr(0, 4));
    return true;
}

template <int32_t Message> bool RecordMouse(TXObject* Self, void* Parameter) {
    const auto* Record = static_cast<const TXMouseMessage*>(Parameter);
    Seen.push_back(std::string(Self->Name.View()) + " " + std::to_string(Message) + " " +
                   std::to_string(Record->X) + "," + std::to_string(Record->Y));
    return true;
}

bool RecordAny(TXObject* Self, void*) {
    Seen.push_back(std::string(Self->Name.View()) + " got it");
    return true;
}

bool Throw(TXObject*, void*) {
    throw std::runtime_error("broken handler");
}

class GuiObjects : public DefinitionFiles {
protected:
    void SetUp() override {
        DefinitionFiles::SetUp();
        Seen.clear();
        GLRecord::Reset();
    }

    // A child of Parent with a rectangle.
    static TXGuiObject* Place(TXGuiObject& Parent, const std::string& Name, int32_t Left, int32_t Top,
                              int32_t Width, int32_t Height) {
        auto* Child = new TXGuiObject(&Parent, "", Name);
        Child->Left = Left;
        Child->Top = Top;
        Child->Width = Width;
        Child->Height = Height;
        return Child;
    }
};

using GuiConstruction = GuiObjects;

TEST_F(GuiConstruction, TenBuiltInPropertiesAreTheObjectsFieldsInOrder) {
    TXGuiObject Object(nullptr, "", "SELF");
    const char* Names[] = {"ALIGN", "ALPHA",  "LEFT",    "TOP",     "TAG",
                           "WIDTH", "HEIGHT", "ENABLED", "VISIBLE", "BORDERSIZE"};
    void* Fields[] = {&Object.Align, &Object.Alpha,  &Object.Left,    &Object.Top,     &Object.Tag,
                      &Object.Width, &Object.Height, &Object.Enabled, &Object.Visible, &Object.BorderSize};
    ASSERT_EQ(Object.PropertyCount(), 10);
    for (int32_t Index = 0; Index < 10; Index++) {
        EXPECT_EQ(Object.PropertyByIndex(Index)->Name.View(), Names[Index]);
        EXPECT_EQ(Object.PropertyByIndex(Index)->Data, Fields[Index]);
    }
    EXPECT_EQ(Object.FindProperty("ALPHA")->Kind, ptFloat);
    EXPECT_EQ(Object.FindProperty("VISIBLE")->Kind, ptBoolean);
    EXPECT_EQ(Object.Alpha, 1.0f);
    EXPECT_TRUE(Object.Visible && Object.Enabled);
    EXPECT_EQ(Object.CaptureIndex, -1);
    for (int32_t Message : {0, 2, 10, 11, 12}) EXPECT_EQ(Object.HandlerFor(Message).Kind, hkMethod);
    EXPECT_EQ(Object.HandlerFor(1).Kind, hkNone);
}

TEST_F(GuiConstruction, TheObjectTypeBuildsGuiObjectsThatLoadTheirFile) {
    TXGuiObject Parent(nullptr, "", "PARENT");
    std::string File = Write("child.txt", "SELF.WIDTH = 12;\nEND.");
    TXObject* Child = nullptr;
    std::string Output =
        CaptureOutput([&] { Child = FindObjectType("OBJECT")("OBJECT", &Parent, File, "CHILD"); });
    EXPECT_EQ(Output, "Loading " + File + "\r\n");
    auto* Gui = dynamic_cast<TXGuiObject*>(Child);
    ASSERT_NE(Gui, nullptr);
    EXPECT_EQ(Gui->Width, 12);
    EXPECT_EQ(Parent.Child(0), Gui);
}

TEST_F(GuiConstruction, DestroyingAChildClearsHoverCaptureAndFocus) {
    TXGuiObject Parent(nullptr, "", "PARENT");
    TXGuiObject* Child = Place(Parent, "A", 0, 0, 1, 1);
    Parent.Hover = Child;
    Parent.Focus = Child;
    Parent.CaptureIndex = 0;
    delete Child;
    EXPECT_EQ(Parent.ChildCount(), 0);
    EXPECT_EQ(Parent.Hover, nullptr);
    EXPECT_EQ(Parent.Focus, nullptr);
    EXPECT_EQ(Parent.CaptureIndex, -1);
    EXPECT_EQ(Parent.FindProperty("A"), nullptr);
}

void TranslateWithOpenGL(float X, float Y) {
    glTranslatef(X, Y, 0.0f);
}

// Drawing as the viewer sets it up: origin moves through OpenGL, recorded.
class Drawing : public GuiObjects {
protected:
    void SetUp() override {
        GuiObjects::SetUp();
        SetDrawOffsetRoutine(TranslateWithOpenGL);
    }
    void TearDown() override {
        SetDrawOffsetRoutine(nullptr);
        GuiObjects::TearDown();
    }
};

TEST_F(Drawing, VisibleChildrenInsideAreDrawnWithTheAlphaProduct) {
    TXGuiObject Root(nullptr, "", "ROOT");
    Root.Left = 5;
    Root.Top = 7;
    Root.Width = 100;
    Root.Height = 50;
    Root.Alpha = 0.5f;
    Place(Root, "ATWIDTH", 100, 0, 10, 10);
    TXGuiObject* Negative = Place(Root, "NEGATIVE", -10, 3, 10, 10);
    Negative->Alpha = 0.5f;
    Place(*Negative, "INNER", 0, 0, 5, 5);
    TXGuiObject* Clear = Place(Root, "CLEAR", 0, 0, 10, 10);
    Clear->Alpha = 0.0f;
    Place(*Clear, "UNDERCLEAR", 0, 0, 5, 5);
    Place(Root, "HIDDEN", 0, 0, 10, 10)->Visible = false;
    Place(Root, "ATHEIGHT", 0, 50, 10, 10);
    for (TXObject* Object :
         std::initializer_list<TXObject*>{&Root, Negative, Negative->Child(0), Clear, Clear->Child(0),
                                          Root.Child(0), Root.Child(3), Root.Child(4)})
        static_cast<TXGuiObject*>(Object)->SetHandler(xmPaint, RecordPaint, Object);
    TXDrawMessage Incoming;
    Root.Processmessage(xmDraw, &Incoming);
    EXPECT_EQ(Seen, (std::vector<std::string>{"ROOT paint 0.50", "NEGATIVE paint 0.25", "INNER paint 0.25"}));
    EXPECT_EQ(GLRecord::TraceOf({"glTranslatef"}),
              (std::vector<std::string>{"glTranslatef(5, 7, 0)", "glTranslatef(-10, 3, 0)",
                                        "glTranslatef(0, 0, 0)", "glTranslatef(-0, -0, 0)",
                                        "glTranslatef(10, -3, 0)", "glTranslatef(-5, -7, 0)"}));
}

TEST_F(Drawing, ANullRecordDrawsNothingAndPaintIsNeverPassedOn) {
    TXGuiObject Root(nullptr, "", "ROOT");
    Root.Width = Root.Height = 10;
    TXGuiObject* Child = Place(Root, "CHILD", 0, 0, 5, 5);
    Child->SetHandler(xmPaint, RecordPaint, Child);
    Root.Processmessage(xmDraw, nullptr);
    EXPECT_EQ(GLRecord::TotalCalls(), 0);
    TXDrawMessage Record;
    Root.Processmessage(xmPaint, &Record);
    EXPECT_TRUE(Seen.empty());
}

using Dispatch = GuiObjects;

TEST_F(Dispatch, AStoredNoneRecordCountsAsHandled) {
    TXGuiObject Root(nullptr, "", "ROOT");
    TXGuiObject* Child = Place(Root, "CHILD", 0, 0, 1, 1);
    Child->SetHandler(20, RecordAny, Child);
    Root.Processmessage(20, nullptr);
    EXPECT_EQ(Seen, std::vector<std::string>{"CHILD got it"});
    Root.HandlerFor(20);
    Root.Processmessage(20, nullptr);
    EXPECT_EQ(Seen.size(), 1u);
}

TEST_F(Dispatch, AThrowingHandlerIsLoggedAndStopsOnlyThatMessage) {
    TXGuiObject Root(nullptr, "", "ROOT");
    TXGuiObject* Child = Place(Root, "CHILD", 0, 0, 1, 1);
    Child->SetHandler(40, RecordAny, Child);
    Root.SetHandler(40, Throw, &Root);
    std::string Output = CaptureOutput([&] { Root.Processmessage(40, nullptr); });
    EXPECT_EQ(Output, "internal error in TXGuiObject(ROOT).Processmessage, Message 40\r\n");
    EXPECT_TRUE(Seen.empty());
}

using Pointer = GuiObjects;

// A root of 100 x 100 with A (10,10)-(30,30) and B (20,20)-(40,40) over it.
struct TOverlap {
    TXGuiObject Root{nullptr, "", "ROOT"};
    TXGuiObject* A;
    TXGuiObject* B;
    TOverlap() {
        Root.Width = Root.Height = 100;
        A = new TXGuiObject(&Root, "", "A");
        B = new TXGuiObject(&Root, "", "B");
        A->Left = A->Top = 10;
        B->Left = B->Top = 20;
        for (TXGuiObject* Child : {A, B}) {
            Child->Width = Child->Height = 20;
            Child->SetHandler(xmMouseDown, RecordMouse<xmMouseDown>, Child);
            Child->SetHandler(xmMouseMove, RecordMouse<xmMouseMove>, Child);
            Child->SetHandler(xmMouseEnter, RecordMouse<xmMouseEnter>, Child);
            Child->SetHandler(xmMouseLeave, RecordMouse<xmMouseLeave>, Child);
        }
    }
    void Send(int32_t Message, int32_t X, int32_t Y) {
        TXMouseMessage Record;
        Record.Msg = Message;
        Record.X = X;
        Record.Y = Y;
        Root.Processmessage(Message, &Record);
    }
};

TEST_F(Pointer, ButtonDownHitsTheLeftEdgeAndOnlyTheTopmostChild) {
    TOverlap Tree;
    Tree.A->Focusable = true;
    Tree.Send(xmMouseDown, 10, 15);
    EXPECT_EQ(Tree.Root.CaptureIndex, 0);
    EXPECT_EQ(Tree.Root.Focus, Tree.A);
    Tree.Send(xmMouseDown, 25, 25);
    EXPECT_EQ(Tree.Root.CaptureIndex, 1);
    EXPECT_EQ(Tree.Root.Focus, Tree.A); // B is not focusable
    Tree.Send(xmMouseDown, 30, 15);     // right edge of A, above B
    EXPECT_EQ(Tree.Root.CaptureIndex, 1);
    EXPECT_EQ(Tree.Root.Focus, nullptr);
    EXPECT_EQ(Seen, (std::vector<std::string>{"A 10 0,5", "B 10 5,5"}));
}

TEST_F(Pointer, MovesUseStrictEdgesReachEveryChildUnderThePointerAndTrackHover) {
    TOverlap Tree;
    Tree.Send(xmMouseMove, 10, 15);
    EXPECT_EQ(Tree.Root.Hover, &Tree.Root);
    EXPECT_TRUE(Seen.empty());
    Tree.Send(xmMouseMove, 25, 25);
    EXPECT_EQ(Tree.Root.Hover, Tree.B);
    Tree.Send(xmMouseMove, 15, 15);
    EXPECT_EQ(Tree.Root.Hover, Tree.A);
    EXPECT_EQ(Seen, (std::vector<std::string>{"A 11 15,15", "B 11 5,5", "B 13 25,25", "A 11 5,5",
                                              "B 14 15,15", "A 13 15,15"}));
}

TEST_F(Pointer, TheCapturedChildGetsMovesOutsideButDoesNotBecomeHover) {
    TOverlap Tree;
    Tree.Send(xmMouseMove, 15, 15);
    Tree.Send(xmMouseDown, 15, 15);
    Seen.clear();
    Tree.Send(xmMouseMove, 90, 90);
    EXPECT_EQ(Tree.Root.Hover, &Tree.Root);
    EXPECT_EQ(Seen, (std::vector<std::string>{"A 11 80,80", "A 14 90,90"}));
}

TEST_F(Pointer, ButtonUpReleasesCaptureAllTheWayDown) {
    TXGuiObject Root(nullptr, "", "ROOT");
    Root.Width = Root.Height = 100;
    TXGuiObject* Panel = Place(Root, "PANEL", 0, 0, 50, 50);
    Place(*Panel, "BUTTON", 0, 0, 10, 10);
    TXMouseMessage Down;
    Down.X = Down.Y = 5;
    Root.Processmessage(xmMouseDown, &Down);
    EXPECT_EQ(Root.CaptureIndex, 0);
    EXPECT_EQ(Panel->CaptureIndex, 0);
    Root.Processmessage(xmMouseUp, nullptr);
    EXPECT_EQ(Root.CaptureIndex, -1);
    EXPECT_EQ(Panel->CaptureIndex, -1);
}

using Layout = GuiObjects;

TEST_F(Layout, LeftAlignedChildrenLineUpInsideTheBorder) {
    TXGuiObject Root(nullptr, "", "ROOT");
    Root.Width = 100;
    Root.Height = 50;
    Root.BorderSize = 2;
    TXGuiObject* First = Place(Root, "FIRST", 0, 0, 10, 0);
    TXGuiObject* Second = Place(Root, "SECOND", 0, 0, 20, 0);
    First->Align = Second->Align = 1;
    Root.Processmessage(xmAlign, nullptr);
    EXPECT_EQ(First->Left, 2);
    EXPECT_EQ(Second->Left, 12);
    EXPECT_EQ(Second->Top, 2);
    EXPECT_EQ(Second->Height, 46);
}

TEST_F(Layout, EveryAlignmentTakesItsSideAndClientsShareTheRest) {
    TXGuiObject Root(nullptr, "", "ROOT");
    Root.Width = 100;
    Root.Height = 80;
    // Not TOP: a child named like a property of its parent is not the parent's.
    TXGuiObject* Top = Place(Root, "HEADER", 0, 0, 0, 10);
    TXGuiObject* Hidden = Place(Root, "HIDDEN", 0, 0, 30, 0);
    TXGuiObject* Right = Place(Root, "RIGHT", 0, 0, 15, 0);
    TXGuiObject* Bottom = Place(Root, "BOTTOM", 0, 0, 0, 5);
    TXGuiObject* Client = Place(Root, "CLIENT", 0, 0, 0, 0);
    TXGuiObject* Other = Place(Root, "OTHER", 0, 0, 0, 0);
    TXGuiObject* Nested = Place(*Client, "NESTED", 0, 0, 0, 0);
    Top->Align = 3;
    Hidden->Align = 1;
    Hidden->Visible = false;
    Right->Align = 2;
    Bottom->Align = 4;
    Client->Align = Other->Align = Nested->Align = 5;
    Root.Processmessage(xmAlign, nullptr);
    EXPECT_EQ(Top->Width, 100);
    EXPECT_EQ(Hidden->Top, 10); // placed, though it narrows nothing
    EXPECT_EQ(Right->Left, 85);
    EXPECT_EQ(Right->Top, 10);
    EXPECT_EQ(Right->Height, 70);
    EXPECT_EQ(Bottom->Top, 75);
    EXPECT_EQ(Bottom->Width, 85);
    for (TXGuiObject* Area : {Client, Other}) {
        EXPECT_EQ(Area->Left, 0);
        EXPECT_EQ(Area->Top, 10);
        EXPECT_EQ(Area->Width, 85);
        EXPECT_EQ(Area->Height, 65);
    }
    EXPECT_EQ(Nested->Width, 85); // the message reaches the whole subtree
}

using Scripts = GuiObjects;

TEST_F(Scripts, RunMainRunsTheScriptOnceThenTheChildren) {
    Write("child.txt", "IMPLEMENTATION\nALERT(\"child\");\n");
    std::string File = Write("a.txt", "NEW C = OBJECT(\"child.txt\"):\nEND;\n"
                                      "IMPLEMENTATION\nALERT(\"parent\");\nSELF.TAG = SELF.TAG + 1;\n");
    auto Object = Load(File);
    std::string Output = CaptureOutput([&] {
        Object->RunMain();
        Object->RunMain();
    });
    EXPECT_EQ(Output, "parent\r\nchild\r\n");
    EXPECT_EQ(Object->Tag, 1);
    EXPECT_EQ(Object->Parser, nullptr);
    ASSERT_NE(Object->Host, nullptr);
    EXPECT_EQ(Object->Host->StackSize, 4096);
    EXPECT_EQ(Object->Host->Owner, Object.get());
    EXPECT_EQ(Object->MainFunction->Name, "__MAIN");
}

TEST_F(Scripts, AChildsScriptHandlerRunsTheParentsFunctionOnTheParentsHost) {
    std::string File =
        Write("a.txt", "NEW C = OBJECT:\nEND;\nIMPLEMENTATION\n"
                       "FUNCTION CLICKED() { SELF.TAG = SELF.TAG + 1; ALERT(\"clicked\"); }\n");
    auto Object = Load(File);
    CaptureOutput([&] { Object->RunMain(); });
    TXGuiObject* Child = ChildOf(*Object, "C");
    TXGuiObject* Grandchild = Place(*Child, "G", 0, 0, 1, 1);
    Grandchild->SetHandler(30, RecordAny, Grandchild);
    Child->SetPropertyFromString("TAG", "0");
    TXHandler& Handler = Child->HandlerFor(30);
    Handler.Kind = hkScriptName;
    Handler.FuncName.Assign("CLICKED");
    std::string Output = CaptureOutput([&] { Child->Processmessage(30, nullptr); });
    EXPECT_EQ(Output, "clicked\r\n");
    EXPECT_EQ(Object->Tag, 1);
    EXPECT_EQ(Handler.Kind, hkScriptFunction);
    EXPECT_EQ(Seen, std::vector<std::string>{"G got it"}); // a script handler never handles
}

// A handler gets no argument: its parameters start empty, whatever the slots held before.
TEST_F(Scripts, AHandlersParametersStartEmpty) {
    std::string File =
        Write("a.txt", "IMPLEMENTATION\nVAR X = 7;\n"
                       "FUNCTION CLICKED(A, B) { ALERT(\"[\" + A + B + \"]\"); A = 1; B = 2; }\n");
    auto Object = Load(File);
    CaptureOutput([&] { Object->RunMain(); });
    Object->Host->Stack[1].SetInteger(5);
    Object->Host->Stack[2].SetInteger(6);
    TXHandler& Handler = Object->HandlerFor(30);
    Handler.Kind = hkScriptName;
    Handler.FuncName.Assign("CLICKED");
    EXPECT_EQ(CaptureOutput([&] { Object->Processmessage(30, nullptr); }), "[]\r\n");
    EXPECT_EQ(CaptureOutput([&] { Object->Processmessage(30, nullptr); }), "[]\r\n");
    EXPECT_EQ(Object->Host->Stack[0].AsInteger(), 7);
}

} // namespace

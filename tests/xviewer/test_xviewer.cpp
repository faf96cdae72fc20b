#include "loader_fixture.h"

#include "glrecord.h"
#include "xviewer.h"

#include <chrono>
#include <thread>

namespace {

TXMouseMessage Mouse(int32_t Message, int32_t X, int32_t Y, uint8_t Button = 1) {
    TXMouseMessage Record;
    Record.Msg = Message;
    Record.X = X;
    Record.Y = Y;
    Record.Button = Button;
    return Record;
}

class ViewerFiles : public DefinitionFiles {
protected:
    void SetUp() override {
        DefinitionFiles::SetUp();
        GLRecord::Reset();
    }

    // An application of the two files, its contents taken in, at Width x Height.
    void OpenApplication(TXViewer& Viewer, const std::string& Type, const std::string& Contents,
                         int32_t Width, int32_t Height) {
        Output = CaptureOutput([&] {
            Viewer.OpenApplication(Write("type.txt", Type), Write("contents.txt", Contents));
            Viewer.Resize(Width, Height);
            auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (Viewer.ContentsPending() && !Viewer.CheckContents() &&
                   std::chrono::steady_clock::now() < Deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        ASSERT_NE(Viewer.Contents(), nullptr);
    }

    std::string OpenObject(TXViewer& Viewer, const std::string& Text, int32_t Width = 100,
                           int32_t Height = 100) {
        return CaptureOutput([&] {
            Viewer.OpenObject(Write("main.txt", Text));
            Viewer.Resize(Width, Height);
        });
    }
};

// A: 10,10 50x50 holding B: 5,5 10x10; C: 70,0 20x20 over D at the same place.
const std::string Nested = "NEW A = OBJECT: LEFT = 10; TOP = 10; WIDTH = 50; HEIGHT = 50;\n"
                           "  NEW B = OBJECT: LEFT = 5; TOP = 5; WIDTH = 10; HEIGHT = 10; END;\n"
                           "END;\n"
                           "NEW D = OBJECT: LEFT = 70; WIDTH = 20; HEIGHT = 20; END;\n"
                           "NEW C = OBJECT: LEFT = 70; WIDTH = 20; HEIGHT = 20; END;\n"
                           "END.\n";

using ClickRule = ViewerFiles;

TEST_F(ClickRule, TheDownsObjectFollowsCaptureIndexOnlyWhileTheChildIsUnderThePoint) {
    auto Root = Load(Write("n.txt", Nested));
    TXGuiObject* A = ChildOf(*Root, "A");
    TXGuiObject* B = ChildOf(*A, "B");
    TXMouseMessage Down = Mouse(xmMouseDown, 16, 16);
    Root->Processmessage(xmMouseDown, &Down);
    EXPECT_EQ(CapturedObject(*Root, 16, 16), B);
    // No button-up in between: A still names B, but this down took A only.
    Down = Mouse(xmMouseDown, 40, 40);
    Root->Processmessage(xmMouseDown, &Down);
    EXPECT_EQ(A->CaptureIndex, 0);
    EXPECT_EQ(CapturedObject(*Root, 40, 40), A);
    Down = Mouse(xmMouseDown, 95, 95);
    Root->Processmessage(xmMouseDown, &Down);
    EXPECT_EQ(CapturedObject(*Root, 95, 95), Root.get());
}

TEST_F(ClickRule, ObjectAtTakesTheTopmostVisibleEnabledChildLeftEdgeIncluded) {
    auto Root = Load(Write("n.txt", Nested));
    TXGuiObject* A = ChildOf(*Root, "A");
    EXPECT_EQ(ObjectAt(*Root, 70, 0), ChildOf(*Root, "C"));
    ChildOf(*Root, "C")->Enabled = false;
    EXPECT_EQ(ObjectAt(*Root, 70, 0), ChildOf(*Root, "D"));
    EXPECT_EQ(ObjectAt(*Root, 15, 15), ChildOf(*A, "B"));
    EXPECT_EQ(ObjectAt(*Root, 24, 15), ChildOf(*A, "B"));
    EXPECT_EQ(ObjectAt(*Root, 25, 15), A); // B ends before 25
    A->Visible = false;
    EXPECT_EQ(ObjectAt(*Root, 15, 15), Root.get());
}

TEST_F(ClickRule, OnclickOfTheNearestObjectUpTheTreeInUpperCase) {
    auto Root = Load(Write("c.txt", "SELF.ONCLICK : STRING = \"close\";\n"
                                    "NEW A = OBJECT: NEW B = OBJECT: ONCLICK : INTEGER = 3; END; END;\n"
                                    "NEW C = OBJECT: ONCLICK : STRING = OWN; END;\n"
                                    "END.\n"));
    std::string Name;
    TXGuiObject* B = ChildOf(*ChildOf(*Root, "A"), "B");
    EXPECT_EQ(ClickHandlerOwner(*B, Name), Root.get()); // an INTEGER ONCLICK is not one
    EXPECT_EQ(Name, "CLOSE");
    EXPECT_EQ(ClickHandlerOwner(*ChildOf(*Root, "C"), Name), ChildOf(*Root, "C"));
    EXPECT_EQ(Name, "OWN");
    auto Plain = Load(Write("p.txt", "END."));
    EXPECT_EQ(ClickHandlerOwner(*Plain, Name), nullptr);
}

TEST_F(ClickRule, TheNameIsResolvedInTheNearestScriptOnly) {
    Write("scripted.txt", "SELF.ONCLICK : STRING = HIT;\nIMPLEMENTATION\nFUNCTION OTHER() { }\n");
    auto Root = Load(Write("r.txt", "NEW PLAIN = OBJECT: ONCLICK : STRING = HIT; END;\n"
                                    "NEW SCRIPTED = OBJECT(\"scripted.txt\"): END;\n"
                                    "IMPLEMENTATION\nFUNCTION HIT() { ALERT(\"hit\"); }\n"));
    CaptureOutput([&] { Root->RunMain(); });
    TXMouseMessage Up = Mouse(xmMouseUp, 0, 0);
    bool Ran = false;
    EXPECT_EQ(CaptureOutput([&] { Ran = RunClick(*ChildOf(*Root, "PLAIN"), Up); }), "hit\r\n");
    EXPECT_TRUE(Ran);
    EXPECT_EQ(
        CaptureOutput([&] { Ran = RunClick(*ChildOf(*Root, "SCRIPTED"), Up); }),
        "xview: ONCLICK of SELF.SCRIPTED names HIT, which the nearest script above it does not declare\r\n");
    EXPECT_FALSE(Ran);
}

const std::string Buttons = "NEW A = OBJECT: WIDTH = 40; HEIGHT = 40; ONCLICK : STRING = HITA; END;\n"
                            "NEW B = OBJECT: LEFT = 50; WIDTH = 40; HEIGHT = 40; END;\n"
                            "IMPLEMENTATION\n"
                            "FUNCTION HITA() { ALERT(\"a\"); }\n"
                            "FUNCTION BAD() { TEST(1) }\n"; // no application: a fault

TEST_F(ClickRule, AClickIsAButtonDownAndUpOverTheSameObject) {
    TXViewer Viewer;
    OpenObject(Viewer, Buttons);
    EXPECT_EQ(CaptureOutput([&] { Viewer.Click(5, 5); }), "a\r\n");
    EXPECT_EQ(CaptureOutput([&] {
                  Viewer.PointerDown(5, 5, 1);
                  Viewer.PointerUp(30, 35, 1);
              }),
              "a\r\n");
    EXPECT_EQ(CaptureOutput([&] {
                  Viewer.PointerDown(5, 5, 1);
                  Viewer.PointerUp(60, 5, 1);
                  Viewer.PointerDown(60, 5, 1);
                  Viewer.PointerUp(5, 5, 1);
                  Viewer.PointerDown(5, 5, 3);
                  Viewer.PointerUp(5, 5, 3);
              }),
              "");
}

TEST_F(ClickRule, AFaultingFunctionPrintsTheFaultLineAndClicksGoOn) {
    TXViewer Viewer;
    OpenObject(Viewer, "SELF.ONCLICK : STRING = BAD;\n" + Buttons);
    EXPECT_EQ(CaptureOutput([&] { Viewer.Click(60, 5); }), ScriptFaultLine);
    EXPECT_EQ(CaptureOutput([&] { Viewer.Click(5, 5); }), "a\r\n");
    EXPECT_FALSE(Viewer.Ended());
}

const std::string Window =
    "SELF.WIDTH = 200;\nSELF.HEIGHT = 150;\nSELF.BORDERSIZE = 1;\n"
    "NEW TITLE = OBJECT: ALIGN = 3; HEIGHT = 20;\n"
    "  NEW SHUT = OBJECT: LEFT = 180; WIDTH = 16; HEIGHT = 16; ONCLICK : STRING = CLOSE; END;\n"
    "END;\n"
    "NEW CLIENT = OBJECT: ALIGN = 5; BORDERSIZE = 2; END;\n"
    "IMPLEMENTATION\nFUNCTION CLOSE() { TEST(1) }\n";

const std::string Contents = "NEW PRESS = OBJECT: LEFT = 10; TOP = 10; WIDTH = 30; HEIGHT = 20;\n"
                             "  ONCLICK : STRING = PRESSED;\nEND;\n"
                             "NEW FILL = OBJECT: ALIGN = 4; HEIGHT = 10; END;\n"
                             "IMPLEMENTATION\nFUNCTION PRESSED() { ALERT(\"pressed\"); }\n";

TEST_F(ClickRule, TestOneFromAClickFreesTheApplicationAndEndsTheViewer) {
    TXViewer Viewer;
    OpenApplication(Viewer, Window, Contents, 200, 150);
    CaptureOutput([&] { Viewer.Click(185, 5); });
    EXPECT_TRUE(Viewer.Ended());
    EXPECT_EQ(Viewer.Root(), nullptr);
    EXPECT_EQ(Viewer.Contents(), nullptr);
    // Nothing of the freed trees is touched any more.
    Viewer.PointerMove(20, 20, 0);
    Viewer.Click(20, 40);
    Viewer.DrawFrame();
}

TEST_F(ClickRule, TestOneWhileTheWindowIsBuiltEndsTheViewer) {
    TXViewer Viewer;
    Output = CaptureOutput([&] {
        Viewer.OpenApplication(Write("type.txt", "IMPLEMENTATION\nTEST(1)\n"), Write("c.txt", "END."));
    });
    EXPECT_TRUE(Viewer.Ended());
}

using Composition = ViewerFiles;

TEST_F(Composition, TheContentsTakeTheClientAreaItsPointerAndAreDrawnThereAfterTheWindow) {
    TXViewer Viewer;
    OpenApplication(Viewer, Window, Contents, 200, 150);
    TXGuiObject* Inner = Viewer.Contents();
    EXPECT_EQ(Viewer.ContentsArea(), (TXViewArea{1, 21, 198, 128}));
    EXPECT_EQ(Inner->Width, 198);
    EXPECT_EQ(Inner->Height, 128);
    EXPECT_EQ(ChildOf(*Inner, "FILL")->Top, 118); // laid out in that size
    EXPECT_EQ(CaptureOutput([&] { Viewer.Click(1 + 10, 21 + 10); }), "pressed\r\n");
    EXPECT_EQ(CaptureOutput([&] { Viewer.Click(10, 10); }), "");
    // The window takes the button-down too, in its CLIENT.
    Viewer.PointerDown(1 + 10, 21 + 10, 1);
    EXPECT_EQ(Viewer.Root()->CaptureIndex, 1);
    EXPECT_EQ(Inner->CaptureIndex, 0);
    Viewer.PointerUp(1 + 10, 21 + 10, 2);
    EXPECT_EQ(Inner->CaptureIndex, -1);
    GLRecord::Clear();
    Viewer.DrawFrame();
    EXPECT_EQ(GLRecord::TraceOf({"glTranslatef"}).back(), "glTranslatef(-1, -21, 0)");
    std::vector<std::string> Moves = GLRecord::TraceOf({"glTranslatef"});
    EXPECT_NE(std::find(Moves.begin(), Moves.end(), "glTranslatef(1, 21, 0)"), Moves.end());
    Viewer.Resize(300, 200);
    EXPECT_EQ(Inner->Width, 298);
    EXPECT_EQ(Inner->Height, 178);
    EXPECT_EQ(ChildOf(*Inner, "FILL")->Top, 168);
}

TEST_F(Composition, WithoutAClientTheContentsCoverTheWindow) {
    TXViewer Viewer;
    OpenApplication(Viewer, "SELF.WIDTH = 120;\nEND.\n", Contents, 120, 90);
    EXPECT_EQ(Viewer.ContentsArea(), (TXViewArea{0, 0, 120, 90}));
    EXPECT_EQ(Viewer.Contents()->Width, 120);
    EXPECT_EQ(CaptureOutput([&] { Viewer.Click(15, 15); }), "pressed\r\n");
}

TEST_F(Composition, HoveringInsideTheContentsEndsWhenThePointerLeavesThem) {
    TXViewer Viewer;
    OpenApplication(Viewer, Window, Contents, 200, 150);
    TXGuiObject* Press = ChildOf(*Viewer.Contents(), "PRESS");
    Viewer.PointerMove(1 + 15, 21 + 15, 0);
    EXPECT_EQ(Viewer.Contents()->Hover, Press);
    Viewer.PointerMove(5, 5, 0); // over the title
    EXPECT_EQ(Viewer.Contents()->Hover, Viewer.Contents());
    Viewer.PointerMove(1 + 15, 21 + 15, 0);
    Viewer.PointerLeft();
    EXPECT_EQ(Viewer.Contents()->Hover, Viewer.Contents());
    EXPECT_EQ(Viewer.Root()->Hover, Viewer.Root());
}

TEST_F(Composition, TheWindowOpensAtTheRootsSizeOrTheDefaultsWhenItHasNone) {
    TXViewer Viewer;
    int32_t Width = 0, Height = 0;
    Output = CaptureOutput([&] { Viewer.OpenObject(Write("m.txt", "SELF.WIDTH = 123;\nEND.\n")); });
    Viewer.PreferredSize(Width, Height);
    EXPECT_EQ(Width, 123);
    EXPECT_EQ(Height, DefaultViewHeight);
    Viewer.Root()->Width = 100000;
    Viewer.PreferredSize(Width, Height);
    EXPECT_EQ(Width, MaxViewSize);
}

using RedrawRule = ViewerFiles;

TEST_F(RedrawRule, OnceAfterAnythingThatMayChangeThePictureAndNeverWhenIdle) {
    TXViewer Viewer;
    OpenApplication(Viewer, Window, Contents, 200, 150);
    EXPECT_TRUE(Viewer.TakeRedraw());
    EXPECT_FALSE(Viewer.TakeRedraw());
    EXPECT_FALSE(Viewer.CheckContents()); // taken in once only
    EXPECT_FALSE(Viewer.TakeRedraw());
    Viewer.PointerMove(3, 3, 0);
    EXPECT_TRUE(Viewer.TakeRedraw());
    Viewer.Resize(210, 160);
    EXPECT_TRUE(Viewer.TakeRedraw());
    CaptureOutput([&] { Viewer.Click(1 + 10, 21 + 10); });
    EXPECT_TRUE(Viewer.TakeRedraw());
    Viewer.DrawFrame();
    EXPECT_FALSE(Viewer.TakeRedraw());
}

TEST_F(RedrawRule, TheContentsArrivingAsksForARedraw) {
    TXViewer Viewer;
    Output = CaptureOutput([&] {
        Viewer.OpenApplication(Write("type.txt", Window), Write("c.txt", Contents));
        Viewer.Resize(200, 150);
        EXPECT_TRUE(Viewer.TakeRedraw());
        while (!Viewer.CheckContents()) {
            EXPECT_FALSE(Viewer.TakeRedraw());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_TRUE(Viewer.TakeRedraw());
    EXPECT_FALSE(Viewer.ContentsPending());
}

} // namespace

#include "xviewer.h"

#include "xlogging.h"

#include <GL/gl.h>

#include <algorithm>

namespace {

constexpr std::string_view RootName = "MAIN";
constexpr std::string_view ClientName = "CLIENT";
constexpr std::string_view ClickPropertyName = "ONCLICK";
// Far outside any object: where the pointer goes when it leaves the window.
constexpr int32_t Outside = -1000000;

int32_t Wrap(int64_t Value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(Value)));
}

// The button-down test: inclusive on the left and top edges.
bool TakesDown(const TXGuiObject& Child, int32_t X, int32_t Y) {
    return Child.Visible && Child.Enabled && Child.Left <= X &&
           int64_t(X) < int64_t(Child.Left) + Child.Width && Child.Top <= Y &&
           int64_t(Y) < int64_t(Child.Top) + Child.Height;
}

// The deepest object of the hover chain below Root; null when the pointer is over no child.
const TXGuiObject* HoveredObject(const TXGuiObject& Root) {
    const TXGuiObject* Current = &Root;
    while (Current->Hover && Current->Hover != Current) Current = Current->Hover;
    return Current == &Root ? nullptr : Current;
}

} // namespace

TXGuiObject* CapturedObject(TXGuiObject& Root, int32_t X, int32_t Y) {
    TXGuiObject* Current = &Root;
    for (;;) {
        TXGuiObject* Next = Current->CaptureIndex >= 0 ? Current->Child(Current->CaptureIndex) : nullptr;
        if (!Next || !TakesDown(*Next, X, Y)) return Current;
        X = Wrap(int64_t(X) - Next->Left);
        Y = Wrap(int64_t(Y) - Next->Top);
        Current = Next;
    }
}

TXGuiObject* ObjectAt(TXGuiObject& Root, int32_t X, int32_t Y) {
    TXGuiObject* Current = &Root;
    for (;;) {
        TXGuiObject* Next = nullptr;
        for (int32_t Index = Current->ChildCount() - 1; Index >= 0 && !Next; Index--) {
            TXGuiObject* Candidate = Current->Child(Index);
            if (Candidate && TakesDown(*Candidate, X, Y)) Next = Candidate;
        }
        if (!Next) return Current;
        X = Wrap(int64_t(X) - Next->Left);
        Y = Wrap(int64_t(Y) - Next->Top);
        Current = Next;
    }
}

TXObject* ClickHandlerOwner(TXGuiObject& Target, std::string& FunctionName) {
    for (TXObject* Current = &Target; Current; Current = Current->Parent) {
        const TXProperty* Property = Current->FindProperty(ClickPropertyName);
        if (!Property || Property->Kind != ptString || !Property->Data) continue;
        // Script names are upper case, as the tokenizer reads them.
        FunctionName = LoadPropertyString(Property->Data);
        for (char& Character : FunctionName)
            if (Character >= 'a' && Character <= 'z') Character = char(Character - 'a' + 'A');
        return Current;
    }
    FunctionName.clear();
    return nullptr;
}

bool RunClick(TXGuiObject& Target, TXMouseMessage& Record) {
    std::string FunctionName;
    TXObject* Owner = ClickHandlerOwner(Target, FunctionName);
    if (!Owner || FunctionName.empty()) return false;
    const auto* GuiOwner = dynamic_cast<const TXGuiObject*>(Owner);
    const std::string OwnerName = GuiOwner ? ObjectPath(*GuiOwner) : std::string(Owner->Name.View());
    TXHandler Handler;
    Handler.Kind = hkScriptName;
    Handler.FuncName.Assign(FunctionName);
    {
        // What the script asks to free (TEST(1)) goes when this scope ends, after the call.
        TXRunScope Scope;
        Owner->CallFunction(Handler, &Record);
    }
    if (Handler.Kind == hkScriptFunction) return true;
    LogLine(3, "xview: ONCLICK of " + OwnerName + " names " + FunctionName +
                   ", which the nearest script above it does not declare");
    return false;
}

// Owns the root; told when the root goes by itself (a script's TEST(1)). Scripts and
// handlers never see it: it has no script, and an application stops every walk up its tree.
class TXViewer::THolder : public TXObject {
public:
    THolder() : TXObject(nullptr, "XVIEW") {}
    ~THolder() noexcept(false) override { Destroy(); }

    TXGuiObject* Root = nullptr;

protected:
    bool ForgetChild(std::string_view ChildName) override {
        if (Root && ChildName == Root->Name.View()) Root = nullptr;
        return false;
    }
};

TXViewer::TXViewer() : ViewPainter(std::make_unique<TXViewPainter>()) {}

TXViewer::~TXViewer() {
    Holder.reset();
    ViewPainter.reset();
}

void TXViewer::OpenObject(std::string_view File) {
    Holder = std::make_unique<THolder>();
    auto* Object = new TXGuiObject(Holder.get(), File, RootName);
    Holder->Root = Object;
    Opened = true;
    Object->RunMain();
    TXViewPainter::InstallHandlers(*Object);
    Dirty = true;
}

void TXViewer::OpenApplication(std::string_view TypeFile, std::string_view ContentsFile) {
    Holder = std::make_unique<THolder>();
    auto* Made = new TXGuiApplication(Holder.get(), TypeFile, ContentsFile, RootName);
    Holder->Root = Made;
    Opened = true;
    // Its window's own script asked for its end while it was being built.
    if (Made->DestroyRequested) {
        delete Made;
        return;
    }
    TXViewPainter::InstallHandlers(*Made);
    Dirty = true;
}

TXGuiObject* TXViewer::Root() const {
    return Holder ? Holder->Root : nullptr;
}

TXGuiApplication* TXViewer::Application() const {
    return dynamic_cast<TXGuiApplication*>(Root());
}

TXGuiObject* TXViewer::Contents() const {
    return Root() ? ContentsTaken : nullptr;
}

bool TXViewer::ContentsPending() const {
    TXGuiApplication* Shown = Application();
    return Shown && !ContentsTaken;
}

bool TXViewer::CheckContents() {
    TXGuiApplication* Shown = Application();
    if (!Shown || ContentsTaken || !Shown->Loaded.load(std::memory_order_acquire)) return false;
    ContentsTaken = Shown->ContentsObject.load(std::memory_order_acquire);
    if (!ContentsTaken) return false;
    TXViewPainter::InstallHandlers(*ContentsTaken);
    Compose();
    Dirty = true;
    return true;
}

void TXViewer::PreferredSize(int32_t& Width, int32_t& Height) const {
    TXGuiObject* Shown = Root();
    Width = Shown && Shown->Width > 0 ? Shown->Width : DefaultViewWidth;
    Height = Shown && Shown->Height > 0 ? Shown->Height : DefaultViewHeight;
    Width = std::clamp(Width, MinViewSize, MaxViewSize);
    Height = std::clamp(Height, MinViewSize, MaxViewSize);
}

void TXViewer::Resize(int32_t Width, int32_t Height) {
    ViewWidth = Width;
    ViewHeight = Height;
    Dirty = true;
    TXGuiObject* Shown = Root();
    if (!Shown) return;
    Shown->Width = Width;
    Shown->Height = Height;
    Shown->Processmessage(xmAlign, nullptr);
    Compose();
}

TXGuiObject* TXViewer::ClientObject() const {
    TXGuiObject* Shown = Root();
    if (!Shown) return nullptr;
    const TXProperty* Property = Shown->FindProperty(ClientName);
    if (!Property || Property->Kind != ptObject) return nullptr;
    auto* Client = dynamic_cast<TXGuiObject*>(static_cast<TXObject*>(Property->Data));
    return Client && Client->Parent == Shown ? Client : nullptr;
}

TXViewArea TXViewer::ContentsArea() const {
    if (TXGuiObject* Client = ClientObject())
        return {Client->Left, Client->Top, Client->Width, Client->Height};
    return {0, 0, ViewWidth, ViewHeight};
}

// The contents take the size of their area, and are laid out again when it changed.
void TXViewer::Compose() {
    TXGuiObject* Shown = Contents();
    if (!Shown) return;
    TXViewArea Area = ContentsArea();
    Shown->Width = Area.Width;
    Shown->Height = Area.Height;
    Shown->Processmessage(xmAlign, nullptr);
}

bool TXViewer::InsideContents(int32_t X, int32_t Y) const {
    return Contents() && ContentsArea().Contains(X, Y);
}

void TXViewer::Routed(int32_t Message, int32_t X, int32_t Y, uint8_t Button, bool ToContents) {
    // The root is drawn at the window's origin, so window coordinates are the root's.
    TXViewArea Area = ContentsArea();
    if (TXGuiObject* Shown = Root()) {
        TXMouseMessage Record;
        Record.Msg = Message;
        Record.X = X;
        Record.Y = Y;
        Record.Button = Button;
        Shown->Processmessage(Message, &Record);
    }
    if (!ToContents) return;
    if (TXGuiObject* Shown = Contents()) {
        TXMouseMessage Record;
        Record.Msg = Message;
        Record.X = Wrap(int64_t(X) - Area.Left);
        Record.Y = Wrap(int64_t(Y) - Area.Top);
        Record.Button = Button;
        Shown->Processmessage(Message, &Record);
    }
}

void TXViewer::PointerDown(int32_t X, int32_t Y, uint8_t Button) {
    Dirty = true;
    if (!Root()) return;
    const bool ToContents = InsideContents(X, Y);
    Routed(xmMouseDown, X, Y, Button, ToContents);
    if (ToContents) ContentsPressed = true;
    if (Button != ClickButton || !Root()) return;
    TXViewArea Area = ContentsArea();
    DownInContents = ToContents;
    DownTarget =
        ToContents ? CapturedObject(*Contents(), X - Area.Left, Y - Area.Top) : CapturedObject(*Root(), X, Y);
}

void TXViewer::PointerMove(int32_t X, int32_t Y, uint8_t Button) {
    Dirty = true;
    const bool Inside = InsideContents(X, Y);
    // Once more to the contents after the pointer has left them, so their hovering ends.
    Routed(xmMouseMove, X, Y, Button, Inside || ContentsPressed || PointerInContents);
    PointerX = X;
    PointerY = Y;
    PointerInside = true;
    PointerInContents = Inside;
}

void TXViewer::PointerUp(int32_t X, int32_t Y, uint8_t Button) {
    Dirty = true;
    if (!Root()) return;
    const bool Inside = InsideContents(X, Y);
    Routed(xmMouseUp, X, Y, Button, Inside || ContentsPressed);
    ContentsPressed = false;
    if (Button != ClickButton || !DownTarget) return;
    TXGuiObject* Target = DownTarget;
    DownTarget = nullptr;
    TXGuiObject* Tree = DownInContents ? Contents() : Root();
    if (!Tree || (DownInContents && !Inside)) return;
    TXViewArea Area = ContentsArea();
    const int32_t LocalX = DownInContents ? X - Area.Left : X, LocalY = DownInContents ? Y - Area.Top : Y;
    if (ObjectAt(*Tree, LocalX, LocalY) != Target) return;
    TXMouseMessage Record;
    Record.Msg = xmMouseUp;
    Record.X = LocalX;
    Record.Y = LocalY;
    Record.Button = Button;
    RunClick(*Target, Record);
    // The script may have changed sizes; nothing is left of a freed application.
    if (Root())
        Compose();
    else
        ViewPainter->ForgetObjects();
}

void TXViewer::PointerLeft() {
    Dirty = true;
    if (!PointerInside) return;
    Routed(xmMouseMove, Outside, Outside, 0, PointerInContents);
    PointerInside = false;
    PointerInContents = false;
}

void TXViewer::Click(int32_t X, int32_t Y) {
    PointerDown(X, Y, ClickButton);
    PointerUp(X, Y, ClickButton);
}

bool TXViewer::TakeRedraw() {
    bool Redraw = Dirty;
    Dirty = false;
    return Redraw;
}

void TXViewer::DrawFrame() {
    glViewport(0, 0, ViewWidth, ViewHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, double(ViewWidth), double(ViewHeight), 0.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    TXGuiObject* Shown = Root();
    if (!Shown) return;
    TXPaintScope Scope(*ViewPainter);
    TXGuiObject* Inner = Contents();
    ViewPainter->Hovered = nullptr;
    if (PointerInside) ViewPainter->Hovered = HoveredObject(PointerInContents && Inner ? *Inner : *Shown);
    ViewPainter->Captured = DownTarget;
    TXDrawMessage Record;
    Record.Alpha = 1.0f;
    // The root at the window's origin, wherever its LEFT and TOP put it.
    ViewPainter->DepthOffset = 0;
    const float RootLeft = float(Shown->Left), RootTop = float(Shown->Top);
    glTranslatef(-RootLeft, -RootTop, 0.0f);
    Shown->Processmessage(xmDraw, &Record);
    glTranslatef(RootLeft, RootTop, 0.0f);
    if (!Inner) return;
    TXGuiObject* Client = ClientObject();
    ViewPainter->DepthOffset = Client ? ObjectDepth(*Client) + 1 : 1;
    TXViewArea Area = ContentsArea();
    const float Left = float(int64_t(Area.Left) - Inner->Left), Top = float(int64_t(Area.Top) - Inner->Top);
    glTranslatef(Left, Top, 0.0f);
    Record.Alpha = 1.0f;
    Inner->Processmessage(xmDraw, &Record);
    glTranslatef(-Left, -Top, 0.0f);
}

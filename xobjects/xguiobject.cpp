#include "xguiobject.h"

#include "xlogging.h"
#include "xscriptvariable.h"

#include <algorithm>
#include <atomic>
#include <string>

namespace {

constexpr std::string_view BaseTypeName = "OBJECT";

std::atomic<TXDrawOffsetRoutine> DrawOffsetSet{nullptr};

void MoveDrawOrigin(float X, float Y) {
    if (TXDrawOffsetRoutine Routine = DrawOffsetSet.load(std::memory_order_acquire)) Routine(X, Y);
}

// Geometry sums are formed wide and stored back wrapped to 32 bits, so that no input
// overflows.
int32_t Wrap(int64_t Value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(Value)));
}

bool Contains(int64_t Low, int64_t Extent, int64_t Value, bool Inclusive) {
    return (Inclusive ? Low <= Value : Low < Value) && Value < Low + Extent;
}

// Down: inclusive on the left and top edges; move: strict on all four.
bool Hits(const TXGuiObject& Child, int32_t X, int32_t Y, bool Inclusive) {
    return Child.Visible && Child.Enabled && Contains(Child.Left, Child.Width, X, Inclusive) &&
           Contains(Child.Top, Child.Height, Y, Inclusive);
}

// The area layout leaves free: left, top, right, bottom.
struct TFreeArea {
    int64_t Left, Top, Right, Bottom;

    void NarrowBy(const TXGuiObject& Sibling) {
        if (!Sibling.Visible) return;
        switch (Sibling.Align) {
        case 1: Left = std::max(Left, int64_t(Sibling.Left) + Sibling.Width); break;
        case 2: Right = std::min(Right, int64_t(Sibling.Left)); break;
        case 3: Top = std::max(Top, int64_t(Sibling.Top) + Sibling.Height); break;
        case 4: Bottom = std::min(Bottom, int64_t(Sibling.Top)); break;
        default: break;
        }
    }
};

} // namespace

TXGuiObject::TXGuiObject(TXObject* InitialParent, std::string_view FileName, std::string_view InitialName)
    : TXObject(InitialParent, InitialName),
      Children(std::make_unique<TItemList>(int32_t(sizeof(TXGuiObject*)))),
      Handlers(std::make_unique<TIntegerList>(int32_t(sizeof(TXHandler)))) {
    SetHandler(xmDraw, MethodCode<&TXGuiObject::HandleDraw>, this);
    SetHandler(xmAlign, MethodCode<&TXGuiObject::HandleAlign>, this);
    SetHandler(xmMouseMove, MethodCode<&TXGuiObject::HandleMouseMove>, this);
    SetHandler(xmMouseDown, MethodCode<&TXGuiObject::HandleMouseDown>, this);
    SetHandler(xmMouseUp, MethodCode<&TXGuiObject::HandleMouseUp>, this);
    // Children takes the name unless another child has it there; the parent's Destroy frees
    // every child its Children holds.
    if (auto* GuiParent = dynamic_cast<TXGuiObject*>(Parent)) {
        TXGuiObject* Self = this;
        if (GuiParent->Children) GuiParent->Children->Add(Name.View(), &Self);
    }
    AddProperty("ALIGN", ptInteger, &Align);
    AddProperty("ALPHA", ptFloat, &Alpha);
    AddProperty("LEFT", ptInteger, &Left);
    AddProperty("TOP", ptInteger, &Top);
    AddProperty("TAG", ptInteger, &Tag);
    AddProperty("WIDTH", ptInteger, &Width);
    AddProperty("HEIGHT", ptInteger, &Height);
    AddProperty("ENABLED", ptBoolean, &Enabled);
    AddProperty("VISIBLE", ptBoolean, &Visible);
    AddProperty("BORDERSIZE", ptInteger, &BorderSize);
    if (!FileName.empty()) Load(FileName);
    if (!HasImplementation) Parser.reset();
}

TXGuiObject::~TXGuiObject() noexcept(false) {
    Destroy();
    Handlers.reset();
    Children.reset();
    MainFunction.reset();
    Host.reset();
    Parser.reset();
}

bool TXGuiObject::ForgetChild(std::string_view ChildName) {
    if (!Children) return false;
    if (void* Entry = Children->Find(ChildName)) {
        TXGuiObject* Gone;
        std::memcpy(&Gone, Entry, sizeof Gone);
        if (Focus == Gone) Focus = nullptr;
    }
    bool Deleted = Children->Delete(ChildName);
    Hover = nullptr;
    CaptureIndex = -1;
    return Deleted;
}

bool TXGuiObject::ListsChild(const TXObject& Listed) const {
    void* Entry = Children ? Children->Find(Listed.Name.View()) : nullptr;
    if (!Entry) return false;
    TXGuiObject* Found;
    std::memcpy(&Found, Entry, sizeof Found);
    return Found == &Listed;
}

void TXGuiObject::DestroyListedChildren() {
    for (int32_t Index = ChildCount() - 1; Index >= 0; Index--) {
        TXGuiObject* Listed = Child(Index);
        if (!Listed || Listed->Parent != this) continue;
        try {
            delete Listed;
        } catch (...) {
            LogLine(9, "exception in " + std::string(Name.View()) + ".Destroy, deleting child " +
                           std::to_string(Index) + "/" + std::to_string(ChildCount()));
        }
    }
}

int32_t TXGuiObject::ChildCount() const {
    return Children ? Children->Count : 0;
}

TXGuiObject* TXGuiObject::Child(int32_t Index) const {
    if (!Children) return nullptr;
    TItemNode* Node = Children->GetItem(Index);
    if (!Node) return nullptr;
    TXGuiObject* Found;
    std::memcpy(&Found, Node->Payload(), sizeof Found);
    return Found;
}

TXHandler& TXGuiObject::HandlerFor(int32_t Message) {
    void* Entry = Handlers->Find(Message);
    if (!Entry) {
        TXHandler Empty;
        Handlers->Add(Message, &Empty);
        Entry = Handlers->Find(Message);
    }
    return *static_cast<TXHandler*>(Entry);
}

void TXGuiObject::SetHandler(int32_t Message, TXHandlerMethod Code, TXObject* Object) {
    TXHandler& Handler = HandlerFor(Message);
    Handler.Kind = hkMethod;
    Handler.Code = Code;
    Handler.Data = Object;
}

void TXGuiObject::Processmessage(int32_t Message, void* Parameter) {
    TXRunScope Scope;
    try {
        bool Handled = false;
        if (void* Entry = Handlers->Find(Message))
            Handled = CallFunction(*static_cast<TXHandler*>(Entry), Parameter);
        if (Handled || Message == xmPaint) return;
        for (int32_t Index = 0; Index < ChildCount(); Index++)
            if (TXGuiObject* Receiver = Child(Index)) Receiver->Processmessage(Message, Parameter);
    } catch (...) {
        LogLine(8, "internal error in TXGuiObject(" + std::string(Name.View()) +
                       ").Processmessage, Message " + std::to_string(Message));
    }
}

void TXGuiObject::RunMain() {
    TXRunScope Scope;
    if (HasImplementation && Parser) {
        HasImplementation = false;
        Host = std::make_unique<TXScriptHost>(ObjectScriptStackSize, this);
        MainFunction = CompileMainFunction(*Parser);
        Parser.reset();
        TXScriptVariable Result;
        MainFunction->Execute(*Host, Result);
    }
    HasImplementation = false;
    for (int32_t Index = 0; Index < ChildCount(); Index++)
        if (TXGuiObject* Next = Child(Index)) Next->RunMain();
}

bool TXGuiObject::HandleDraw(void* Parameter) {
    if (!Parameter) return true;
    const auto* Incoming = static_cast<const TXDrawMessage*>(Parameter);
    MoveDrawOrigin(static_cast<float>(Left), static_cast<float>(Top));
    TXDrawMessage Record;
    Record.Alpha = Incoming->Alpha * Alpha;
    Processmessage(xmPaint, &Record);
    int32_t Count = ChildCount();
    for (int32_t Index = 0; Index < Count; Index++) {
        TXGuiObject* Next = Child(Index);
        if (!Next) break;
        if (Next->Visible && Next->Alpha > 0.0f && Next->Left < Width && Next->Top < Height)
            Next->Processmessage(xmDraw, &Record);
    }
    MoveDrawOrigin(-static_cast<float>(Left), -static_cast<float>(Top));
    return true;
}

bool TXGuiObject::HandleMouseDown(void* Parameter) {
    if (!Parameter) return true;
    const auto* Incoming = static_cast<const TXMouseMessage*>(Parameter);
    TXMouseMessage Record;
    Record.Msg = xmMouseDown;
    Record.Button = Incoming->Button;
    for (int32_t Index = ChildCount() - 1; Index >= 0; Index--) {
        TXGuiObject* Target = Child(Index);
        if (!Target || !Hits(*Target, Incoming->X, Incoming->Y, true)) continue;
        CaptureIndex = Index;
        if (Target->Focusable) Focus = Target;
        Record.X = Wrap(int64_t(Incoming->X) - Target->Left);
        Record.Y = Wrap(int64_t(Incoming->Y) - Target->Top);
        Target->Processmessage(xmMouseDown, &Record);
        return true;
    }
    Focus = nullptr;
    return true;
}

bool TXGuiObject::HandleMouseMove(void* Parameter) {
    if (!Parameter) return true;
    auto* Incoming = static_cast<TXMouseMessage*>(Parameter);
    TXMouseMessage Record;
    Record.Msg = xmMouseMove;
    Record.Button = Incoming->Button;
    TXGuiObject* OldHover = Hover;
    Hover = this;
    int32_t Count = ChildCount();
    for (int32_t Index = 0; Index < Count; Index++) {
        TXGuiObject* Target = Child(Index);
        if (!Target) break;
        bool Captured = Index == CaptureIndex;
        if (!Captured && !Hits(*Target, Incoming->X, Incoming->Y, false)) continue;
        Record.X = Wrap(int64_t(Incoming->X) - Target->Left);
        Record.Y = Wrap(int64_t(Incoming->Y) - Target->Top);
        Target->Processmessage(xmMouseMove, &Record);
        // A captured child outside the pointer gets the move but does not become Hover.
        if (!Captured || Hits(*Target, Incoming->X, Incoming->Y, false)) Hover = Target;
    }
    if (Hover == OldHover) return true;
    if (OldHover && OldHover != this) OldHover->Processmessage(xmMouseLeave, Incoming);
    if (Hover && Hover != this) Hover->Processmessage(xmMouseEnter, Incoming);
    return true;
}

bool TXGuiObject::HandleMouseUp(void*) {
    CaptureIndex = -1;
    return false;
}

bool TXGuiObject::HandleAlign(void*) {
    const TFreeArea Start{BorderSize, BorderSize, int64_t(Width) - BorderSize, int64_t(Height) - BorderSize};
    TFreeArea Free = Start;
    int32_t Count = ChildCount();
    for (int32_t Index = 0; Index < Count; Index++) {
        TXGuiObject* Target = Child(Index);
        if (!Target) break;
        switch (Target->Align) {
        case 1:
            Target->Left = Wrap(Free.Left);
            Target->Top = Wrap(Free.Top);
            Target->Height = Wrap(Free.Bottom - Free.Top);
            break;
        case 2:
            Target->Left = Wrap(Free.Right - Target->Width);
            Target->Top = Wrap(Free.Top);
            Target->Height = Wrap(Free.Bottom - Free.Top);
            break;
        case 3:
            Target->Left = Wrap(Free.Left);
            Target->Top = Wrap(Free.Top);
            Target->Width = Wrap(Free.Right - Free.Left);
            break;
        case 4:
            Target->Left = Wrap(Free.Left);
            Target->Top = Wrap(Free.Bottom - Target->Height);
            Target->Width = Wrap(Free.Right - Free.Left);
            break;
        default: break;
        }
        // The siblings after this one see it where it has just been placed.
        Free.NarrowBy(*Target);
    }
    for (int32_t Index = 0; Index < Count; Index++) {
        TXGuiObject* Target = Child(Index);
        if (!Target) break;
        if (Target->Align != 5) continue;
        Target->Left = Wrap(Free.Left);
        Target->Top = Wrap(Free.Top);
        Target->Width = Wrap(Free.Right - Free.Left);
        Target->Height = Wrap(Free.Bottom - Free.Top);
    }
    return false;
}

void SetDrawOffsetRoutine(TXDrawOffsetRoutine Routine) {
    DrawOffsetSet.store(Routine, std::memory_order_release);
}

TXObject* CreateBaseObject(std::string_view TypeName, TXObject* Parent, std::string_view FileName,
                           std::string_view ObjectName) {
    if (TypeName != BaseTypeName) return nullptr;
    return new TXGuiObject(Parent, FileName, ObjectName);
}

void StartGuiObjects() {
    RegisterObjectType(BaseTypeName, CreateBaseObject);
}

void StopGuiObjects() {
    // The registry, with its entries, goes at the object model's shut-down.
}

#pragma once

#include "fileparser.h"
#include "xlist.h"
#include "xobjects.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

#include <cstdint>
#include <memory>
#include <string_view>

// GUI objects: rectangles with position, size, opacity, visibility and an alignment rule,
// built from object definition files, holding child GUI objects drawn over them in list
// order, running their file's script once, and reacting to numbered messages.

// Message numbers.
enum TXMessageNumber : int32_t {
    xmDraw = 0,        // TXDrawMessage or null: HandleDraw
    xmPaint = 1,       // TXDrawMessage: the object's own drawing; never passed on to children
    xmAlign = 2,       // null: HandleAlign, then every child
    xmMouseDown = 10,  // TXMouseMessage: HandleMouseDown
    xmMouseMove = 11,  // TXMouseMessage: HandleMouseMove
    xmMouseUp = 12,    // any: HandleMouseUp, then every child
    xmMouseEnter = 13, // the sender's TXMouseMessage
    xmMouseLeave = 14, // the sender's TXMouseMessage
};

#pragma pack(push, 1)
struct TXDrawMessage {
    int32_t Msg = xmDraw;
    int32_t Size = 12;
    float Alpha = 1.0f;
};

// X and Y are relative to the receiving object; Button is carried along unchanged.
struct TXMouseMessage {
    int32_t Msg = xmMouseDown;
    int32_t Size = 17;
    int32_t X = 0;
    int32_t Y = 0;
    uint8_t Button = 0;
};
#pragma pack(pop)
static_assert(sizeof(TXDrawMessage) == 12, "a draw message is 12 bytes");
static_assert(sizeof(TXMouseMessage) == 17, "a mouse message is 17 bytes");

// The value stack of an object's script host, in entries.
constexpr int32_t ObjectScriptStackSize = 4096;
// Definition files loading inside one another and NEW blocks inside one another, counted
// together on one thread. A file that would load deeper is not loaded (its object is made
// without it), a NEW block that would open deeper is skipped; one line says so.
constexpr int32_t MaxLoadNesting = 64;
// Objects the NEW blocks of one load make, the children's files included (a file that names
// itself twice would otherwise make 2^64). Past it every NEW block is skipped, one line each:
// "<file> line <n>: object <name> skipped, more than 4096 objects in one load".
constexpr int32_t MaxLoadObjects = 4096;

class TXGuiObject : public TXObject {
public:
    // Installs the default handlers, registers the object with its parent (and in the
    // parent's Children when the parent is a GUI object whose Children does not have the
    // name yet: a child named like a value property of its parent is not reachable by name
    // but is still laid out, drawn and run), adds the built-in properties, then loads
    // FileName unless it is empty (see docs/definition-files.md).
    TXGuiObject(TXObject* InitialParent, std::string_view FileName, std::string_view InitialName);
    ~TXGuiObject() noexcept(false) override;

    // The handler stored for Message gives "handled" (a script handler never does); when
    // not handled and Message is not xmPaint, every child gets it, index 0 first while the
    // index is below the current ChildCount. Exceptions are logged at level 8, never passed on.
    virtual void Processmessage(int32_t Message, void* Parameter);
    // Compiles the script after the file's "IMPLEMENTATION" as "__MAIN" on a host of 4096
    // entries whose SELF is this object and runs it once (the first call only), then does
    // the same for every child in order.
    void RunMain();
    // The stored record for Message; a zero-filled hkNone record is stored first when there
    // is none.
    TXHandler& HandlerFor(int32_t Message);
    // HandlerFor, then the record becomes hkMethod with Code on Object.
    void SetHandler(int32_t Message, TXHandlerMethod Code, TXObject* Object);
    int32_t ChildCount() const;
    // The child at a zero-based position in Children; null outside 0 .. ChildCount - 1.
    TXGuiObject* Child(int32_t Index) const;

    // The default handlers; true when the message is handled.
    bool HandleDraw(void* Parameter);      // always true
    bool HandleAlign(void* Parameter);     // always false: the children are laid out next
    bool HandleMouseDown(void* Parameter); // always true
    bool HandleMouseMove(void* Parameter); // always true
    bool HandleMouseUp(void* Parameter);   // always false: every child releases its capture

    TXScriptObjectFunction* ScriptFunction() const override { return MainFunction.get(); }
    TXScriptHost* ScriptHost() const override { return Host.get(); }

    std::unique_ptr<TFileParser> Parser;    // kept only while a script waits to be compiled
    bool HasImplementation = false;         // the file has a script that has not yet run
    std::unique_ptr<TItemList> Children;    // of TXGuiObject*, keyed by name, in creation order
    std::unique_ptr<TIntegerList> Handlers; // of TXHandler, keyed by message number
    bool Visible = true;                    // "VISIBLE"
    bool Enabled = true;                    // "ENABLED"
    float Alpha = 1.0f;                     // "ALPHA"
    int32_t Top = 0;                        // "TOP", relative to the parent
    int32_t Left = 0;                       // "LEFT", relative to the parent
    int32_t Height = 0;                     // "HEIGHT"
    int32_t Align = 0;                      // "ALIGN": 0 none, 1 left, 2 right, 3 top, 4 bottom, 5 client
    int32_t Width = 0;                      // "WIDTH"
    int32_t Tag = 0;                        // "TAG": free for scripts
    int32_t BorderSize = 0;                 // "BORDERSIZE": inner margin for layout
    int32_t CaptureIndex = -1;              // the child that took the last button-down, or -1
    TXGuiObject* Hover = nullptr;           // the child under the pointer, this object, or null
    bool Focusable = false;                 // a button-down on it makes it its parent's Focus
    TXGuiObject* Focus = nullptr;           // the focusable child of the last button-down
    std::unique_ptr<TXScriptHost> Host;
    std::unique_ptr<TXScriptObjectFunction> MainFunction;

protected:
    bool ForgetChild(std::string_view ChildName) override;
    bool ListsChild(const TXObject& Child) const override;
    // Frees the children only Children holds (their names are taken by value properties).
    void DestroyListedChildren() override;

private:
    friend class TXDefinitionLoader;
    // Reads FileName into this object (the constructor's last step).
    void Load(std::string_view FileName);
};

// Moves the drawing origin by X, Y pixels: HandleDraw moves it to an object's top-left corner
// before the object and its children are drawn, and back after. The layer that draws
// registers it at its start-up (the viewer, with OpenGL); without one nothing moves.
using TXDrawOffsetRoutine = void (*)(float X, float Y);
void SetDrawOffsetRoutine(TXDrawOffsetRoutine Routine);

// The factory of "OBJECT": for that type name a new TXGuiObject with the given parent, file
// and name, which loads the file; for any other null.
TXObject* CreateBaseObject(std::string_view TypeName, TXObject* Parent, std::string_view FileName,
                           std::string_view ObjectName);

// The GUI objects' start-up ("OBJECT" registered in the object model's registry) and
// shut-down; the start-up unit runs them, after the object model's.
void StartGuiObjects();
void StopGuiObjects();

#pragma once

#include "xguiapp.h"
#include "xviewpaint.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The viewer: shows a GUI object, or an application with its contents, in a window of the
// caller's (library `xviewer`; the program is tools/xview.cpp). It only uses the object
// model's operations: it gives every object its paint handler, draws the tree with xmDraw,
// lays it out with xmAlign, turns the pointer into xmMouseDown, xmMouseMove and xmMouseUp,
// and runs the script function an ONCLICK property names when an object is clicked.
//
// An application does not own or draw its contents; the viewer puts the two trees together:
// the contents get the size of the window's child "CLIENT" (or of the whole window when it
// has none), are drawn there after the window, and take the pointer inside that area.

// A rectangle in window coordinates.
struct TXViewArea {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    bool Contains(int32_t X, int32_t Y) const {
        return X >= Left && Y >= Top && int64_t(X) < int64_t(Left) + Width &&
               int64_t(Y) < int64_t(Top) + Height;
    }
    bool operator==(const TXViewArea&) const = default;
};

// The window size for a root whose size is not positive.
constexpr int32_t DefaultViewWidth = 320;
constexpr int32_t DefaultViewHeight = 240;
// Window and picture sizes, in pixels.
constexpr int32_t MinViewSize = 16;
constexpr int32_t MaxViewSize = 8192;
// The pointer button whose clicks run ONCLICK functions.
constexpr uint8_t ClickButton = 1;

// The click rule, on one tree. The object that took the button-down at X, Y (relative to
// Root) after it was sent: from Root down each level's CaptureIndex while that child is
// still under the point; Root when none is.
TXGuiObject* CapturedObject(TXGuiObject& Root, int32_t X, int32_t Y);
// The object a button-down at X, Y would reach: the topmost visible, enabled child under the
// point, level by level; Root when none is.
TXGuiObject* ObjectAt(TXGuiObject& Root, int32_t X, int32_t Y);
// The object whose STRING property ONCLICK answers a click on Target: Target or the first
// object above it that has one. Null when none has; FunctionName is its value in upper case.
TXObject* ClickHandlerOwner(TXGuiObject& Target, std::string& FunctionName);
// Runs the ONCLICK function for a click on Target: CallFunction on the owner with a script
// handler of that name, so the name is resolved as every script handler's is. False, with a
// line, when the name is not declared where it is looked for; false without one when no
// object has ONCLICK.
bool RunClick(TXGuiObject& Target, TXMouseMessage& Record);

class TXViewer {
public:
    TXViewer();
    // Frees what is shown (waiting for an application's worker), then the painter's textures:
    // the rendering context, if any was used, must still be current.
    ~TXViewer();
    TXViewer(const TXViewer&) = delete;
    TXViewer& operator=(const TXViewer&) = delete;

    // File as the GUI object "MAIN", its scripts run (RunMain).
    void OpenObject(std::string_view File);
    // An application "MAIN" of TypeFile with ContentsFile, as `xrun --app` builds it.
    void OpenApplication(std::string_view TypeFile, std::string_view ContentsFile);

    TXGuiObject* Root() const;             // null once freed (TEST(1))
    TXGuiApplication* Application() const; // the root when it is an application
    TXGuiObject* Contents() const;         // the application's contents once taken in
    bool Ended() const { return Opened && !Root(); }
    // An application whose contents are still loading.
    bool ContentsPending() const;
    // Takes in the contents once the worker has loaded them: paint handlers, size and layout.
    // True when it did so now.
    bool CheckContents();

    // The window's size: the root's WIDTH and HEIGHT (not positive: the defaults), clamped.
    void PreferredSize(int32_t& Width, int32_t& Height) const;
    // The window has Width x Height: the root gets that size and is laid out (xmAlign), the
    // contents with it.
    void Resize(int32_t Width, int32_t Height);
    int32_t Width() const { return ViewWidth; }
    int32_t Height() const { return ViewHeight; }
    // Where the contents are shown, in window coordinates: the window's CLIENT, or the window.
    TXViewArea ContentsArea() const;

    // The pointer, in window coordinates; Button 1, 2 or 3 (0 for a move without a button).
    void PointerDown(int32_t X, int32_t Y, uint8_t Button);
    void PointerMove(int32_t X, int32_t Y, uint8_t Button);
    void PointerUp(int32_t X, int32_t Y, uint8_t Button);
    // The pointer left the window: a move outside every object, so hovering ends.
    void PointerLeft();
    // A whole click (button-down and button-up of ClickButton) at X, Y.
    void Click(int32_t X, int32_t Y);

    // The redraw rule: true once after anything that may change the picture (opening,
    // a pointer event, a resize, a script run, the contents arriving); false otherwise.
    bool TakeRedraw();
    void Invalidate() { Dirty = true; }

    // One frame on the current context: projection for the window, cleared, the root drawn
    // (xmDraw with Alpha 1.0), then the contents in their area.
    void DrawFrame();

    TXViewPainter& Painter() { return *ViewPainter; }

private:
    class THolder;
    void Routed(int32_t Message, int32_t X, int32_t Y, uint8_t Button, bool ToContents);
    bool InsideContents(int32_t X, int32_t Y) const;
    void Compose();
    TXGuiObject* ClientObject() const;

    std::unique_ptr<TXViewPainter> ViewPainter;
    std::unique_ptr<THolder> Holder; // owns the root
    TXGuiObject* ContentsTaken = nullptr;
    bool Opened = false;
    bool Dirty = true;
    int32_t ViewWidth = 0, ViewHeight = 0;
    // The pointer: last position, whether it is over the contents, and the tree and object
    // of the button-down that is still held.
    int32_t PointerX = -1, PointerY = -1;
    bool PointerInside = false;
    bool PointerInContents = false;
    bool ContentsPressed = false;
    bool DownInContents = false;
    TXGuiObject* DownTarget = nullptr;
};

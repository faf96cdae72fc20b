// The window module where the window layer can give no OpenGL window (SDL's dummy video
// driver, set by the test's environment): every set-up failure is logged and the show goes on.
#include "bass_script.h"
#include "effect.h"
#include "glrecord.h"
#include "oglwin.h"
#include "xlogging.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowFailures, EachSetUpFailureIsLoggedAndCreationGoesOn) {
    StartConsoleCapture();
    CreateGLWindow(640, 480, true);
    std::string Output = EndConsoleCapture();
    EXPECT_EQ(
        Output,
        "Pixel format unavaiable.\r\nCould not set pixel format.\r\nCould not create render-context!\r\n");
    EXPECT_TRUE(Running);
    // The initial state and projection are still set up, and frames are still rendered.
    EXPECT_GE(GLRecord::IndexOf("glOrtho", GLRecord::IndexOf("glEnable")), 0);
    BassScript::SetFileLength(1000);
    InitDemo(GetWindowHandle(), 640, 480);
    GLRecord::Clear();
    EXPECT_TRUE(PumpMessages());
    EXPECT_EQ(GLRecord::CountOf("glCopyTexImage2D"), 1);
    DestroyGLWindow();
}

} // namespace

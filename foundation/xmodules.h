#pragma once

// Module start-up and shut-down.
//
// Every module that has process-wide state (a registry, a processor setting) declares one
// TXModuleStartup object at namespace scope in a start-up unit of its own:
//
//     TXModuleStartup ScriptStartup XMODULE_RANK(ModuleRankScript){StartScript, StopScript};
//
// The object's constructor runs the module's start-up routine and its destructor the
// shut-down routine. The rank is the object's static initialisation priority, so across
// all translation units of a program the modules start in rank order, lowest first, before
// any ordinary static object is built and before main; they shut down in the reverse
// order at exit (main returning or exit called), after every ordinary static object has
// been destroyed. Link order plays no part.
//
// A start-up unit must reach every executable that links its module, although nothing
// refers to it by name: a static library's member that no one references is left out by
// the linker. Declare the unit with x_add_startup(<library> SOURCES ...) in the module's
// CMakeLists; its objects then go on the link line of every executable that links the
// library, directly or through other libraries.
//
// A start-up routine runs before main, so it may use only what is ready at its rank: the C
// library, the console writers of xlogging (their state needs no construction) and the
// modules of lower ranks. It must not rely on ordinary (unranked) static objects of any
// translation unit, whose constructors have not run yet and whose destructors run before
// the shut-down routines: keep a module's state behind a plain pointer that start-up
// creates and shut-down frees.

// Ranks in dependency order. 101 to 65535 are open to programs; leave gaps for newcomers.
constexpr int ModuleRankFloatingPoint = 1000;  // foundation: all exceptions masked, round to nearest
constexpr int ModuleRankScript = 2000;         // script: the built-in registry and "STRINGS.LENGTH"
constexpr int ModuleRankObjects = 3000;        // xobjects: the object type registry
constexpr int ModuleRankGuiObjects = 3500;     // xobjects (GUI objects): "OBJECT" registered
constexpr int ModuleRankGuiApplication = 4000; // xguiapp: the test instruction's routine
constexpr int ModuleRankViewer = 5000;         // xviewer: GUI objects' drawing origin moved with OpenGL

#if defined(__GNUC__)
#define XMODULE_RANK(Rank) __attribute__((init_priority(Rank)))
#else
#error "module start-up ranks need init_priority (GCC or Clang)"
#endif

class TXModuleStartup {
public:
    using TRoutine = void (*)();

    TXModuleStartup(TRoutine Start, TRoutine Stop) : StopRoutine(Stop) {
        if (Start) Start();
    }
    ~TXModuleStartup() {
        if (StopRoutine) StopRoutine();
    }
    TXModuleStartup(const TXModuleStartup&) = delete;
    TXModuleStartup& operator=(const TXModuleStartup&) = delete;

private:
    TRoutine StopRoutine;
};

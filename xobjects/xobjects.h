#pragma once

#include "xlist.h"
#include "xmemory.h"
#include "xpropertystorage.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// The object tree: objects with named, typed properties whose values live in storage the
// object owns, child objects that are properties of their parent, handler records that
// describe something to call, and the registry of object types.

class TXObject;
class TXScriptHost;
class TXScriptObjectFunction;

// One property: its name (at most 32 characters, the key in the owner's Properties), its
// kind (TXPropertyKind) and its data: for ptObject the child object, for every other kind
// the address of the value's storage (layouts in xpropertystorage.h; ptFunction holds a
// TXHandler).
struct TXProperty {
    TListKey Name;
    uint8_t Kind = ptInteger;
    void* Data = nullptr;
};

enum TXHandlerKind : uint8_t {
    hkNone = 0,           // nothing to call
    hkProcedure = 1,      // Proc
    hkMethod = 2,         // Code on Data
    hkScriptName = 3,     // the script function named FuncName, resolved on the first call
    hkScriptFunction = 4, // Func on Host
};

// A routine taking the call's parameter; true when it handled its message.
using TXHandlerProcedure = bool (*)(void* Parameter);
// A method: a routine called on an object (see MethodCode below).
using TXHandlerMethod = bool (*)(TXObject* Self, void* Parameter);

// A description of something to call: 64 bytes, zero-filled when created. Each kind uses
// only its own fields, so the routine and object references of the kinds share storage:
// Proc, Code and Func are one slot, Data and Host another.
struct TXHandler {
    uint8_t Kind = hkNone;
    uint8_t Padding[alignof(void*) - 1] = {};
    union {
        TXHandlerProcedure Proc = nullptr; // hkProcedure
        TXHandlerMethod Code;              // hkMethod
        TXScriptObjectFunction* Func;      // hkScriptFunction: the resolved function
    };
    union {
        TXObject* Data = nullptr; // hkMethod: the object Code is called on
        TXScriptHost* Host;       // hkScriptFunction: the host Func runs on
    };
    TListKey FuncName; // hkScriptName: at most 32 characters
    uint8_t Rest[64 - alignof(void*) - 2 * sizeof(void*) - sizeof(TListKey)] = {};
};
static_assert(sizeof(TXHandler) == 64, "a handler record is 64 bytes");

// MethodCode<&TClass::Method> is the TXHandlerMethod that calls Method (a member function
// bool (void* Parameter) of a class derived from TXObject) on the handler's Data.
template <auto Method> struct TXMethodThunk;
template <class TClass, bool (TClass::*Method)(void*)> struct TXMethodThunk<Method> {
    static bool Call(TXObject* Self, void* Parameter) {
        return (static_cast<TClass*>(Self)->*Method)(Parameter);
    }
};
template <auto Method> constexpr TXHandlerMethod MethodCode = &TXMethodThunk<Method>::Call;

constexpr int32_t ObjectNameLength = 32;
constexpr int32_t ObjectStorageCapacity = 4096;
constexpr int32_t ObjectStorageGrowth = 1024;

// The base of the object model. An object owns its properties' storage and the children
// whose Parent it is; it refers to its parent and to linked objects without owning them.
// One thread at a time; nothing locks.
class TXObject {
public:
    // Named by the first 32 characters of Name; an empty name becomes "UNKNOWN_" and four
    // hexadecimal digits, with a log line. Under a parent the object becomes the parent's
    // ptObject property of its name, unless the parent already has one of that name.
    TXObject(TXObject* InitialParent, std::string_view InitialName);
    // Takes the object out of its parent, destroys its children (not linked objects: a child
    // goes through its own entry only, never through a link to it), then
    // frees the lists and storage. Exceptions on the way are logged, never passed on; a
    // child's destructor may throw.
    virtual ~TXObject() noexcept(false);
    TXObject(const TXObject&) = delete;
    TXObject& operator=(const TXObject&) = delete;

    // Called once by the constructor; does nothing.
    virtual void Initialize();
    // Converts Value into the property of that name; false when there is none, when it is an
    // object, or when an integer or float text does not convert (the value stays).
    virtual bool SetPropertyFromString(std::string_view PropertyName, std::string_view Value);
    // The compiled main function and the host of the object's script, for handlers that name
    // script functions; a plain object has none.
    virtual TXScriptObjectFunction* ScriptFunction() const { return nullptr; }
    virtual TXScriptHost* ScriptHost() const { return nullptr; }

    // Appends a property; false, and nothing changed, when the name (cut to 32 characters)
    // is empty or taken.
    bool AddProperty(std::string_view PropertyName, uint8_t Kind, void* Data);
    // Take 4, 4, 1 and 256 bytes from Storage, set the initial value (0, 0.0, false, empty)
    // and add the property. Null, and no property, when Storage refuses the bytes; when only
    // the name is refused the address is still given and the bytes stay taken.
    void* DeclareInteger(std::string_view PropertyName);
    void* DeclareFloat(std::string_view PropertyName);
    void* DeclareBoolean(std::string_view PropertyName);
    void* DeclareString(std::string_view PropertyName);
    // By name, cut to 32 characters and compared byte for byte; or by zero-based position in
    // declaration order. Null when there is none.
    TXProperty* FindProperty(std::string_view PropertyName) const;
    TXProperty* PropertyByIndex(int32_t Index) const;
    int32_t PropertyCount() const { return Properties ? Properties->Count : 0; }
    // Calls what Handler describes. True when the call handled its message: a procedure's or
    // method's own result, true for hkNone, false for script handlers and unknown kinds.
    bool CallFunction(TXHandler& Handler, void* Parameter);

    std::unique_ptr<TItemList> Properties; // of TXProperty, in declaration order
    TXObject* Parent = nullptr;
    TListKey Name;
    std::unique_ptr<TXMemory> Storage;

protected:
    // The destruction described at the destructor. It runs once: a derived class whose
    // destructor frees lists of its own calls it first, so that its children go while the
    // object is whole; the base destructor then finds nothing left to do.
    void Destroy();
    // RemoveChild's part for child lists of derived classes; true when it deleted an entry.
    virtual bool ForgetChild(std::string_view ChildName);
    // Whether a child list of a derived class holds Child under its name.
    virtual bool ListsChild(const TXObject& Child) const;
    // Destroy's part for children that only a derived class's lists hold.
    virtual void DestroyListedChildren();

public:
    // Whether this object frees Child: Child is its child and its entry under Child's name
    // (a property, or an entry of a derived class's child list) is Child itself.
    bool OwnsChild(const TXObject& Child) const;

private:
    friend bool RemoveChild(TXObject* Parent, std::string_view ChildName);
    void* DeclareValue(std::string_view PropertyName, TXPropertyKind Kind, int32_t Size);
    void DestroyChildren(int32_t& Index);

    // Children created under this object whose name was taken: not reachable by name and not
    // destroyed by this object, but told when it goes, so they never refer to it afterwards.
    std::vector<TXObject*> UnlistedChildren;
    bool Destroyed = false;
};

// Deletes the child's entry from the parent's properties (and from the child lists of
// derived classes); true when any entry was deleted.
bool RemoveChild(TXObject* Parent, std::string_view ChildName);

// Object types: type names of definition files mapped to factories. A factory takes the
// type name, the parent, the definition file name and the new object's name and returns
// the new object, or null when it does not build that type.
using TXObjectFactory = TXObject* (*)(std::string_view TypeName, TXObject* Parent, std::string_view FileName,
                                      std::string_view ObjectName);

// The registry: a TItemList of TXObjectFactory keyed by type name (cut to 32 characters).
// Created at module start-up, freed at shut-down; the GUI objects' start-up, which runs
// after this module's, registers "OBJECT". In between it is only read, from any thread.
extern TItemList* ObjectTypes;

// Adds Factory under TypeName; the first registration of a name stays. False when the
// registry does not exist, the name is empty or taken, or Factory is null.
bool RegisterObjectType(std::string_view TypeName, TXObjectFactory Factory);
// The factory registered under TypeName, or null.
TXObjectFactory FindObjectType(std::string_view TypeName);

// The module's start-up (the registry, the readers the script module uses for
// objects) and shut-down (the registry freed); the module's start-up unit runs them.
void StartObjects();
void StopObjects();

// The object definition file loader: the statements of a definition file read into the GUI
// object under construction (what the file calls SELF).

#include "xguiobject.h"

#include "xlogging.h"

#include <string>

namespace {

// Loads and NEW blocks open on this thread (see MaxLoadNesting).
thread_local int32_t LoadNesting = 0;
// Objects the NEW blocks of the outermost load on this thread have made (see MaxLoadObjects).
thread_local int32_t LoadObjects = 0;

struct TNestingLevel {
    TNestingLevel() { LoadNesting++; }
    ~TNestingLevel() { LoadNesting--; }
    TNestingLevel(const TNestingLevel&) = delete;
    TNestingLevel& operator=(const TNestingLevel&) = delete;
};

std::string NestingTooDeep() {
    return "objects nested more than " + std::to_string(MaxLoadNesting) + " levels deep";
}

std::string TooManyObjects() {
    return "more than " + std::to_string(MaxLoadObjects) + " objects in one load";
}

// The directory part of a file name, its last separator included; empty without one.
std::string_view DirectoryOf(std::string_view FileName) {
    size_t Separator = FileName.find_last_of("\\/");
    return Separator == std::string_view::npos ? std::string_view() : FileName.substr(0, Separator + 1);
}

} // namespace

class TXDefinitionLoader {
public:
    TXDefinitionLoader(TXGuiObject& LoadedObject, TFileParser& FileParser)
        : Object(LoadedObject), Parser(FileParser) {}

    // The top-level statements, until one of them ends the load.
    void Run();

private:
    std::string Next() { return Parser.NextToken(); }
    bool Expect(std::string_view Text);
    // Statements whose line is counted from 0 ("(Line n): ..." and "line n: ...").
    void Report(std::string_view Text) {
        LogLine(3,
                Parser.FileName + " (Line " + std::to_string(Parser.LineIndex) + "): " + std::string(Text));
    }
    void ReportLine(std::string_view Text) {
        LogLine(3, Parser.FileName + " line " + std::to_string(Parser.LineIndex) + ": " + std::string(Text));
    }

    bool PropertyStatement(TXObject* Target, bool LeadingDot);
    bool ChildBlock(TXObject* Parent);
    bool ChildBody(TXObject* Child);
    void SkipBlockBody();
    void Link();

    TXGuiObject& Object;
    TFileParser& Parser;
};

bool TXDefinitionLoader::Expect(std::string_view Text) {
    if (Next() == Text) return true;
    LogLine(3, Parser.FileName + " (Line " + std::to_string(int64_t(Parser.LineIndex) + 1) + "): Expected '" +
                   std::string(Text) + "', got '" + Parser.LastToken + "'.");
    return false;
}

void TXDefinitionLoader::Run() {
    for (;;) {
        std::string Token = Next();
        if (Token.empty()) {
            Report("Unexpected end.");
            return;
        }
        if (Token == "SELF") {
            if (!PropertyStatement(&Object, true)) return;
        } else if (Token == "LINK") {
            Link();
        } else if (Token == "NEW") {
            if (!ChildBlock(&Object)) return;
        } else if (Token == "IMPLEMENTATION") {
            Object.HasImplementation = true;
            return;
        } else if (Token == "END") {
            Expect(".");
            return;
        } else {
            Report("Unknown: " + Token);
        }
    }
}

// A path through child objects to a property, then its assignment or declaration. False
// when the statement fails: a missing leading ".", or a path that ends at a child object.
bool TXDefinitionLoader::PropertyStatement(TXObject* Target, bool LeadingDot) {
    for (;;) {
        if (LeadingDot && !Expect(".")) return false;
        std::string PropertyName = Next();
        TXProperty* Property = Target->FindProperty(PropertyName);
        if (Property && Property->Kind != ptObject) {
            Expect("=");
            std::string Value = Next();
            Target->SetPropertyFromString(PropertyName, Value);
            Expect(";");
            return true;
        }
        if (Property) {
            Target = static_cast<TXObject*>(Property->Data);
            bool Descends = Next() == ".";
            Parser.PushBack();
            if (!Descends) return false;
            LeadingDot = true;
            continue;
        }
        if (Next() != ":") {
            Parser.PushBack();
            Report("Property '" + PropertyName + "' not found");
            for (std::string Token = Next(); !Token.empty() && Token != ";"; Token = Next()) {
            }
            return true;
        }
        std::string Type = Next();
        if (Type == "INTEGER")
            Target->DeclareInteger(PropertyName);
        else if (Type == "FLOAT")
            Target->DeclareFloat(PropertyName);
        else if (Type == "STRING")
            Target->DeclareString(PropertyName);
        else if (Type == "BOOLEAN")
            Target->DeclareBoolean(PropertyName);
        else {
            LogLine(3, "_\xDF_ unknown " + Type);
            return true;
        }
        if (Next() == "=")
            Target->SetPropertyFromString(PropertyName, Next());
        else
            Parser.PushBack();
        Expect(";");
        return true;
    }
}

// NEW name = TYPE ( "file" ) : body END ;  or  NEW name = TYPE : body END ;
bool TXDefinitionLoader::ChildBlock(TXObject* Parent) {
    std::string ChildName = Next();
    Expect("=");
    std::string TypeName = Next();
    std::string Token = Next();
    std::string ChildFile;
    if (Token == "(") {
        ChildFile = std::string(DirectoryOf(Parser.FileName)) + Next();
        Expect(")");
        Expect(":");
    } else if (Token != ":") {
        Report("'=' expected, " + Token + " found");
        return false;
    }
    if (LoadNesting >= MaxLoadNesting || LoadObjects >= MaxLoadObjects) {
        ReportLine("object " + ChildName + " skipped, " +
                   (LoadNesting >= MaxLoadNesting ? NestingTooDeep() : TooManyObjects()));
        SkipBlockBody();
        return true;
    }
    LoadObjects++;
    TNestingLevel Level;
    TXObject* Child;
    if (TXObjectFactory Factory = FindObjectType(TypeName)) {
        Child = Factory(TypeName, Parent, ChildFile, ChildName);
    } else {
        ReportLine("object type " + TypeName + " is unknown.");
        Child = new TXGuiObject(Parent, ChildFile, ChildName);
    }
    if (!Child) {
        ReportLine("object type " + TypeName + " is actually known, but something broke hard.");
        return false;
    }
    // A child that its parent holds neither by name nor in its Children belongs to no one:
    // its block is read into it, then it is freed.
    bool Orphan = Child->Parent == Parent && !Parent->OwnsChild(*Child);
    bool Succeeded = ChildBody(Child);
    if (Orphan) delete Child;
    return Succeeded;
}

bool TXDefinitionLoader::ChildBody(TXObject* Child) {
    for (;;) {
        std::string Token = Next();
        if (Token == "END") {
            Expect(";");
            return true;
        }
        if (Token == "NEW") {
            if (!ChildBlock(Child)) return false;
            continue;
        }
        if (Token.empty()) return true;
        Parser.PushBack();
        if (!PropertyStatement(Child, false)) return true;
    }
}

// The body of a block too deep to build, to its own "END" ";": nested "NEW" blocks are
// counted, and the token after "=" is a value, never a keyword.
void TXDefinitionLoader::SkipBlockBody() {
    int64_t Depth = 1;
    for (std::string Token = Next(); !Token.empty(); Token = Next()) {
        if (Token == "=") {
            Next();
        } else if (Token == "NEW") {
            Depth++;
        } else if (Token == "END") {
            if (Next() != ";") {
                Parser.PushBack();
                continue;
            }
            if (--Depth == 0) return;
        }
    }
}

// LINK name = path ; — the loaded object's new property shares the kind and data of the
// property the path names.
void TXDefinitionLoader::Link() {
    std::string LinkName = Next();
    Expect("=");
    TXObject* Current = &Object;
    TXProperty* Found = nullptr;
    for (;;) {
        Found = Current->FindProperty(Next());
        if (!Found || Found->Kind != ptObject) break;
        Current = static_cast<TXObject*>(Found->Data);
        std::string Token = Next();
        if (Token == ";") {
            Parser.PushBack();
            break;
        }
        if (Token == ".") continue;
        LogLine(3, ". expected");
        break;
    }
    Expect(";");
    if (Found) Object.AddProperty(LinkName, Found->Kind, Found->Data);
}

void TXGuiObject::Load(std::string_view FileName) {
    if (LoadNesting >= MaxLoadNesting) {
        LogLine(3, std::string(FileName) + ": not loaded, " + NestingTooDeep());
        return;
    }
    if (LoadNesting == 0) LoadObjects = 0; // a new tree
    TNestingLevel Level;
    LogLine(0, "Loading " + std::string(FileName));
    Parser = std::make_unique<TFileParser>(FileName, nullptr);
    TXDefinitionLoader(*this, *Parser).Run();
}

#include "xscriptmembers.h"
#include "xscriptstepwork.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

// ---- The run loop ----
//
// One Execute runs its function and every script function that function calls in one loop:
// a call keeps the caller's place in the frame it opens for the callee and goes on with the
// callee's code, a return takes the place back from the frame. Native recursion happens
// only when native code that a script reaches (the test routine) runs scripts itself, so
// deep script recursion costs frames, not native stack, and is stopped at
// ScriptCallDepthLimit.
//
// Each step kind has one handler, named after its instruction (opAdd) or its combined
// sequence (LoadOperate_opAdd). Where the compiler offers computed goto (GCC, Clang), a
// handler jumps straight to the next one through a table of label addresses; elsewhere, or
// with XSCRIPT_SWITCH_DISPATCH defined, the handlers are the cases of one switch.
#if defined(__GNUC__) && !defined(XSCRIPT_SWITCH_DISPATCH)
#define XSCRIPT_COMPUTED_GOTO 1
#else
#define XSCRIPT_COMPUTED_GOTO 0
#endif

namespace xscriptinterpreter {

constinit thread_local int32_t CallDepth = 0;
constinit thread_local int32_t NativeDepth = 0;
constinit thread_local int64_t StepsLeft = INT64_MAX;

using namespace work;

void TXExecution::Run(TXScriptVariable& Result) {
#if XSCRIPT_COMPUTED_GOTO
    // The handler of every step kind, in the order of the kinds.
#define X_HANDLER_ADDRESS(Form, Name) &&Form##Name,
    static const void* const Handlers[] = {X_STEP_KINDS(X_HANDLER_ADDRESS)};
#undef X_HANDLER_ADDRESS
    static_assert(std::size(Handlers) == size_t(StepKindCount), "one handler for each step kind");
    // Decoded steps carry their handler's address.
    if (!StepHandlers.load(std::memory_order_relaxed))
        StepHandlers.store(Handlers, std::memory_order_release);
#define X_DISPATCH() goto * Step->Handler
#define X_CASE(Name) Name
#else
#define X_DISPATCH() goto Dispatch
#define X_CASE(Name) case TXStepKind::Name
#endif

    FaultOffset = -1;
    FaultStepKind = TXStepKind::Unknown;
    // The members the loop reads most, kept here: a member reference costs two loads.
    TXScriptHost& Host = this->Host;
    const int32_t EntryFrames = this->EntryFrames;
    const uint64_t Number = this->Number;
    // Each script call opens a frame, so the frames tell the call depth: CallDepth is set
    // from them only where native code may read it.
    const int32_t FrameLimit = ScriptCallDepthLimit - SavedDepth - 1 + EntryFrames;
    if (!CurrentPrepared) CurrentPrepared = PreparedCodeOf(*Current, Number);
    if (!CurrentPrepared) Fault("code that cannot be run");
    // The running function's steps (Prepared->Function is the function), kept here; the
    // members take them when a fault leaves.
    TXPreparedCode* Prepared = CurrentPrepared;
    TXScriptVariable* Slots = Host.Stack.data();
    int32_t Size = Host.StackSize;
    int32_t Sp = Host.StackPointer;
    // The topmost frame's Base, which depth 0 variables are counted from (0 without frames).
    int32_t FrameBase = Host.FrameCount > 0 ? Host.Frames[size_t(Host.FrameCount - 1)].Base : 0;
    // The stack's size for the combined steps: Size where every variable the running code's
    // combined steps name lies on the stack, else 0, so that their check of the room above the
    // top sends them to their first instruction alone.
    int32_t CombinedSize = 0;
// CombinedSize after the frame, the code or the stack changed.
#define X_CHECK_FRAME()                                                                                      \
    (CombinedSize = uint32_t(FrameBase) + uint32_t(Prepared->CombinedReach) <= uint32_t(Size) ? Size : 0)
    X_CHECK_FRAME();
    const TXStep* Step = Resume ? Resume : CurrentPrepared->Steps.data();
    TXScriptObjectFunction* Callee = nullptr;
    // The thread's step budget (StepsLeft), counted here and given back wherever the run
    // leaves or native code may run scripts that spend it too.
    int64_t Budget = StepsLeft;
    int32_t CalleeFrameDepth = 0;

// Steps go on with the handler of the next step.
#define X_GO(To)                                                                                             \
    do {                                                                                                     \
        Step = (To);                                                                                         \
        X_DISPATCH();                                                                                        \
    } while (false)
#define X_NEXT() X_GO(Step->NextStep)
// Before work that may fail or hand the host to other code: the host's pointer is current.
#define X_SYNC() (Host.StackPointer = Sp)
// Before native code that may run scripts: the call depth and the budget are current.
#define X_SYNC_DEPTH() (CallDepth = SavedDepth + 1 + (Host.FrameCount - EntryFrames), StepsLeft = Budget)
// After native code has had the host: it may have moved or resized anything.
#define X_RELOAD()                                                                                           \
    do {                                                                                                     \
        Slots = Host.Stack.data();                                                                           \
        Size = Host.StackSize;                                                                               \
        Sp = Host.StackPointer;                                                                              \
        FrameBase = Host.FrameCount > 0 ? Host.Frames[size_t(Host.FrameCount - 1)].Base : 0;                 \
        X_CHECK_FRAME();                                                                                     \
        Budget = StepsLeft;                                                                                  \
    } while (false)
#define X_NAME() std::string_view(Prepared->Source.data() + Step->Value, size_t(Step->Length))
// Every jump and call spends a step of the harness's budget.
#define X_SPEND()                                                                                            \
    do {                                                                                                     \
        if (--Budget < 0) {                                                                                  \
            X_SYNC();                                                                                        \
            Fault("step budget spent");                                                                      \
        }                                                                                                    \
    } while (false)
// A combined step's jump spends the step; a spent budget faults at the jump with its
// condition on top, as the single jump does.
#define X_SPEND_AT_JUMP()                                                                                    \
    do {                                                                                                     \
        if (--Budget < 0) {                                                                                  \
            Sp = SlotAbove(Sp, Size);                                                                        \
            X_SYNC();                                                                                        \
            Fault("step budget spent");                                                                      \
        }                                                                                                    \
    } while (false)
// The running function ends, Store putting its result into To. The entry function ends the
// run with the host's top at EntryTop; any other goes back to the caller that the topmost
// frame keeps, whose top becomes the slot above the frame's Base - 1, where To is.
#define X_END(EntryTop, Store)                                                                               \
    do {                                                                                                     \
        if (Host.FrameCount <= EntryFrames) {                                                                \
            Host.StackPointer = (EntryTop);                                                                  \
            StepsLeft = Budget;                                                                              \
            TXScriptVariable& To = Result;                                                                   \
            Store;                                                                                           \
            return;                                                                                          \
        }                                                                                                    \
        const TXScriptFrame& Frame = Host.TopFrame();                                                        \
        Sp = Frame.Base;                                                                                     \
        Prepared = Frame.CallerCode;                                                                         \
        FrameBase = Frame.CallerBase;                                                                        \
        /* The caller's, unless native code changed the stack's size since. */                               \
        CombinedSize = Frame.CallerCombinedSize;                                                             \
        if (CombinedSize != Size) [[unlikely]]                                                               \
            X_CHECK_FRAME();                                                                                 \
        Step = Frame.Resume;                                                                                 \
        Host.CloseCallFrame();                                                                               \
        TXScriptVariable& To = Slots[Sp];                                                                    \
        Store;                                                                                               \
        X_DISPATCH();                                                                                        \
    } while (false)
// A two-operand instruction other than opMod.
#define X_OPERATION(Op)                                                                                      \
    X_CASE(Op) : OperateOnTop<Op>(Host, Slots, Size, Sp);                                                    \
    X_NEXT()
// The combined steps that carry the arithmetic operation Op.
#define X_COMBINED_ARITHMETIC(Op)                                                                            \
    X_CASE(VariableOperate_##Op)                                                                             \
        : if (!VariableOperate<Op>(Step, Host, Slots, CombinedSize, FrameBase, Sp)) goto LoadOnly;           \
    X_NEXT();                                                                                                \
    X_CASE(LoadLoadOperate_##Op)                                                                             \
        : if (!LoadLoadOperate<Op>(Step, Host, Slots, CombinedSize, FrameBase, Sp)) goto LoadOnly;           \
    X_NEXT();                                                                                                \
    X_CASE(OperateStore_##Op) : OperateStore<Op>(Step, Host, Slots, Size, FrameBase, CombinedSize != 0, Sp); \
    X_NEXT();                                                                                                \
    X_CASE(OperateReturn_##Op) : OperateOnTop<Op>(Host, Slots, Size, Sp);                                    \
    goto EndWithTop;                                                                                         \
    X_CASE(PushOperateReturn_##Op) : if (!PushOperate<Op>(Step, Host, Slots, Size, Sp)) goto PushOnly;       \
    goto EndWithTop;                                                                                         \
    X_CASE(PushOperate_##Op) : if (!PushOperate<Op>(Step, Host, Slots, Size, Sp)) goto PushOnly;             \
    X_NEXT()
// d = a Outer (b Inner c).
#define X_ARITHMETIC_STORE(Outer, Inner)                                                                     \
    X_CASE(ArithmeticStore_##Outer##_##Inner)                                                                \
        : if (!ArithmeticStore<Outer, Inner>(Step, Slots, CombinedSize, FrameBase, Sp,                       \
                                             Budget)) goto LoadOnly;                                         \
    X_NEXT();
// return a Outer (b Inner c).
#define X_ARITHMETIC_RETURN(Outer, Inner)                                                                    \
    X_CASE(ArithmeticReturn_##Outer##_##Inner)                                                               \
        : if (!ArithmeticStore<Outer, Inner, true>(Step, Slots, CombinedSize, FrameBase, Sp,                 \
                                                   Budget)) goto LoadOnly;                                   \
    Sp++;                                                                                                    \
    goto EndWithTop;
// The combined steps that carry the integer operation Op.
#define X_COMBINED(Op)                                                                                       \
    X_CASE(LoadOperate_##Op) : {                                                                             \
        const TXStep* Next = LoadOperate<Op, false>(Step, Slots, CombinedSize, FrameBase, Sp, Budget);       \
        if (!Next) goto LoadOnly;                                                                            \
        X_GO(Next);                                                                                          \
    }                                                                                                        \
    X_CASE(LoadOperateJump_##Op) : {                                                                         \
        const TXStep* Next = LoadOperate<Op, true>(Step, Slots, CombinedSize, FrameBase, Sp, Budget);        \
        if (!Next) goto LoadOnly; /* the single jump spends the step */                                      \
        X_SPEND_AT_JUMP();                                                                                   \
        X_GO(Next);                                                                                          \
    }                                                                                                        \
    X_CASE(LoadOperateEqualJump_##Op) : {                                                                    \
        const TXStep* Next = LoadOperateEqual<Op>(Step, Slots, CombinedSize, FrameBase, Sp, Budget);         \
        if (!Next) goto LoadOnly;                                                                            \
        X_SPEND_AT_JUMP();                                                                                   \
        X_GO(Next);                                                                                          \
    }                                                                                                        \
    X_CASE(LoadAssign_##Op)                                                                                  \
        : if (!Assign<Op, true>(Step, Slots, CombinedSize, FrameBase, Sp, Budget)) goto LoadOnly;            \
    X_NEXT();                                                                                                \
    X_CASE(PushAssign_##Op)                                                                                  \
        : if (!Assign<Op, false>(Step, Slots, CombinedSize, FrameBase, Sp, Budget)) goto PushOnly;           \
    X_NEXT();                                                                                                \
    X_CASE(SwapAssign_##Op)                                                                                  \
        : if (!SwapAssign<Op>(Step, Slots, CombinedSize, FrameBase, Sp, Budget)) goto LoadOnly;              \
    X_NEXT();                                                                                                \
    X_CASE(PushOperateJump_##Op) : {                                                                         \
        const TXStep* Next = PushOperateJump<Op>(Step, Slots, Size, FrameBase, Sp, Budget);                  \
        if (!Next) goto PushOnly;                                                                            \
        X_SPEND_AT_JUMP();                                                                                   \
        X_GO(Next);                                                                                          \
    }

    // A fault leaves by an exception; where it left is kept for the diagnostics. Taking it
    // from the loop's own state costs the steps nothing.
    try {
        X_DISPATCH();
#if !XSCRIPT_COMPUTED_GOTO
    Dispatch:
        switch (Step->Kind) {
#endif

            X_CASE(opPop) : Sp = SlotBelow(Sp, Size);
            X_NEXT();
            X_CASE(opReserve) : if (int64_t(Sp) + Step->Value >= Size) StackOverflow(Host, Sp);
            Sp = Host.SlotAt(int64_t(Sp) + Step->Value);
            X_NEXT();
            X_CASE(opAlert) : {
                const TXScriptVariable& Top = Slots[Sp];
                Sp = SlotBelow(Sp, Size);
                X_SYNC();
                Alert(Top);
                X_NEXT();
            }
            X_CASE(opNop) : X_NEXT();
            X_CASE(opDup) : {
                int32_t Next = PushSlot(Host, Sp, Size);
                CopyValue(Slots[Next], Slots[Sp]);
                Sp = Next;
                X_NEXT();
            }
            X_CASE(opSwap) : SwapValues(Slots[SlotBelow(Sp, Size)], Slots[Sp]);
            X_NEXT();

            X_OPERATION(opAdd);
            X_OPERATION(opSub);
            X_OPERATION(opMul);
            X_OPERATION(opDiv);
            X_OPERATION(opAnd);
            X_OPERATION(opOr);
            X_OPERATION(opXor);
            X_OPERATION(opShl);
            X_OPERATION(opShr);
            X_OPERATION(opShr2);
            X_OPERATION(opEqual);
            X_OPERATION(opLess);
            X_OPERATION(opLessEqual);
            X_OPERATION(opGreater);
            X_OPERATION(opGreaterEqual);

            X_CASE(opMod) : {
                int32_t LeftSlot = SlotBelow(Sp, Size);
                TXScriptVariable& Left = Slots[LeftSlot];
                const TXScriptVariable& Right = Slots[Sp];
                if (Left.kind == vkInteger && Right.kind == vkInteger &&
                    !IntegerDivisionFaults(Left.intValue, Right.intValue)) {
                    Left.intValue %= Right.intValue;
                } else {
                    X_SYNC();
                    Left.Modulo(Right);
                }
                Sp = LeftSlot;
                X_NEXT();
            }
            X_CASE(opNot) : Slots[Sp].BitNot();
            X_NEXT();
            X_CASE(opToNumber) : X_SYNC();
            Slots[Sp].MakeNumeric();
            X_NEXT();
            X_CASE(opNegate) : X_SYNC();
            Slots[Sp].Negate();
            X_NEXT();
            X_CASE(opStoreVar) : {
                int32_t Slot;
                if (FindVariableSlot(Host, FrameBase, Size, Step->Index, Step->Depth, Slot)) {
                    CopyValue(Slots[Slot], Slots[Sp]);
                    Sp = SlotBelow(Sp, Size);
                } else {
                    X_SYNC();
                    Host.StoreVariable(Step->Index, Step->Depth);
                    Sp = Host.StackPointer;
                }
                X_NEXT();
            }
            X_CASE(opLoadVar) : PushVariable(Host, Slots, Size, FrameBase, *Step, Sp);
            X_NEXT();
            X_CASE(LoadStore) : {
                if (Sp + 1 >= CombinedSize) goto LoadOnly;
                int32_t Top = Sp + 1;
                const TXScriptVariable& From = Slots[FrameSlot(FrameBase, Step->Index)];
                if (LeavesAbove(Step->NextReadsBelow, FrameBase, Sp, Budget)) {
                    CopyValue(Slots[FrameSlot(FrameBase, Step->Assign.DestinationIndex)], From);
                    X_NEXT();
                }
                CopyValue(Slots[Top], From);
                CopyValue(Slots[FrameSlot(FrameBase, Step->Assign.DestinationIndex)], Slots[Top]);
                X_NEXT();
            }
            X_CASE(LoadLoad) : {
                if (Sp + 2 >= CombinedSize) goto LoadOnly;
                // b is read after a is pushed.
                CopyValue(Slots[Sp + 1], Slots[FrameSlot(FrameBase, Step->Index)]);
                CopyValue(Slots[Sp + 2], Slots[FrameSlot(FrameBase, Step->Assign.SourceIndex)]);
                Sp += 2;
                X_NEXT();
            }
            X_CASE(LoadEqualTextJump) : {
                if (Sp + 2 >= CombinedSize) goto LoadOnly;
                const TXScriptVariable& Variable = Slots[FrameSlot(FrameBase, Step->Index)];
                if (Variable.kind != vkString) goto LoadOnly;
                const TXScriptText& Text = Prepared->Constants[size_t(Step->Value)].text;
                bool Same = Variable.text.View() == Text.View();
                int32_t First = Sp + 1;
                // A shared text's count is not touched for nothing.
                if (!LeavesAbove(Same ? Step->NextReadsBelow : Step->Branch.TargetReadsBelow, FrameBase, Sp,
                                 Budget)) {
                    SetTextValue(Slots[First + 1], Text);
                    SetIntegerValue(Slots[First], Same);
                }
                if (--Budget < 0) {
                    Sp = First;
                    X_SYNC();
                    Fault("step budget spent");
                }
                X_GO(Same ? Step->NextStep : Step->Target);
            }
            X_CASE(LoadReturn) : {
                if (Sp + 1 >= CombinedSize) goto LoadOnly;
                Sp++;
                CopyValue(Slots[Sp], Slots[FrameSlot(FrameBase, Step->Index)]);
                goto EndWithTop;
            }
        LoadOnly : {
            PushVariable(Host, Slots, Size, FrameBase, *Step, Sp);
            if (Step->Kind == TXStepKind::LoadReturn) goto EndWithTop;
            // A combined step that did only its first instruction goes on right after it.
            X_GO(Step + 1);
        }
        PushOnly:
            Sp = PushSlot(Host, Sp, Size);
            SetIntegerValue(Slots[Sp], Step->Value);
            X_GO(Step + 1);

            X_COMBINED(opAdd);
            X_COMBINED(opSub);
            X_COMBINED(opMul);
            X_COMBINED(opDiv);
            X_COMBINED(opAnd);
            X_COMBINED(opOr);
            X_COMBINED(opXor);
            X_COMBINED(opShl);
            X_COMBINED(opShr);
            X_COMBINED(opEqual);
            X_COMBINED(opLess);
            X_COMBINED(opLessEqual);
            X_COMBINED(opGreater);
            X_COMBINED(opGreaterEqual);
            X_COMBINED(opMod);
            X_COMBINED_ARITHMETIC(opAdd);
            X_COMBINED_ARITHMETIC(opSub);
            X_COMBINED_ARITHMETIC(opMul);
            X_COMBINED_ARITHMETIC(opDiv);
            X_ARITHMETIC_PAIRS(X_ARITHMETIC_STORE)
            X_ARITHMETIC_PAIRS(X_ARITHMETIC_RETURN)

            X_CASE(opRestoreVar) : {
                X_SYNC();
                int32_t Slot;
                // The copy goes above the top for a moment.
                if (Host.FindSlot(Step->Index, Step->Depth, Slot)) PushSlot(Host, Sp, Size);
                Host.LoadVariable(Step->Index, Step->Depth);
                Host.StoreVariable(Step->Index, Step->Depth);
                Sp = Host.StackPointer;
                X_NEXT();
            }
            X_CASE(opJumpIfFalse) : {
                X_SPEND();
                const TXScriptVariable& Top = Slots[Sp];
                bool Zero = (Top.kind == vkInteger ? Top.intValue : Top.AsInteger()) == 0;
                Sp = SlotBelow(Sp, Size);
                X_GO(Zero ? Step->Target : Step->NextStep);
            }
            X_CASE(opJump) : X_SPEND();
            X_GO(Step->Target);
            X_CASE(opPushInt) : Sp = PushSlot(Host, Sp, Size);
            SetIntegerValue(Slots[Sp], Step->Value);
            X_NEXT();
            X_CASE(opPushFloat) : Sp = PushSlot(Host, Sp, Size);
            Slots[Sp].SetFloat(std::bit_cast<float>(Step->Value));
            X_NEXT();
            X_CASE(opPushString) : Sp = PushSlot(Host, Sp, Size);
            X_SYNC();
            if (Step->Operation) [[likely]]
                PushConstant(Slots[Sp], Prepared->Constants[size_t(Step->Value)]);
            else
                Slots[Sp].SetFromText(X_NAME(), true);
            X_NEXT();
            X_CASE(opGetObjectChild) : if (!FollowRememberedChild(Slots[Sp], Step)) {
                X_SYNC();
                GetObjectChild(Slots[Sp], Step, X_NAME());
            }
            X_NEXT();
            X_CASE(opGetObjectValue) : if (!ReadRememberedNumber(Slots[Sp], Step)) {
                X_SYNC();
                GetObjectValue(Slots[Sp], Step, X_NAME());
            }
            X_NEXT();
            X_CASE(opCallMethod) : ReportCallMethod();
            X_NEXT();
            X_CASE(opSetObjectChild) : if (StoreRememberedNumber(Slots, Size, Sp, Step, uoAssign)) X_NEXT();
            goto StoreMember;
            X_CASE(opUpdateObjectChild)
                : if (StoreRememberedNumber(Slots, Size, Sp, Step, Step->Operation)) X_NEXT();
        StoreMember : {
            const TXScriptVariable& Value = Slots[Sp];
            Sp = SlotBelow(Sp, Size);
            uint8_t Operator =
                Step->Kind == TXStepKind::opUpdateObjectChild ? Step->Operation : uint8_t(uoAssign);
            X_SYNC();
            if (UpdateObjectChild(Slots[Sp], Step, X_NAME(), Value, Operator)) Sp = SlotBelow(Sp, Size);
            X_NEXT();
        }
            X_CASE(opPushSelf) : {
                int32_t Next = PushSlot(Host, Sp, Size);
                SetObjectValue(Slots[Next], Host.Owner);
                Sp = Next;
                X_NEXT();
            }
            // The member's own step (the next) goes on when the member is not remembered.
            X_CASE(SelfValue)
                : if (PushRememberedMember<true, false>(Host, Slots, Size, Sp, Step + 1)) X_NEXT();
            goto SelfOnly;
            X_CASE(SelfSelfValue)
                : if (PushRememberedMember<true, true>(Host, Slots, Size, Sp, Step + 2)) X_NEXT();
            goto SelfOnly;
            X_CASE(SelfChild)
                : if (PushRememberedMember<false, false>(Host, Slots, Size, Sp, Step + 1)) X_NEXT();
        SelfOnly:
            Sp = PushSlot(Host, Sp, Size);
            SetObjectValue(Slots[Sp], Host.Owner);
            X_GO(Step + 1);
            X_CASE(opPushFunction) : {
                X_SYNC();
                TXScriptObjectFunction* Outer = Prepared->Function;
                for (uint16_t Levels = Step->Depth; Levels > 0 && Outer->Parent; Levels--)
                    Outer = Outer->Parent;
                TXScriptObjectFunction* Found = NestedFunction(*Outer, Step->Index);
                if (!Found) Fault("no function at that slot");
                int32_t Next = PushSlot(Host, Sp, Size);
                Slots[Next].SetFunction(Found);
                Sp = Next;
                X_NEXT();
            }
            X_CASE(opCallFunction) : {
                // Most calls are of a function beside the caller, one level out.
                TXScriptObjectFunction* Outer = Prepared->Function;
                if (Step->Depth == 1)
                    Outer = Outer->Parent;
                else
                    for (uint16_t Levels = Step->Depth; Levels > 0 && Outer; Levels--) Outer = Outer->Parent;
                Callee = Outer ? NestedFunction(*Outer, Step->Index) : nullptr;
                if (!Callee) {
                    X_SYNC();
                    Fault("no function at that slot");
                }
                CalleeFrameDepth = int32_t(Step->Depth) + 1;
                goto Call;
            }
            X_CASE(opCallVariable) : {
                PushVariable(Host, Slots, Size, FrameBase, *Step, Sp);
                const TXScriptVariable& Pushed = Slots[Sp];
                if (Pushed.kind != vkFunction) {
                    ReportNotCallable();
                    X_NEXT();
                }
                Callee = static_cast<TXScriptObjectFunction*>(Pushed.reference);
                Sp = SlotBelow(Sp, Size);
                if (!Callee) {
                    X_SYNC();
                    Fault("no function in that value");
                }
                CalleeFrameDepth = 0;
                goto Call;
            }
            X_CASE(opCallNative) : {
                X_SYNC();
                TXBuiltinRoutine Routine = BuiltinRoutine(uint32_t(Step->Value));
                if (!Routine) Fault("no built-in under that handle");
                X_SYNC_DEPTH();
                Routine(Host);
                X_RELOAD();
                X_NEXT();
            }
            X_CASE(opTest) : if (TXTestRoutine Routine = TestRoutine()) {
                X_SYNC();
                X_SYNC_DEPTH();
                Routine(Step->Value, Host.Owner);
                X_RELOAD();
            }
            X_NEXT();
            X_CASE(Unknown) : ReportUnknownByte(Step->Operation, Step->Value);
            Diagnose("unknown instruction", *Prepared->Function, Step->Value);
            goto EndWithEmpty;

        Call : {
            X_SPEND();
            // The callee's steps, checked once in this Execute; empty code never counts as checked.
            TXPreparedCode* CalleePrepared = Callee->ExecutionCache.Current.load(std::memory_order_acquire);
            if (!CalleePrepared || CalleePrepared->CheckedIn.load(std::memory_order_relaxed) != Number)
                [[unlikely]] {
                X_SYNC();
                CalleePrepared = CheckCalleeCode(*Callee, Number);
                // Null from here on for code that cannot be run, told apart from empty code below.
                CalleeUnprepared = !CalleePrepared;
                if (CalleePrepared && CalleePrepared->Source.empty()) CalleePrepared = nullptr;
            }
            // The first argument becomes the frame's first slot, without arguments a new slot; the
            // arguments are as many as the compiler pushed, or else the callee's parameters.
            int32_t Parameters = Callee->ParamCount;
            int32_t Arguments = Step->Value >= 0 ? Step->Value : Parameters;
            uint32_t Below = uint32_t(Arguments) - 1; // the other arguments, beneath the top
            int32_t Base = Below <= uint32_t(Sp) ? Sp - int32_t(Below)
                           : Arguments == 0      ? PushSlot(Host, Sp, Size)
                                                 : Host.SlotAt(int64_t(Sp) - (int64_t(Arguments) - 1));
            // The frame's variables and the slot above them must fit (Size - Base > 0).
            int32_t Variables = Callee->VarCount;
            if (uint32_t(Variables) >= uint32_t(Size - Base)) [[unlikely]] {
                if (Variables >= 0) { // the callee ends at once, the empty string in the arguments' place
                    Sp = Base;
                    SetEmptyValue(Slots[Sp]);
                    X_SYNC();
                    ReportFault();
                    Diagnose(StackOverflowKind, *Prepared->Function, StepOffset(Prepared, Step));
                    X_NEXT();
                }
            } else {
                // Parameters without an argument start empty, and so do the other variables:
                // the slots hold what the caller left there.
                int32_t Given = std::min(Arguments, Parameters);
                if (Given < Variables)
                    for (int32_t Missing = std::max(0, Given); Missing < Variables; Missing++)
                        SetEmptyValue(Slots[Base + Missing]);
            }
            // The frame first, so that a failure from here on ends the callee, not the caller.
            Host.OpenCallFrame(Base, CalleeFrameDepth, FrameBase, CombinedSize, Prepared, Step->NextStep);
            FrameBase = Base;
            Sp = Variables >= 0 ? Base + Variables : Host.SlotAt(int64_t(Base) + Variables);
            if (!CalleePrepared || Host.FrameCount > FrameLimit) [[unlikely]] {
                ReportFault();
                Diagnose(!CalleePrepared && CalleeUnprepared ? "code that cannot be run"
                         : Host.FrameCount > FrameLimit      ? "call depth limit"
                                                             : "empty code",
                         *Prepared->Function, StepOffset(Prepared, Step));
                goto EndWithEmpty;
            }
            Prepared = CalleePrepared;
            X_CHECK_FRAME();
            X_GO(Prepared->Steps.data());
        }

            X_CASE(End) : X_CASE(opReturn) : EndWithTop : {
                int32_t From = Sp;
                X_END(SlotBelow(From, Size), CopyValue(To, Slots[From]));
            }
            X_CASE(opReturnNil) : X_END(Sp, SetTextValue(To, NilText()));
        EndWithEmpty:
            X_END(Sp, SetEmptyValue(To));
#if !XSCRIPT_COMPUTED_GOTO
        }
#endif
    } catch (...) {
        X_SYNC_DEPTH(); // and the budget
        Current = Prepared->Function;
        CurrentPrepared = Prepared;
        FaultOffset = StepOffset(Prepared, Step);
        FaultStepKind = Step->Kind;
        throw;
    }
#undef X_GO
#undef X_NEXT
#undef X_SYNC
#undef X_SYNC_DEPTH
#undef X_RELOAD
#undef X_NAME
#undef X_SPEND
#undef X_CHECK_FRAME
#undef X_SPEND_AT_JUMP
#undef X_END
#undef X_OPERATION
#undef X_COMBINED
#undef X_ARITHMETIC_STORE
#undef X_ARITHMETIC_RETURN
#undef X_COMBINED_ARITHMETIC
#undef X_DISPATCH
#undef X_CASE
}

} // namespace xscriptinterpreter

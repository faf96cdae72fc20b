#include "xscriptinterpreter.h"

#include <atomic>

namespace {

std::atomic<TXPropertyFinder> PropertyFinder{nullptr};
std::atomic<TXTestRoutine> TestRoutineSet{nullptr};

} // namespace

void SetPropertyFinder(TXPropertyFinder Finder) {
    PropertyFinder.store(Finder, std::memory_order_release);
}

bool FindObjectProperty(TXObject* Object, std::string_view Name, uint8_t& Kind, void*& Data) {
    TXPropertyFinder Finder = PropertyFinder.load(std::memory_order_acquire);
    return Object && Finder && Finder(Object, Name, Kind, Data);
}

void SetTestRoutine(TXTestRoutine Routine) {
    TestRoutineSet.store(Routine, std::memory_order_release);
}

TXTestRoutine TestRoutine() {
    return TestRoutineSet.load(std::memory_order_acquire);
}

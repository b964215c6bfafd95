// Hook lists: numbered lists of prioritised callbacks, the runtime's extension mechanism.
#pragma once

#include "runtime/core/object.h"

namespace kiln {

// A hook function gets the list's id, the data so far and its own context, and returns the data
// the next hook of the list sees.
using HookFunction = Ref<TObject> (*)(int hookId, const Ref<TObject>& data, const Ref<TObject>& context);

constexpr int kHookIdCount = 256;

class THook : public TObject {
 public:
  Ref<THook> succ;
  int priority = 0;
  // nullptr until set; calling it then raises TNullFunctionException.
  HookFunction func = nullptr;
  Ref<TObject> context;
};

// The next free hook id, 0 first; the 257th call throws the text "Too many hook ids".
int NewHookId();
// Links a hook after the last one whose priority is greater or equal: higher priorities run first,
// equal ones in the order of insertion.
void InsertHook(int hookId, HookFunction func, const Ref<TObject>& context, int priority);
// Runs the list in order, threading the data through every hook; returns the final data.
Ref<TObject> CallHooks(int hookId, const Ref<TObject>& data);
// Unlinks the first hook with this function and context; nothing when none matches.
void DeleteHook(int hookId, HookFunction func, const Ref<TObject>& context);

// Run-once initialiser of the hook lists.
void InitHookModule();

}  // namespace kiln

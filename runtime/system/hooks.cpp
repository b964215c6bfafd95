#include "runtime/system/hooks.h"

#include <array>

#include "runtime/core/exceptions.h"
#include "runtime/core/run_once.h"

namespace kiln {
namespace {

int hookIdCounter = -1;

std::array<Ref<THook>, kHookIdCount>& HookLists() {
  static std::array<Ref<THook>, kHookIdCount> hookLists;
  return hookLists;
}

Ref<THook>& ListHead(int hookId) {
  if (hookId < 0 || hookId >= kHookIdCount) RaiseArrayBounds();
  return HookLists()[static_cast<size_t>(hookId)];
}

}  // namespace

int NewHookId() {
  if (hookIdCounter + 1 >= kHookIdCount) RaiseText("Too many hook ids");
  return ++hookIdCounter;
}

void InsertHook(int hookId, HookFunction func, const Ref<TObject>& context, int priority) {
  Ref<THook> hook = MakeRef<THook>();
  hook->priority = priority;
  hook->func = func;
  hook->context = context;
  Ref<THook>& head = ListHead(hookId);
  if (!head || head->priority < priority) {
    hook->succ = head;
    head = hook;
    return;
  }
  Ref<THook> after = head;
  while (after->succ && after->succ->priority >= priority) after = after->succ;
  hook->succ = after->succ;
  after->succ = hook;
}

Ref<TObject> CallHooks(int hookId, const Ref<TObject>& data) {
  Ref<TObject> result = data;
  // Holding the current entry keeps it and the rest of the list alive even when a hook unlinks it.
  for (Ref<THook> hook = ListHead(hookId); hook; hook = hook->succ) {
    if (hook->func == nullptr) RaiseNullFunction();
    result = hook->func(hookId, result, hook->context);
  }
  return result;
}

void DeleteHook(int hookId, HookFunction func, const Ref<TObject>& context) {
  Ref<THook>& head = ListHead(hookId);
  if (!head) return;
  if (head->func == func && head->context == context) {
    head = Ref<THook>(head->succ);
    return;
  }
  for (Ref<THook> prev = head; prev->succ; prev = prev->succ) {
    if (prev->succ->func == func && prev->succ->context == context) {
      prev->succ = Ref<THook>(prev->succ->succ);
      return;
    }
  }
}

void InitHookModule() {
  RunOnce([] {
    HookLists();
  });
}

}  // namespace kiln

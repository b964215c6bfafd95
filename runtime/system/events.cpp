#include "runtime/system/events.h"

#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"
#include "runtime/system/hooks.h"

namespace kiln {
namespace {

Text& EventNameText() {
  static Text eventNameText("}");
  return eventNameText;
}

uint32_t nextUserEventId = 0x80000000u;
int eventHookId = -1;

// Registered in this order by the initialiser.
constexpr struct {
  int32_t id;
  const char* name;
} kEventNames[] = {
    {257, "AppSuspend"},      {258, "AppResume"},        {259, "AppTerminate"},   {260, "AppOpenFile"},
    {261, "AppIdle"},         {513, "KeyDown"},          {514, "KeyUp"},          {515, "KeyChar"},
    {516, "KeyRepeat"},       {1025, "MouseDown"},       {1026, "MouseUp"},       {1027, "MouseMove"},
    {1028, "MouseWheel"},     {1029, "MouseEnter"},      {1030, "MouseLeave"},    {2049, "TimerTick"},
    {4097, "HotkeyHit"},      {8193, "GadgetAction"},    {8194, "GadgetPaint"},   {8195, "GadgetSelect"},
    {8196, "GadgetMenu"},     {8197, "GadgetOpen"},      {8198, "GadgetClose"},   {8199, "GadgetDone"},
    {8200, "GadgetLostFocus"}, {8201, "GadgetShape"},    {16385, "WindowMove"},   {16386, "WindowSize"},
    {16387, "WindowClose"},   {16388, "WindowActivate"}, {16389, "WindowAccept"}, {32769, "MenuAction"},
    {65537, "StreamEof"},     {65538, "StreamAvail"},    {131073, "ProcessExit"},
};

}  // namespace

Ref<TEvent> TEvent::Create(int32_t id, const Ref<TObject>& source, int32_t data, int32_t mods, int32_t x,
                           int32_t y, const Ref<TObject>& extra) {
  Ref<TEvent> event = MakeRef<TEvent>();
  event->id = id;
  event->source = source;
  event->data = data;
  event->mods = mods;
  event->x = x;
  event->y = y;
  event->extra = extra;
  return event;
}

int32_t TEvent::AllocUserId() {
  ++nextUserEventId;
  return static_cast<int32_t>(nextUserEventId);
}

void TEvent::RegisterId(int32_t id, const Text& name) {
  EventNameText() += Text::FromInt(id) + "{" + name + "}";
}

Text TEvent::DescriptionForId(int32_t id) {
  const Text& names = EventNameText();
  Text key = Text("}") + Text::FromInt(id) + "{";
  int at = names.Find(key);
  if (at < 0) return Text();
  int start = at + key.Length();
  int end = names.Find("}", start);
  if (end < 0) return Text();
  return names.Slice(start, end);
}

int TEvent::Emit() {
  CallHooks(EventHookId(), Ref<TObject>::Share(this));
  return 0;
}

Text TEvent::ToString() const {
  Text description = DescriptionForId(id);
  if (description.IsEmpty()) {
    if (static_cast<uint32_t>(id) & 0x80000000u) {
      description = Text("UserEvent") + Text::FromInt(static_cast<int64_t>(static_cast<uint32_t>(id) - 0x80000000u));
    } else {
      description = Text("Unknown Event, id=") + Text::FromInt(id);
    }
  }
  Text extraText;
  if (auto text = RefCast<TTextObject>(extra)) extraText = text->Value();
  return description + ": data=" + Text::FromInt(data) + ", mods=" + Text::FromInt(mods) +
         ", x=" + Text::FromInt(x) + ", y=" + Text::FromInt(y) + ", extra=\"" + extraText + "\"";
}

int EventHookId() {
  InitEventModule();
  return eventHookId;
}

Ref<TEvent> MakeEvent(int32_t id, const Ref<TObject>& source, int32_t data, int32_t mods, int32_t x, int32_t y,
                      const Ref<TObject>& extra) {
  return TEvent::Create(id, source, data, mods, x, y, extra);
}

void SendEvent(const Ref<TEvent>& event) {
  if (event) event->Emit();
}

void SendSystemEvent(int32_t id, const Ref<TObject>& source, int32_t data, int32_t mods, int32_t x, int32_t y,
                     const Ref<TObject>& extra) {
  SendEvent(MakeEvent(id, source, data, mods, x, y, extra));
}

int32_t NewUserEventId(const Text& name) {
  int32_t id = TEvent::AllocUserId();
  if (!name.IsEmpty()) TEvent::RegisterId(id, name);
  return id;
}

void InitEventModule() {
  RunOnce([] {
    InitCoreModule();
    InitHookModule();
    for (const auto& entry : kEventNames) TEvent::RegisterId(entry.id, entry.name);
    eventHookId = NewHookId();
  });
}

}  // namespace kiln

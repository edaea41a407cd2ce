#pragma once
// The Carbon Event Manager's hot-key calls (HIToolbox/CarbonEvents.h, Events.h,
// MacErrors.h), declarations only.
#include <CoreFoundation/CoreFoundation.h>

extern "C" {

typedef int32_t OSStatus;
typedef UInt32 OSType;
typedef UInt32 OptionBits;
typedef unsigned long ItemCount;
typedef struct OpaqueEventHandlerCallRef* EventHandlerCallRef;
typedef struct OpaqueEventRef* EventRef;
typedef struct OpaqueEventHandlerRef* EventHandlerRef;
typedef struct OpaqueEventHotKeyRef* EventHotKeyRef;
typedef struct OpaqueEventTargetRef* EventTargetRef;
typedef OSStatus (*EventHandlerProcPtr)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                        void* inUserData);
typedef EventHandlerProcPtr EventHandlerUPP;

struct EventTypeSpec {
    OSType eventClass;
    UInt32 eventKind;
};
typedef struct EventTypeSpec EventTypeSpec;

struct EventHotKeyID {
    OSType signature;
    UInt32 id;
};
typedef struct EventHotKeyID EventHotKeyID;

enum { noErr = 0, eventNotHandledErr = -9874 };
enum { kEventClassKeyboard = 0x6B657962 /* 'keyb' */ };
enum { kEventHotKeyPressed = 5 };
enum { cmdKey = 0x0100, optionKey = 0x0800, controlKey = 0x1000 };

EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr userRoutine);
EventTargetRef GetApplicationEventTarget(void);
OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler,
                             ItemCount inNumTypes, const EventTypeSpec* inList, void* inUserData,
                             EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef);
OSStatus RegisterEventHotKey(UInt32 inHotKeyCode, UInt32 inHotKeyModifiers,
                             EventHotKeyID inHotKeyID, EventTargetRef inTarget,
                             OptionBits inOptions, EventHotKeyRef* outRef);
OSStatus UnregisterEventHotKey(EventHotKeyRef inHotKey);

}

// The engine library's binary messenger: plain C, usable from C and C++.
//
// Messages and their callbacks run on the platform thread. Replies and messages
// may be sent from any thread: take the lock, check that the engine is still
// there, send, unlock. What the engine library guarantees in return:
// - the lock is recursive, and the engine does not hold it while it calls a
//   message callback (a long callback must not hold up other threads' sends);
// - the engine marks the messenger unavailable under the lock when it shuts
//   down, and answers every reply still pending with no bytes;
// - each reference taken with AddRef keeps the messenger object (not the
//   engine) alive until its Release, so a late sender can still lock and check.
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "flutter/flutter_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;

// Opaque; a message that carries one must be answered exactly once.
typedef struct _FlutterPlatformMessageResponseHandle FlutterDesktopMessageResponseHandle;

typedef struct {
  size_t struct_size;  // sizeof(FlutterDesktopMessage)
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// The answer to a message sent with FlutterDesktopMessengerSendWithReply. Called
// exactly once; with no bytes when the receiver had no handler or the engine
// shut down first.
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef messenger,
                                              const FlutterDesktopMessage* message,
                                              void* user_data);

FLUTTER_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                const char* channel,
                                                const uint8_t* message,
                                                const size_t message_size);

FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                                         const char* channel,
                                                         const uint8_t* message,
                                                         const size_t message_size,
                                                         const FlutterDesktopBinaryReply reply,
                                                         void* user_data);

// No bytes means "no handler / not implemented".
FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data,
    size_t data_length);

// Replaces the channel's callback; a null callback removes it.
FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                       const char* channel,
                                                       FlutterDesktopMessageCallback callback,
                                                       void* user_data);

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);

FLUTTER_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);

// False once the engine that owned the messenger is gone.
FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// Returns the messenger itself.
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);

FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

#ifdef __cplusplus
}  // extern "C"
#endif

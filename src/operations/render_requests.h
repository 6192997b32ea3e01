// render_requests.h — the edits that ask for a render: the Render button,
// the Render command and the lock that protects events from re-rendering.
//
// Index
//   RequestRenderEdit   one undo step, then a render of the given kind on the next frame
//   UnlockAllEvents     every event unlocked, one undo step
//
// The render itself runs as the frame's job (it replaces layers and brings
// the voices along); the undo step is taken here, before it, so that one
// Undo brings back the layers and the locks the render replaced. Interface
// thread; refused (false, nothing changed) while the document may not change.
#pragma once

#include "operations/document_context.h"

// Kind 1 renders what is unlocked, 2 every event anew (unlocking them).
bool RequestRenderEdit(const DocumentContext& ctx, int kind);

// False when no event is locked or when refused.
bool UnlockAllEvents(const DocumentContext& ctx);

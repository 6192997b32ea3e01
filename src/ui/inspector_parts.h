// inspector_parts.h — the parts of the events tab's inspector beside the
// one-event rows: the batch inspector, the Bed cards and the recipe pop-up.
//
// Index
//   DrawBatchInspector     the controls that act on every selected event
//   DrawBedCards           one card per layer, its menu, drag reorder, the add hint
//   DrawRecipePopup        choose, save, or (edit mode) delete recipes
//
// UI thread, inside a frame.
#pragma once

struct DocumentContext;

void DrawBatchInspector(const DocumentContext& ctx, float width);
// The cards' list is at most `maxHeight` tall (it scrolls), and at least one card.
void DrawBedCards(const DocumentContext& ctx, int event, float width, float maxHeight);
void DrawRecipePopup(const DocumentContext& ctx, int event);

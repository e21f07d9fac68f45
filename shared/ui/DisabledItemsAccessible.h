#pragma once

// Makes every disabled Qt Quick item report itself disabled (not enabled, not sensitive) to
// assistive technologies, and say so when it changes; Qt's own items report only what their
// Accessible properties say, so a control behind a dialog, or one that cannot act yet, would read
// as usable. Looks are untouched. Every item and Qt Quick window also gives its place in the
// screen's own pixels, whatever the scale factor. Safe to call more than once; call before the
// windows are read.
namespace accessibleItems {
void reportDisabled();
} // namespace accessibleItems

#pragma once

namespace quorvel {

// Qt 6.4 reports no accessible name for a text field while it masks its text (the field is
// flagged as a password edit, and the flag hides Accessible.name), so a screen reader hears
// an unnamed password box. Installs an accessibility factory that gives such a field the name
// in its `maskedAccessibleName` property, leaving everything else (role, masked text,
// actions) to Qt Quick's own interface. Call before the first window is made.
void installMaskedFieldAccessibility();

} // namespace quorvel

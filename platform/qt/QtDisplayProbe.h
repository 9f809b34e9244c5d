// Whether Qt can open a display here. Qt ends the process when its platform plugin cannot start
// (no X server behind DISPLAY, Wayland without a compositor, ...), so the question is asked in a
// short-lived child first.
#pragma once

namespace torvoqt {

bool DisplayUsable();

}  // namespace torvoqt

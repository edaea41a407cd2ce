#pragma once

namespace vesperon::gui {

// "--render-panel PATH [preview]": the session panel without an owner, in its idle
// state, or with any further argument in its preview state (42,420 of 86,400 s
// left), written as a 680 x 1040 pixel PNG. Needs a QApplication.
int renderPanel(int argc, const char* const* argv);

// "--render-about [PATH]": the About view drawn and encoded as an 800 x 760 pixel
// PNG, written only when exactly one path is given; otherwise nothing is written and
// the status is 1.
int renderAbout(int argc, const char* const* argv);

} // namespace vesperon::gui

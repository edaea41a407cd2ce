#pragma once

// The one entry point of the display module (libvesperon-gui.so), which holds
// everything that needs Qt. The executable loads the module with dlopen only for the
// roles that draw, so that the root roles and the hook endpoint never map Qt. Only C
// types cross this boundary; the module catches everything on its side.

extern "C" {

enum {
    // Raised whenever the layout of VesperonGuiRequest or the meaning of a role changes.
    VESPERON_GUI_ABI_VERSION = 2
};

enum VesperonGuiRole {
    VESPERON_GUI_RENDER_PANEL = 1, // argv: exe --render-panel PATH [preview]
    VESPERON_GUI_RENDER_ABOUT = 2, // argv: exe --render-about [PATH...]
    VESPERON_GUI_APPLICATION = 3   // the menu-bar application
};

struct VesperonGuiRequest {
    int abiVersion; // VESPERON_GUI_ABI_VERSION of the caller
    int role;       // a VesperonGuiRole
    int argc;
    const char* const* argv; // the process arguments, index 0 the executable
    int instanceSocket;      // application: the claimed instance's listening socket, or -1
};

// Runs the role and returns the process exit status. Never throws.
using VesperonGuiMain = int (*)(const struct VesperonGuiRequest* request);
int vesperon_gui_main(const struct VesperonGuiRequest* request);

#define VESPERON_GUI_MAIN_SYMBOL "vesperon_gui_main"
}

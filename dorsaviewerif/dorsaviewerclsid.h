// The viewer control's class identifier, in the two forms its users need:
// the dialog template names the control by the braced text, the wrapper and
// the stand-in control use the numeric form. Plain macros, so that the
// resource compiler can read this file too.
#pragma once

#define DORSA_VIEWER_CLSID_TEXT "{8080A8D7-4EBB-4860-BAD4-4F5D51F54A2B}"
#define DORSA_VIEWER_CLSID_INIT \
    { 0x8080A8D7, 0x4EBB, 0x4860, { 0xBA, 0xD4, 0x4F, 0x5D, 0x51, 0xF5, 0x4A, 0x2B } }

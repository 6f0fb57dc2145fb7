// The launcher's one way to show a message box. Every box of the run (the
// free-space message, the unusable-path message, the failure report and
// the splash's close question) goes through ShowMessage, so that a run
// nobody can see never waits for a click.
#pragma once

#include <string>

#include "platform/win32.h"

namespace kv {

// What ShowMessage answers: IDOK for a message, IDYES or IDNO for a
// question (MB_YESNO), as MessageBox does.
//
// Shows `text` in a box without owner under `caption` with `style`, and
// returns the user's answer. Where the process's window station is not
// visible to a user (a service, a run as SYSTEM by a software-distribution
// tool), shows no box: `text` goes to the debugger output
// (OutputDebugStringW) prefixed by the caption, and the answer is the one
// that ends the waiting: IDOK for a message, IDYES for a question (the
// close question's Yes cancels the run).
int ShowMessage(const std::wstring& text, const std::wstring& caption, UINT style);

// ShowMessage for Windows-1252 texts of the message tables and ANSI paths:
// both converted from the ANSI code page.
int ShowMessage(const char* text, const char* caption, UINT style);

// True when the process's window station is visible to a user
// (GetUserObjectInformation UOI_FLAGS has WSF_VISIBLE). A station whose
// flags cannot be read counts as visible: a box that nobody answers is
// better than a question answered for a user who is there.
bool WindowStationVisible();

// Replaces the visibility query (null: the system's). Wine's window station
// is always visible, so the invisible one is tested through this.
void SetWindowStationQuery(bool (*query)());

}  // namespace kv

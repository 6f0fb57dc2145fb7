// The one place that includes <windows.h>. Every Win32 source includes this
// header instead, so the whole program sees the same macros: the ANSI
// character set, no min/max macros, and the Vista declarations (calls that
// older systems lack are looked up at run time).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifdef UNICODE
#undef UNICODE
#endif
#ifdef _UNICODE
#undef _UNICODE
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#ifndef WINVER
#define WINVER 0x0600
#endif

#include <windows.h>
#include <mmsystem.h>
#include <shellapi.h>
#include <sddl.h>

// <windows.h> keeps a macro of this name from 16-bit Windows; the launcher
// has a function of its own by that name.
#ifdef GetFreeSpace
#undef GetFreeSpace
#endif

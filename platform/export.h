// Marks the classes and functions that the launcher executable exports by
// name, so that other programs can bind to them. Host builds export nothing.
#pragma once

#if defined(_WIN32)
#define KV_EXPORT __declspec(dllexport)
#else
#define KV_EXPORT
#endif

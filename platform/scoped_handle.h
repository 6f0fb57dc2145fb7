// Owners for Win32 handles: each kind of handle has one owner type that knows
// its invalid value and its release call. Owners are move-only.
#pragma once

#include "platform/win32.h"

namespace kv {

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() : handle_(Traits::Invalid()) {}
  explicit ScopedHandle(Handle h) : handle_(h) {}
  ~ScopedHandle() { Reset(); }

  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  bool IsValid() const { return handle_ != Traits::Invalid(); }
  Handle Get() const { return handle_; }

  // Gives up ownership without releasing; returns the handle.
  Handle Release() {
    Handle h = handle_;
    handle_ = Traits::Invalid();
    return h;
  }

  // Releases the held handle, if any, and takes ownership of `h`.
  void Reset(Handle h = Traits::Invalid()) {
    if (IsValid()) Traits::Close(handle_);
    handle_ = h;
  }

 private:
  Handle handle_;
};

// Kernel objects returned as null on failure (processes, threads, events).
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

// File handles, which CreateFileA returns as INVALID_HANDLE_VALUE on failure.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::FindClose(h); }
};

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};

struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::GlobalFree(h); }
};

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::LocalFree(h); }
};

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};

// Views of a file mapping (MapViewOfFile), null on failure.
struct MappedViewTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::UnmapViewOfFile(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;
using ScopedGdiObject = ScopedHandle<GdiObjectTraits>;
using ScopedGlobal = ScopedHandle<GlobalMemoryTraits>;
using ScopedLocal = ScopedHandle<LocalMemoryTraits>;
using ScopedModule = ScopedHandle<ModuleTraits>;
using ScopedMappedView = ScopedHandle<MappedViewTraits>;

}  // namespace kv

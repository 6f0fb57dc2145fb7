// ZkStreamException, the one exception type of the stream layer, and its
// error codes.
//
// The layer raises it in two forms, and a handler must expect both:
// - pointer form (the file stream): the exception is allocated on the heap
//   and the pointer is thrown; the handler catches ZkStreamException*, owns
//   the object and deletes it when done;
// - value form (the inflate classes): the object itself is thrown, always
//   with the text "Zlib-Fehler"; the handler catches it by reference.
#pragma once

// Error codes. Never renumber; 5 is not used.
enum ZkStreamErrorCode : int {
  ZK_ERR_READ = 1,         // file: the platform read call failed
  ZK_ERR_WRITE = 2,        // file: the platform write call failed
  ZK_ERR_SHORT_WRITE = 3,  // file: fewer bytes were written than asked for
  ZK_ERR_SEEK = 4,         // file: positioning failed, or the length query
                           // could not restore the position
  ZK_ERR_UNLOCK = 6,       // file: the platform unlock call failed
  ZK_ERR_OPEN = 7,         // file: did not open; the text is the path
  ZK_ERR_CLOSE = 8,        // file: the platform close call failed
  ZK_ERR_ZLIB_INIT = -5,   // inflate: zlib refused to initialise the stream
  ZK_ERR_ZLIB_END = -9,    // inflate: zlib reported an error on release
  ZK_ERR_ZLIB_MEMORY = -10,  // inflate: the input buffer was not allocated
  ZK_ERR_ZLIB_STATE = -11,   // inflate: called in a state that forbids it
};

// The text of every exception raised by the inflate classes.
constexpr const char ZK_ZLIB_ERROR_TEXT[] = "Zlib-Fehler";

class ZkStreamException {
 public:
  // An exception without text (GetText returns null).
  explicit ZkStreamException(int code);
  // An exception that owns a copy of `text` (null gives no text).
  ZkStreamException(int code, const char* text);
  // The copy owns its own copy of the text.
  ZkStreamException(const ZkStreamException& other);
  ZkStreamException& operator=(const ZkStreamException& other);
  virtual ~ZkStreamException();

  int GetCode() const { return code_; }
  // The owned text, or null when the error carries none.
  const char* GetText() const { return text_; }
  // The platform's error code of the failed call, or 0 when none was
  // recorded. Taken where the call failed: by the time a handler runs, the
  // platform's last-error value may have been overwritten.
  unsigned long GetSystemError() const { return systemError_; }

  // Pointer form: throws `new ZkStreamException(code, text)` carrying
  // `systemError`.
  [[noreturn]] static void RaiseOnHeap(int code, const char* text = nullptr,
                                       unsigned long systemError = 0);
  // Value form: throws ZkStreamException(code, text).
  [[noreturn]] static void Raise(int code, const char* text = nullptr);

 private:
  int code_;
  char* text_;
  unsigned long systemError_ = 0;
};

#include "stream/stream_exception.h"

#include <cstring>

namespace {

char* CopyText(const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t size = std::strlen(text) + 1;
  char* copy = new char[size];
  std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

ZkStreamException::ZkStreamException(int code) : code_(code), text_(nullptr) {}

ZkStreamException::ZkStreamException(int code, const char* text)
    : code_(code), text_(CopyText(text)) {}

ZkStreamException::ZkStreamException(const ZkStreamException& other)
    : code_(other.code_), text_(CopyText(other.text_)), systemError_(other.systemError_) {}

ZkStreamException& ZkStreamException::operator=(
    const ZkStreamException& other) {
  if (this != &other) {
    char* text = CopyText(other.text_);  // may throw; leave *this intact
    delete[] text_;
    text_ = text;
    code_ = other.code_;
    systemError_ = other.systemError_;
  }
  return *this;
}

ZkStreamException::~ZkStreamException() { delete[] text_; }

void ZkStreamException::RaiseOnHeap(int code, const char* text, unsigned long systemError) {
  auto* error = new ZkStreamException(code, text);
  error->systemError_ = systemError;
  throw error;
}

void ZkStreamException::Raise(int code, const char* text) {
  throw ZkStreamException(code, text);
}

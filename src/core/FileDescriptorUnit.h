#pragma once

#include <unistd.h>
#include <utility>

namespace ornavel {

// Owns one file descriptor and closes it when it goes.
class TFileDescriptor {
public:
  TFileDescriptor() = default;
  explicit TFileDescriptor(int descriptor) : FDescriptor(descriptor) {}
  ~TFileDescriptor() { Reset(); }
  TFileDescriptor(TFileDescriptor&& other) noexcept : FDescriptor(other.Release()) {}
  TFileDescriptor& operator=(TFileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      FDescriptor = other.Release();
    }
    return *this;
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;

  int Get() const { return FDescriptor; }
  bool Valid() const { return FDescriptor >= 0; }
  int Release() { return std::exchange(FDescriptor, -1); }
  // Closes now and answers close's result, for callers that must know a write reached the file.
  int Close() {
    const int result = Valid() ? ::close(FDescriptor) : 0;
    FDescriptor = -1;
    return result;
  }
  void Reset() { Close(); }

private:
  int FDescriptor = -1;
};

} // namespace ornavel

#pragma once

#include "core/ThreadUnit.h"
#include "core/UserInterfaceThreadUnit.h"

#include <cctype>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ornavel::test {

// Long enough never to be reached by a working program; it only keeps a broken one from hanging.
inline constexpr auto Patience = std::chrono::seconds(20);

// Serves the user-interface loop until done() holds; answers false if it never did. done() is
// looked at every millisecond too, for conditions that other threads change without a hand-off.
inline bool ServeUntil(TEventLoop& loop, const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + Patience;
  while (std::chrono::steady_clock::now() < giveUp) {
    if (loop.ServeUntil(done, std::chrono::steady_clock::now() + std::chrono::milliseconds(1)))
      return true;
  }
  return done();
}

// A test name made of a case's text: its letters and digits, numbered to stay unique.
inline std::string CaseName(std::size_t index, std::string_view text) {
  std::string name = "Case" + std::to_string(index) + "_";
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      name += c;
  }
  return name;
}

// A source of kind T whose body does nothing; made suspended, it serves as an item's source.
template <class T>
class TIdleSource final : public T {
protected:
  void Execute() override {}
};

template <class T>
std::shared_ptr<T> MakeSource() {
  return TThread::Create<TIdleSource<T>>(true);
}

// A thread running a given body.
class TLambdaThread final : public TThread {
public:
  explicit TLambdaThread(std::function<void(TLambdaThread&)> body) : FBody(std::move(body)) {}

protected:
  void Execute() override { FBody(*this); }

private:
  std::function<void(TLambdaThread&)> FBody;
};

inline std::shared_ptr<TLambdaThread> MakeThread(std::function<void(TLambdaThread&)> body,
                                                 bool suspended = true) {
  return TThread::Create<TLambdaThread>(suspended, std::move(body));
}

// A body that runs until it is told to terminate.
inline void RunUntilTerminated(TLambdaThread& self) {
  while (!self.Terminated())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace ornavel::test

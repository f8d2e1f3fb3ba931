#define PCRE2_CODE_UNIT_WIDTH 8
#include "PatternUnit.h"

#include "core/FormatUnit.h"

#include <algorithm>

#include <pcre2.h>

namespace ornavel {
namespace {

// A catastrophic pattern on a long line gives up within milliseconds instead of hanging the
// posting thread; these are far above what ordinary patterns on log lines need.
constexpr std::uint32_t JitMatchLimit = 10'000'000;
constexpr std::uint32_t InterpreterMatchLimit = 2'000'000;
constexpr std::uint32_t DepthLimit = 100'000;
constexpr std::size_t JitStackStart = 32 * 1024;
constexpr std::size_t JitStackMax = 1024 * 1024;

std::string EngineMessage(int code) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0)
    return Format("PCRE2 error %d", code);
  return reinterpret_cast<const char*>(buffer);
}

// What one thread needs to run searches: the results block, the limits and the JIT stack. Each
// thread has its own, so compiled patterns can be shared without locks.
class TMatchScratch {
public:
  TMatchScratch()
      : FData(pcre2_match_data_create(1, nullptr)), FJitContext(NewContext(JitMatchLimit)),
        FInterpreterContext(NewContext(InterpreterMatchLimit)),
        FJitStack(pcre2_jit_stack_create(JitStackStart, JitStackMax, nullptr)) {
    if (!FData || !FJitContext || !FInterpreterContext)
      throw std::bad_alloc();
    if (FJitStack)
      pcre2_jit_stack_assign(FJitContext.get(), nullptr, FJitStack.get());
  }

  pcre2_match_data* Data() const { return FData.get(); }
  pcre2_match_context* Context(bool jit) const {
    return jit ? FJitContext.get() : FInterpreterContext.get();
  }

  static const TMatchScratch& ForThisThread() {
    thread_local const TMatchScratch scratch;
    return scratch;
  }

private:
  struct TFree {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
    void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
    void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
  };

  static pcre2_match_context* NewContext(std::uint32_t matchLimit) {
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    if (context) {
      pcre2_set_match_limit(context, matchLimit);
      pcre2_set_depth_limit(context, DepthLimit);
    }
    return context;
  }

  std::unique_ptr<pcre2_match_data, TFree> FData;
  std::unique_ptr<pcre2_match_context, TFree> FJitContext;
  std::unique_ptr<pcre2_match_context, TFree> FInterpreterContext;
  std::unique_ptr<pcre2_jit_stack, TFree> FJitStack;
};

} // namespace

void TPatternCodeFree::operator()(pcre2_real_code_8* code) const {
  pcre2_code_free(code);
}

TPatternCode CompileRulePattern(std::string_view source, std::string* error) {
  const auto compile = [&](std::uint32_t options) {
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    TPatternCode code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(source.data()), source.size(),
                                    options, &errorCode, &errorOffset, nullptr));
    if (!code && error != nullptr)
      *error = Format("%s at offset %u", EngineMessage(errorCode), errorOffset);
    return code;
  };
  constexpr std::uint32_t Options = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY;
  TPatternCode code = compile(Options);
  // Log lines need not be UTF-8: where the pattern asks for UTF, invalid bytes simply do not
  // match, instead of failing the search. The option implies UTF, so only such patterns get it.
  std::uint32_t options = 0;
  if (code && pcre2_pattern_info(code.get(), PCRE2_INFO_ALLOPTIONS, &options) == 0 &&
      (options & PCRE2_UTF) != 0)
    code = compile(Options | PCRE2_MATCH_INVALID_UTF);
  return code;
}

TPattern::TPattern(std::string source)
    : FSource(std::move(source)), FRequired(RequiredTexts(FSource)) {
  // Plain text alone always compiles and never needs the engine: a long list of such rules costs
  // no compiled code.
  if (FRequired.size() == 1 && FRequired.front().Whole)
    return;
  FCode = CompileRulePattern(FSource, &FCompileError);
  if (!FCode)
    FRequired.clear();
}

TPattern::~TPattern() = default;

bool TPattern::JitCompiled() const {
  std::call_once(
      FJitOnce, [this] { FJitCompiled = pcre2_jit_compile(FCode.get(), PCRE2_JIT_COMPLETE) == 0; });
  return FJitCompiled;
}

bool TPattern::Search(std::string_view text) const {
  if (!Valid())
    throw EPatternError(FCompileError);
  if (!FRequired.empty() && std::ranges::none_of(FRequired, [&](const auto& each) {
        return ContainsRequired(text, each);
      }))
    return false;
  return SearchHolding(text);
}

bool TPattern::SearchHolding(std::string_view text) const {
  if (!Valid())
    throw EPatternError(FCompileError);
  if (!FCode)
    return true; // plain text alone, which text holds
  const auto& scratch = TMatchScratch::ForThisThread();
  const auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
  const bool jit = JitCompiled();
  pcre2_match_context* context = scratch.Context(jit);
  const int result =
      jit ? pcre2_jit_match(FCode.get(), subject, text.size(), 0, 0, scratch.Data(), context)
          : pcre2_match(FCode.get(), subject, text.size(), 0, 0, scratch.Data(), context);
  if (result >= 0)
    return true;
  if (result == PCRE2_ERROR_NOMATCH)
    return false;
  throw EPatternError(EngineMessage(result));
}

} // namespace ornavel

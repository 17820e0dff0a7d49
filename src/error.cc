#include <string>

#include "parse_logo_bin.hpp"

namespace parse_logo_bin {
namespace {

class RefusalCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "parse_logo_bin"; }

  std::string message(int value) const override {
    switch (static_cast<Refusal>(value)) {
      case Refusal::image_too_short:
        return "shorter than its " + std::to_string(LOGO_HEADER_SIZE) +
               "-byte header";
      case Refusal::not_a_regular_file:
        return "not a regular file";
      case Refusal::same_file:
        return "the same file as the other one given";
      case Refusal::temporary_file_name:
        return "named as the temporary file";
    }
    return "unknown refusal";
  }
};

const char* verb_of(Error::Step step) {
  switch (step) {
    case Error::Step::kOpenInput:
    case Error::Step::kOpenOutput:
      return "couldn't open";
    case Error::Step::kRead:
      return "couldn't read";
    case Error::Step::kWrite:
      return "couldn't write";
    case Error::Step::kReplace:
      return "couldn't replace";
    case Error::Step::kRemove:
      return "couldn't remove";
    case Error::Step::kCheck:
      return "refused";
  }
  return "failed on";
}

}  // namespace

const std::error_category& refusal_category() noexcept {
  static const RefusalCategory category;
  return category;
}

std::error_code make_error_code(Refusal refusal) noexcept {
  return {static_cast<int>(refusal), refusal_category()};
}

Error::Error(Step step, std::filesystem::path file, std::error_code code)
    : std::system_error(
          code, std::string(verb_of(step)) + " \"" + file.string() + "\""),
      step_(step),
      file_(std::move(file)) {}

}  // namespace parse_logo_bin

#include "cli/option_parser.h"

namespace kw_cli {

namespace {

bool fail(Problem* problem, Problem::Kind kind, int code, std::string spelled) {
  *problem = Problem{kind, code, std::move(spelled)};
  return false;
}

}  // namespace

OptionParser::OptionParser(std::vector<Option> options, Style style)
    : options_(std::move(options)), style_(style) {}

const Option* OptionParser::byName(const std::string& name) const {
  for (const Option& option : options_) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

const Option* OptionParser::byLetter(char letter) const {
  for (const Option& option : options_) {
    if (letter != '\0' && option.letter == letter) return &option;
  }
  return nullptr;
}

bool OptionParser::parse(const std::vector<std::string>& args, const Take& take,
                         std::vector<size_t>* operands, Problem* problem) const {
  *problem = Problem{};
  bool ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (ended || word.size() < 2 || word[0] != '-') {
      operands->push_back(i);
    } else if (word == "--") {
      ended = true;
    } else if (word[1] == '-') {
      if (!longOption(args, &i, take, problem)) return false;
    } else if (style_ == Style::Bundled || (word.size() == 2 && byLetter(word[1]) != nullptr)) {
      if (!shortOptions(args, &i, take, problem)) return false;
    } else {
      operands->push_back(i);
    }
  }
  return true;
}

bool OptionParser::parse(const std::vector<std::string>& args, const Take& take,
                         std::vector<std::string>* operands, Problem* problem) const {
  std::vector<size_t> places;
  const bool taken = parse(args, take, &places, problem);
  for (const size_t place : places) operands->push_back(args[place]);
  return taken;
}

bool OptionParser::longOption(const std::vector<std::string>& args, size_t* i, const Take& take,
                              Problem* problem) const {
  const std::string& word = args[*i];
  const size_t equals = word.find('=');
  const std::string name =
      word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
  const Option* option = byName(name);
  if (option == nullptr) return fail(problem, Problem::Kind::Unknown, 0, word);
  Found found{option->code, false, "", "--" + name, *i, 0};
  if (equals != std::string::npos) {
    if (option->value == Option::Value::None) {
      return fail(problem, Problem::Kind::UnexpectedValue, option->code, word);
    }
    found.hasValue = true;
    found.value = word.substr(equals + 1);
    found.offset = equals + 1;
  } else if (option->value == Option::Value::Required) {
    if (*i + 1 >= args.size()) {
      return fail(problem, Problem::Kind::MissingValue, option->code, found.spelled);
    }
    found.hasValue = true;
    found.word = ++*i;
    found.value = args[found.word];
  }
  if (!take(found)) return fail(problem, Problem::Kind::Refused, option->code, found.spelled);
  return true;
}

bool OptionParser::shortOptions(const std::vector<std::string>& args, size_t* i, const Take& take,
                                Problem* problem) const {
  const std::string& word = args[*i];
  for (size_t at = 1; at < word.size(); ++at) {
    const Option* option = byLetter(word[at]);
    const std::string spelled = std::string("-") + word[at];
    if (option == nullptr) return fail(problem, Problem::Kind::Unknown, 0, spelled);
    Found found{option->code, false, "", spelled, *i, 0};
    if (option->value != Option::Value::None) {
      // The rest of the word is the value, else the next word (an optional
      // value only from the rest of the word).
      if (at + 1 < word.size()) {
        found.hasValue = true;
        found.value = word.substr(at + 1);
        found.offset = at + 1;
      } else if (option->value == Option::Value::Required) {
        if (*i + 1 >= args.size()) {
          return fail(problem, Problem::Kind::MissingValue, option->code, spelled);
        }
        found.hasValue = true;
        found.word = ++*i;
        found.value = args[found.word];
      }
      if (!take(found)) return fail(problem, Problem::Kind::Refused, option->code, spelled);
      return true;
    }
    if (!take(found)) return fail(problem, Problem::Kind::Refused, option->code, spelled);
  }
  return true;
}

}  // namespace kw_cli
